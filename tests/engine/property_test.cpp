// Whole real airports against reference geometry derived from their own
// lit features: what the rewrite may change and what it must leave alone.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "engine/blocks.h"
#include "engine/rewrite.h"
#include "engine/taken.h"
#include "fixture.h"
#include "support/tmpdir.h"
#include "tools/geomkit/geomkit.h"

namespace {

struct Airport {
  std::string code;
  std::vector<std::string> rows;
};

std::vector<Airport> airports(const std::string& file) {
  std::vector<Airport> out;
  std::ifstream in(tl::testData(file), std::ios::binary);
  EXPECT_TRUE(orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
    out.push_back({code, rows});
    return true;
  }));
  return out;
}

orvel::SuppressScope scopeOf(const orveldb::AirportScope& a) {
  orvel::SuppressScope s;  // the pass's tolerances
  if (!a.lead.empty()) s.leads = &a.lead;
  if (!a.bars.empty()) s.bars = &a.bars;
  if (!a.bars.empty() && a.barx.size() == a.bars.size()) s.barx = &a.barx;
  if (!a.network.empty()) s.network = &a.network;
  return s;
}

}  // namespace

TEST(RealAirports, RewriteAgainstTheirOwnLightsTakesThemAllAndNothingElse) {
  int changedBlocks = 0, totalSplits = 0;
  for (const Airport& a : airports("lit-airports.dat")) {
    SCOPED_TRACE(a.code);
    const orveldb::AirportScope geo = geomkit::deriveBlock(a.rows);
    const orvel::SuppressScope s = scopeOf(geo);
    std::vector<std::string> out = a.rows;
    int splits = -1;
    const bool changed = orvel::splitBlockLights(out, s, splits);
    int pairs = 0;
    EXPECT_TRUE(tle::alignedRewrite(a.rows, out, pairs));
    EXPECT_EQ(pairs, splits);
    if (!changed) {
      EXPECT_EQ(out, a.rows);
    }
    changedBlocks += changed;
    totalSplits += splits;

    // Every lit stretch lies under its own geometry, so none is left lit, and
    // a second rewrite finds nothing more.
    const orveldb::AirportScope after = geomkit::deriveBlock(out);
    EXPECT_TRUE(after.bars.empty() && after.lead.empty() && after.network.empty());
    std::vector<std::string> again = out;
    int splits2 = 0;
    EXPECT_FALSE(orvel::splitBlockLights(again, s, splits2));

    for (const orveldb::TakenRun& r : orveldb::takenByPass(a.rows, s)) {
      EXPECT_TRUE(r.code == 101 || r.code == 103 || r.code == 104 || r.code == 105);
      ASSERT_GE(r.pts.size(), 2u);
      for (std::size_t i = 1; i < r.pts.size(); ++i)
        EXPECT_FALSE(std::fabs(r.pts[i].lat - r.pts[i - 1].lat) < 1e-9 &&
                     std::fabs(r.pts[i].lon - r.pts[i - 1].lon) < 1e-9);
    }
  }
  EXPECT_GE(changedBlocks, 3);  // LZIB, KROC, LOWI are lit
  EXPECT_GT(totalSplits, 0);
}

TEST(RealAirports, BlocksWithoutGeometryComeBackUnchanged) {
  const std::vector<Airport> all = airports("lit-airports.dat");
  ASSERT_EQ(all.size(), 4u);
  const orveldb::AirportScope kroc = geomkit::deriveBlock(all[1].rows);
  const orveldb::AirportScope none = geomkit::deriveBlock(all[3].rows);  // YSSY has no lit features
  EXPECT_TRUE(none.bars.empty() && none.lead.empty() && none.network.empty());
  for (const Airport& a : all) {
    for (const orveldb::AirportScope* g : {&none, &kroc}) {
      if (g == &kroc && a.code == "KROC") continue;
      std::vector<std::string> out = a.rows;
      int splits = -1;
      EXPECT_FALSE(orvel::splitBlockLights(out, scopeOf(*g), splits)) << a.code;
      EXPECT_EQ(splits, 0);
      EXPECT_EQ(out, a.rows);
      EXPECT_TRUE(orveldb::takenByPass(a.rows, scopeOf(*g)).empty());
    }
  }
}
