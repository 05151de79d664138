#include "engine/rewrite.h"

#include <gtest/gtest.h>

#include "fixture.h"

using tle::at;
using tle::nodeRow;

namespace {

const std::string kHdr = "1 1500 1 0 ZZA1 Test Field";
const std::string kFeat = "120 Taxiway lights";

struct Rewritten {
  std::vector<std::string> in, out;
  bool changed = false;
  int splits = -1;
};

Rewritten rewrite(const std::vector<std::string>& rows, const tle::Geo& g) {
  Rewritten r;
  r.in = rows;
  r.out = rows;
  orvel::SuppressScope s = g.scope();
  r.changed = orvel::splitBlockLights(r.out, s, r.splits);
  return r;
}

std::string coords(const orvel::Pt& p) { return nodeRow("", p).substr(1); }

tle::Geo leadNorth() {  // a lead-on line 100 m north from the origin
  tle::Geo g;
  g.lead = {{at(0, 0), at(0, 100)}};
  return g;
}

tle::Geo barEast() {  // a 40 m bar going east from the origin
  tle::Geo g;
  g.bars = {{at(0, 0), at(40, 0)}};
  return g;
}

}  // namespace

TEST(SplitBlockLights, FeatureAwayFromTheGeometryComesBackByteForByte) {
  const std::vector<std::string> rows = {
      kHdr, "120  Taxiway\tlights  ", "111\t47.1000  008.1000   1 101 ", "112  47.1001 8.1 47.1002 8.1  101",
      "115 47.1003 008.1", "", "110 2 0.25 0 Pavement", "111 47.0 8.0 101"};
  Rewritten r = rewrite(rows, leadNorth());
  EXPECT_FALSE(r.changed);
  EXPECT_EQ(r.splits, 0);
  EXPECT_EQ(r.out, rows);
  // Node rows outside any 120 feature (pavement edges) lie on the line but
  // are never touched, and so is a block without 120 rows.
  Rewritten noFeature = rewrite({kHdr, "110 2 0.25 0 Pavement", nodeRow("111", at(0, 10), "101"),
                           nodeRow("113", at(0, 20), "101")}, leadNorth());
  EXPECT_FALSE(noFeature.changed);
  EXPECT_EQ(noFeature.out, noFeature.in);
}

// One straight segment lying inside the bar box, with various codes on its
// first row: which tokens go, which stay.
TEST(SplitBlockLights, StraightSegmentInABarLosesOnlyBarAndCentreCodes) {
  const orvel::Pt a = at(2, 0), b = at(38, 0);
  struct Case {
    std::string attrs, want;  // want "" = unchanged
  } cases[] = {
      {"103", "111 " + coords(a)},
      {"1 104", "111 " + coords(a) + " 1"},
      {"102", ""},
      {"51 106", ""},
      {"101", "111 " + coords(a)},  // the whole feature is bar: mostly bar
      {"103 101.0 107 105", "111 " + coords(a) + " 101.0 107"},
  };
  for (const auto& c : cases) {
    Rewritten r = rewrite({kHdr, kFeat, nodeRow("111", a, c.attrs), nodeRow("115", b)}, barEast());
    SCOPED_TRACE(c.attrs);
    if (c.want.empty()) {
      EXPECT_FALSE(r.changed);
      EXPECT_EQ(r.out, r.in);
    } else {
      EXPECT_TRUE(r.changed);
      EXPECT_EQ(r.out, (std::vector<std::string>{kHdr, kFeat, c.want, r.in[3]}));
    }
  }
}

// A 101 stretch that crosses a bar without a lead-on line is taken only when
// most of the feature is bar; the next stretch is split off unchanged.
TEST(SplitBlockLights, CentreLightsInABarNeedAMostlyBarFeature) {
  for (double tail : {20.0, 100.0}) {
    const std::vector<std::string> rows = {kHdr, kFeat, nodeRow("111", at(2, 0), "101"),
                                           nodeRow("111", at(38, 0)), nodeRow("115", at(38, tail))};
    Rewritten r = rewrite(rows, barEast());
    SCOPED_TRACE(tail);
    if (tail == 100.0) {  // 36 m of 136 in the bar
      EXPECT_FALSE(r.changed);
      EXPECT_EQ(r.out, rows);
    } else {  // 36 m of 56
      EXPECT_TRUE(r.changed);
      EXPECT_EQ(r.splits, 1);
      EXPECT_EQ(r.out, (std::vector<std::string>{kHdr, kFeat, "111 " + coords(at(2, 0)),
                                                 "115 " + coords(at(38, 0)), kFeat, rows[3], rows[4]}));
    }
  }
  // A curved segment with most of its pieces in the bar is taken even when
  // the feature is mostly elsewhere: its covered pieces count bar pieces.
  const std::vector<std::string> curved = {kHdr, kFeat, tle::bezRow("112", at(2, 0), at(10, 1), "101"),
                                           nodeRow("111", at(38, 0)), nodeRow("115", at(38, 200))};
  Rewritten r = rewrite(curved, barEast());
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(r.out[2], tle::joined({"112", orvel::tok(curved[2])[1], orvel::tok(curved[2])[2],
                                   orvel::tok(curved[2])[3], orvel::tok(curved[2])[4]}));
  EXPECT_EQ(r.splits, 1);
}

