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
#include "support/tmpdir.h"
#include "tools/geomkit/geomkit.h"

namespace {

const char* kGarbage[] = {"nan", "-nan", "inf", "-inf", "1e309", "-1e309", "-", "+", ".", "0x1p3",
                          "101", "103", "104", "105", "101.0", "120", "111", "112", "113", "114",
                          "115", "116", "99", "1302", "icao_code", "\t", "   ", "9999999999999999999999",
                          "4.9e-324", "-0", "1e-400"};

std::string randomBytes(std::mt19937& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    char c = static_cast<char>(rng() % 256);
    if (c == '\n') c = ' ';
    s += c;
  }
  return s;
}

void mutate(std::vector<std::string>& rows, std::mt19937& rng) {
  if (rows.size() < 2) return;
  const std::size_t i = 1 + rng() % (rows.size() - 1);  // keep the header row
  std::vector<std::string> t = orvel::tok(rows[i]);
  switch (rng() % 10) {
    case 0:
    case 1:
      if (!t.empty()) {
        t[rng() % t.size()] = kGarbage[rng() % (sizeof kGarbage / sizeof *kGarbage)];
        rows[i] = tle::joined(t);
      }
      break;
    case 2:
      if (!t.empty()) {
        t.erase(t.begin() + rng() % t.size());
        rows[i] = tle::joined(t);
      }
      break;
    case 3: rows.erase(rows.begin() + i); break;
    case 4: rows.insert(rows.begin() + i, rows[i]); break;
    case 5: rows.insert(rows.begin() + i, rng() % 2 ? " \t \r" : ""); break;
    case 6: std::swap(rows[i], rows[1 + rng() % (rows.size() - 1)]); break;
    case 7: rows[i] = randomBytes(rng, rng() % 40); break;
    case 8:
      if (t.size() > 2) rows[i] = t[0] + " " + t[1];
      break;
    case 9:
      if (!t.empty()) {
        t[rng() % t.size()] = std::string(1 + rng() % 20000, "19.e-"[rng() % 5]);
        rows[i] = tle::joined(t);
      }
      break;
  }
}

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
    for (int m = 0; m < mutations; ++m) mutate(rows, rng);
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
