// Random mutations of real rows (fixed seed, bounded count): the engine must
// neither crash nor hang, and its invariants must hold on whatever comes in.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/blocks.h"
#include "engine/rewrite.h"
#include "engine/taken.h"
#include "fixture.h"
#include "fuzz_rows.h"
#include "support/tmpdir.h"
#include "tools/geomkit/geomkit.h"

namespace {

bool finitePts(const orveldb::TakenRun& r) {
  for (const orvel::Pt& p : r.pts)
    if (!std::isfinite(p.lat) || !std::isfinite(p.lon)) return false;
  return true;
}

}  // namespace

TEST(Fuzz, MutatedRealRowsKeepTheInvariants) {
  std::vector<std::string> lzib;
  {
    std::ifstream in(tl::testData("lzib.dat"), std::ios::binary);
    ASSERT_TRUE(orvel::visitBlocks(in, [&](const std::string&, const std::vector<std::string>& rows) {
      lzib = rows;
      return true;
    }));
  }
  ASSERT_GT(lzib.size(), 500u);
  std::mt19937 rng(20131001);
  orveldb::AirportScope odd;  // geometry with non-finite and degenerate points
  odd.bars = {{{NAN, 17.2}, {48.17, 17.2}}, {{48.17, INFINITY}, {48.17, 17.21}}, {{48.17, 17.2}}};
  odd.barx = {{{NAN, 1e308, -5, 0}}, {}, {}};
  odd.lead = {{{48.17, 17.2}, {48.17, 17.2}}, {}};
  // Enough network lines for the index's grid, one of them absurdly far off.
  for (int i = 0; i < 20; ++i) odd.network.push_back({{48.16 + i * 0.001, 17.19}, {48.16 + i * 0.001, 17.23}});
  odd.network.push_back({{1e300, 17.2}, {-1e300, 17.2}});
  odd.network.push_back({{NAN, 17.2}, {48.17, NAN}});
  int changed = 0;
  for (int iter = 0; iter < 300; ++iter) {
    const std::size_t from = 1 + rng() % (lzib.size() - 150);
    std::vector<std::string> rows{lzib[0]};
    rows.insert(rows.end(), lzib.begin() + from, lzib.begin() + from + 20 + rng() % 120);
    const orveldb::AirportScope geo = iter % 10 == 9 ? odd : geomkit::deriveBlock(rows);
    const int mutations = 1 + rng() % 6;
    for (int m = 0; m < mutations; ++m) tle::mutate(rows, rng);
    SCOPED_TRACE("iteration " + std::to_string(iter));

    orvel::SuppressScope s;
    if (!geo.lead.empty()) s.leads = &geo.lead;
    if (!geo.bars.empty()) s.bars = &geo.bars;
    if (geo.barx.size() == geo.bars.size() && s.bars) s.barx = &geo.barx;
    if (!geo.network.empty()) s.network = &geo.network;

    for (const orveldb::TakenRun& r : orveldb::takenByPass(rows, s)) {
      ASSERT_GE(r.pts.size(), 2u);
      ASSERT_TRUE(finitePts(r));
    }
    std::vector<std::string> out = rows;
    int splits = -1, pairs = 0;
    const bool ch = orvel::splitBlockLights(out, s, splits);
    if (!ch) {
      ASSERT_EQ(out, rows);
    }
    ASSERT_TRUE(tle::alignedRewrite(rows, out, pairs));
    ASSERT_EQ(pairs, splits);
    changed += ch;

    // The same rows as a file: the cut passes every byte through.
    std::string text;
    for (const std::string& r : rows) text += r + "\r\n";
    std::istringstream in(text);
    std::ostringstream os;
    bool fileChanged = true;
    ASSERT_TRUE(orvel::forEachBlock(in, os, nullptr, fileChanged));
    std::string want;
    for (const std::string& r : rows) want += r + "\n";
    ASSERT_EQ(os.str(), want);
  }
  EXPECT_GT(changed, 0);  // the mutations left enough real lights to rewrite
}
