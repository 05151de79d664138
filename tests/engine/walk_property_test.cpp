// The one-walk block rewrite and taken runs held against the two separate
// walks they replaced (walk_reference.cpp): the same rows, split counts and
// runs, bit for bit, on real airports and on the seeded fuzz inputs, and the
// same numbers read from every spelling strtod and strtol accept.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>

#include "engine/aptfile.h"
#include "engine/blocks.h"
#include "engine/geo.h"
#include "engine/lightwalk.h"
#include "engine/rewrite.h"
#include "engine/taken.h"
#include "fixture.h"
#include "fuzz_rows.h"
#include "support/tmpdir.h"
#include "tools/geomkit/geomkit.h"
#include "walk_reference.h"

namespace {

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult sameRuns(const std::vector<orveldb::TakenRun>& got,
                                    const std::vector<orveldb::TakenRun>& want) {
  if (got.size() != want.size())
    return ::testing::AssertionFailure() << got.size() << " runs, want " << want.size();
  for (std::size_t i = 0; i < got.size(); ++i) {
    const auto& g = got[i];
    const auto& w = want[i];
    if (g.code != w.code || g.networkOnly != w.networkOnly || g.pts.size() != w.pts.size())
      return ::testing::AssertionFailure() << "run " << i << " differs in code, flag or length";
    for (std::size_t k = 0; k < g.pts.size(); ++k)
      if (!sameBits(g.pts[k].lat, w.pts[k].lat) || !sameBits(g.pts[k].lon, w.pts[k].lon))
        return ::testing::AssertionFailure() << "run " << i << " point " << k << " differs";
  }
  return ::testing::AssertionSuccess();
}

struct Scopes {
  orveldb::AirportScope geo;
  std::vector<orvel::SuppressScope> list;
};

// The derived geometry with the pass's tolerances, with tight ones (so that
// curved segments are covered only in part), and as a network alone (so
// that runs come out network-only).
void scopesFor(const orveldb::AirportScope& geo, Scopes& out) {
  out.geo = geo;
  out.list.clear();
  const orveldb::AirportScope& g = out.geo;
  orvel::SuppressScope s;
  if (!g.lead.empty()) s.leads = &g.lead;
  if (!g.bars.empty()) s.bars = &g.bars;
  if (s.bars && g.barx.size() == g.bars.size()) s.barx = &g.barx;
  if (!g.network.empty()) s.network = &g.network;
  out.list.push_back(s);
  orvel::SuppressScope tight = s;
  tight.leadTol = 1.5;
  tight.networkTol = 0.7;
  tight.barAlong = 0.5;
  tight.barAcross = 1.0;
  out.list.push_back(tight);
  orvel::SuppressScope netOnly;
  netOnly.network = s.network ? s.network : s.leads;
  out.list.push_back(netOnly);
}

// Every public form of the new walk against the old one on one block.
void compareBlock(const std::vector<std::string>& rows, const orvel::SuppressScope& s) {
  std::vector<std::string> oldRows = rows, newRows = rows;
  int oldSplits = -1, newSplits = -1;
  const bool oldChanged = ref::splitBlockLights(oldRows, s, oldSplits);
  const bool newChanged = orvel::splitBlockLights(newRows, s, newSplits);
  ASSERT_EQ(newChanged, oldChanged);
  ASSERT_EQ(newSplits, oldSplits);
  ASSERT_EQ(newRows, oldRows);
  const std::vector<orveldb::TakenRun> oldRuns = ref::takenByPass(rows, s);
  ASSERT_TRUE(sameRuns(orveldb::takenByPass(rows, s), oldRuns));

  // Both at once, as the file rewrite asks for them, into text that
  // already holds an earlier block.
  orvel::LightWalk walk;
  std::vector<std::string_view> views(rows.begin(), rows.end());
  std::string text = "earlier\n";
  std::vector<orveldb::TakenRun> runs;
  int splits = -1;
  const bool changed = walk.walk(views, s, &text, nullptr, splits, &runs);
  ASSERT_EQ(changed, oldChanged);
  ASSERT_EQ(splits, oldSplits);
  ASSERT_TRUE(sameRuns(runs, oldRuns));
  std::string want = "earlier\n";
  if (changed)
    for (const std::string& r : oldRows) want += r + "\n";
  ASSERT_EQ(text, want);
}

std::vector<std::vector<std::string>> blocksOf(const char* file) {
  std::vector<std::vector<std::string>> out;
  std::ifstream in(tl::testData(file), std::ios::binary);
  EXPECT_TRUE(orvel::visitBlocks(in, [&](const std::string&, const std::vector<std::string>& rows) {
    out.push_back(rows);
    return true;
  }));
  return out;
}

}  // namespace