// Taken in its first half along a lead-on line: the kept half becomes its
// own feature behind a terminating row; a curved node terminates as 116.
TEST(SplitBlockLights, SplitWritesTerminatorAndRepeatsTheHeader) {
  const orvel::Pt p2 = at(0, 100);
  const std::vector<std::string> rows = {
      kHdr, kFeat, nodeRow("111", at(0, 0), "1 101"), nodeRow("111", at(0, 50)),
      tle::bezRow("112", p2, p2), nodeRow("111", at(60, 100)), nodeRow("115", at(120, 100)),
      "1302 city Test"};
  Rewritten r = rewrite(rows, leadNorth());
  ASSERT_TRUE(r.changed);
  EXPECT_EQ(r.splits, 1);
  EXPECT_EQ(r.out, (std::vector<std::string>{kHdr, kFeat, "111 " + coords(at(0, 0)) + " 1", rows[3],
                                             "116 " + coords(p2) + " " + coords(p2), kFeat, rows[4],
                                             rows[5], rows[6], rows[7]}));
}

// Rows rebuilt on a lead-on line: single spaces, only exact three-character
// codes at the attribute position go.
TEST(SplitBlockLights, RebuiltRowsKeepEverythingButTheTakenCodes) {
  const std::string a = coords(at(0, 10));
  std::string tabbed = a;
  for (char& ch : tabbed)
    if (ch == ' ') ch = '\t';
  struct Case {
    std::string row, want;
  } cases[] = {
      {"111 " + a + " 1 101", "111 " + a + " 1"},
      {"111\t" + tabbed + "\t1\t101 ", "111 " + a + " 1"},
      {"111  " + a + "  101.0", "111 " + a + " 101.0"},  // reads as 101, text is not "101"
      {"111 " + a + " 104 101", "111 " + a + " 104"},      // no bar here: 104 stays
      {"111 " + a + " 105 51 107", "111 " + a + " 105 51 107"},  // carries 107: kept as written
  };
  for (const auto& c : cases) {
    Rewritten r = rewrite({kHdr, kFeat, c.row, nodeRow("115", at(0, 90))}, leadNorth());
    SCOPED_TRACE(c.row);
    EXPECT_EQ(r.out[2], c.row == cases[4].row ? c.row : c.want);
  }
}

TEST(SplitBlockLights, CodesCarryFromClosingRowsButNotFromEndingRows) {
  tle::Geo g = leadNorth();
  // 113 closes a loop and starts the next segment with its code.
  Rewritten closing = rewrite({kHdr, kFeat, nodeRow("111", at(0, 10)), nodeRow("113", at(0, 40), "101"),
                         nodeRow("111", at(0, 80))}, g);
  EXPECT_TRUE(closing.changed);
  EXPECT_EQ(closing.splits, 1);
  EXPECT_EQ(closing.out.size(), closing.in.size() + 2);
  // A 115 row's code belongs to the line it ends: never carried on.
  Rewritten ending = rewrite({kHdr, kFeat, nodeRow("111", at(0, 10)), nodeRow("115", at(0, 40), "101"),
                        nodeRow("111", at(0, 80))}, g);
  EXPECT_FALSE(ending.changed);
  EXPECT_EQ(ending.out, ending.in);
}

TEST(SplitBlockLights, MalformedFeaturesAreCarriedThrough) {
  tle::Geo g = leadNorth();
  const std::vector<std::vector<std::string>> blocks = {
      {kHdr, kFeat, nodeRow("111", at(0, 10), "101"), "111 47.0001", nodeRow("115", at(0, 40))},
      {kHdr, kFeat, nodeRow("111", at(0, 10), "101")},                       // one node
      {kHdr, nodeRow("111", at(0, 10), "101"), nodeRow("115", at(0, 40))},   // no header
      {kHdr, kFeat, "   ", nodeRow("111", at(0, 10), "101"), nodeRow("115", at(0, 40))},  // blank ends it
  };
  for (const auto& rows : blocks) {
    Rewritten r = rewrite(rows, g);
    EXPECT_FALSE(r.changed) << rows[2];
    EXPECT_EQ(r.out, rows);
  }
}

// Neighbouring segments with different non-zero decisions (lead only, then
// lead and bar) are split as well: the plugin draws them differently.
TEST(SplitBlockLights, AnyChangeOfDecisionSplits) {
  tle::Geo g = leadNorth();
  g.bars = {{at(-10, 50), at(10, 50)}};
  const std::vector<std::string> rows = {kHdr, kFeat, nodeRow("111", at(0, 0), "101"),
                                         nodeRow("111", at(0, 40)), nodeRow("115", at(0, 60))};
  Rewritten r = rewrite(rows, g);
  ASSERT_TRUE(r.changed);
  EXPECT_EQ(r.splits, 1);
  EXPECT_EQ(r.out, (std::vector<std::string>{kHdr, kFeat, "111 " + coords(at(0, 0)),
                                             "115 " + coords(at(0, 40)), kFeat, rows[3], rows[4]}));
}