TEST(WalkProperty, NumbersReadAsTheCLibraryReadsThem) {
  const std::string longDigits(20000, '9');
  const std::string longFraction = "0." + std::string(5000, '0') + "1";
  const char* cases[] = {"47.5", "-8.25", "+47.5", "+-1", "-+1", "++1", "--1", "-0", "+0", "0", "00012.5000",
                         "1.", ".5", "-.5", "+.5", "5.e2", ".e2", "-.e5", "1e", "1e+", "1e-", "1.5e+3x", "1E5",
                         "1e308", "1.8e308", "1e309", "-1e309", "1e-400", "4.9e-324", "2.4e-324",
                         "2.2250738585072011e-308", "0.1", "0.30000000000000004", "43.6804983", "101.5",
                         "0x1p3", "-0x1p3", "0X1P-2", "0x", "0x.8", "0xg", "inf", "-inf", "INF", "Infinity",
                         "+inf", "nan", "-nan", "NaN", "nan(123)", "nanx", "i", "n", "", "-", "+", ".", "e5",
                         "1,5", "47.5abc", " 47.5", "\t-3", "9223372036854775807", "9223372036854775808",
                         "-9223372036854775808", "-9223372036854775809", "99999999999999999999999",
                         "101", "+101", "-101", "0101", "101.0", "0b101", "1e2"};
  std::vector<std::string> all(std::begin(cases), std::end(cases));
  all.push_back(longDigits);
  all.push_back("-" + longDigits);
  all.push_back(longFraction);
  for (const std::string& c : all) {
    SCOPED_TRACE("'" + c.substr(0, 40) + "'");
    const double want = ref::numC(c), got = orvel::numC(c);
    if (std::isnan(want)) EXPECT_TRUE(std::isnan(got) && std::signbit(got) == std::signbit(want));
    else EXPECT_TRUE(sameBits(got, want)) << got << " vs " << want;
    EXPECT_EQ(orvel::intC(c), ref::intC(c));
  }
}

TEST(WalkProperty, RealAirportsGiveWhatTheTwoWalksGave) {
  int changed = 0, blocks = 0;
  for (const char* file : {"lit-airports.dat", "lzib.dat", "handmade.dat", "unlit-seaplane-heliport.dat"}) {
    for (const auto& rows : blocksOf(file)) {
      SCOPED_TRACE(std::string(file) + " " + (rows.empty() ? "" : rows[0]));
      Scopes sc;
      scopesFor(geomkit::deriveBlock(rows), sc);
      for (const orvel::SuppressScope& s : sc.list) {
        compareBlock(rows, s);
        if (HasFatalFailure()) return;
        std::vector<std::string> r = rows;
        int n = 0;
        changed += orvel::splitBlockLights(r, s, n);
        ++blocks;
      }
    }
  }
  EXPECT_GT(changed, 6);  // the cases exercised the rewrite, not only the copy
  EXPECT_GT(blocks, changed);
}

TEST(WalkProperty, FuzzedRowsGiveWhatTheTwoWalksGave) {
  const std::vector<std::string> lzib = blocksOf("lzib.dat").at(0);
  ASSERT_GT(lzib.size(), 500u);
  // Spellings of numbers the fuzz table lacks, put in place of coordinates.
  const char* odd[] = {"+48.17", "0x30", "INF", "nan(7)", "1.", ".5e1", "+101", "-0x1p-3", "48.1700000000000000001"};
  std::mt19937 rng(20131001);
  int changed = 0;
  for (int iter = 0; iter < 400; ++iter) {
    const std::size_t from = 1 + rng() % (lzib.size() - 150);
    std::vector<std::string> rows{lzib[0]};
    rows.insert(rows.end(), lzib.begin() + from, lzib.begin() + from + 20 + rng() % 120);
    Scopes sc;
    scopesFor(geomkit::deriveBlock(rows), sc);
    const int mutations = 1 + rng() % 6;
    for (int m = 0; m < mutations; ++m) tle::mutate(rows, rng);
    if (iter % 3 == 0) {
      const std::size_t i = 1 + rng() % (rows.size() - 1);
      std::vector<std::string> t = orvel::tok(rows[i]);
      if (t.size() > 3) {
        t[1 + rng() % 3] = odd[rng() % (sizeof odd / sizeof *odd)];
        rows[i] = tle::joined(t);
      }
    }
    SCOPED_TRACE("iteration " + std::to_string(iter));
    for (const orvel::SuppressScope& s : sc.list) {
      compareBlock(rows, s);
      if (HasFatalFailure()) return;
      std::vector<std::string> r = rows;
      int n = 0;
      changed += orvel::splitBlockLights(r, s, n);
    }
  }
  EXPECT_GT(changed, 40);  // enough real lights survived the mutations
}

TEST(WalkProperty, WholeFileRewriteGivesWhatTheTwoWalksGave) {
  tl::TempDir d;
  for (const char* file : {"lit-airports.dat", "lzib.dat", "handmade.dat"}) {
    SCOPED_TRACE(file);
    orveldb::ScopeMap scopes;
    std::string err;
    ASSERT_TRUE(geomkit::deriveFile(tl::testData(file), scopes, err)) << err;
    ASSERT_FALSE(scopes.empty());

    // The old way: every block cut into rows, runs first, then the split.
    std::ifstream in(tl::testData(file), std::ios::binary);
    std::ostringstream want;
    orveldb::TakenMap wantTaken;
    int wantSplits = 0;
    bool wantChanged = false;
    ASSERT_TRUE(orvel::forEachBlock(in, want, [&](const std::string& code, std::vector<std::string>& rows) {
      auto it = scopes.find(code);
      if (it == scopes.end()) return false;
      const orveldb::AirportScope& a = it->second;
      orvel::SuppressScope s;
      s.leads = a.lead.empty() ? nullptr : &a.lead;
      s.bars = a.bars.empty() ? nullptr : &a.bars;
      s.barx = (s.bars && a.barx.size() == a.bars.size()) ? &a.barx : nullptr;
      s.network = a.network.empty() ? nullptr : &a.network;
      if (!s.leads && !s.bars && !s.network) return false;
      auto runs = ref::takenByPass(rows, s);
      if (!runs.empty()) wantTaken[code] = std::move(runs);
      int n = 0;
      const bool ch = ref::splitBlockLights(rows, s, n);
      wantSplits += n;
      return ch;
    }, wantChanged));
    ASSERT_TRUE(wantChanged);

    const std::string path = d / (std::string(file) + "/apt.dat");
    tl::writeFile(path, tl::readFile(tl::testData(file)));
    std::vector<std::string> touched;
    orveldb::TakenMap taken;
    const orvel::OpResult r = orveldb::suppressAll(path, scopes, orvel::SuppressScope{}, touched, &taken, "");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.exclusions, wantSplits);
    EXPECT_TRUE(tl::readFile(path) == want.str());
    ASSERT_EQ(taken.size(), wantTaken.size());
    for (const auto& [code, runs] : wantTaken) {
      SCOPED_TRACE(code);
      ASSERT_EQ(taken.count(code), 1u);
      EXPECT_TRUE(sameRuns(taken[code], runs));
    }
  }
}
