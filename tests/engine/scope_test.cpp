#include "engine/scope.h"

#include <gtest/gtest.h>

#include <cmath>

#include <fstream>
#include <random>

#include "engine/blocks.h"
#include "fixture.h"
#include "support/tmpdir.h"
#include "tools/geomkit/geomkit.h"

using orvel::Pt;
using orvel::SuppressIndex;
using tle::at;

namespace {

// An index over one east-going bar from (0,0) to (20,0) metres, or any bars.
struct BarIndex {
  tle::Geo g;
  orvel::SuppressScope s;
  SuppressIndex idx;
  explicit BarIndex(orvel::Lines bars, orvel::BarExtents barx = {}) {
    g.bars = std::move(bars);
    g.barx = std::move(barx);
    s = g.scope();
    idx.build(s);
  }
};

}  // namespace

TEST(InBar, DefaultBoxesAreFiveAlongAndEightAcross) {
  BarIndex b({{at(0, 0), at(20, 0)}});
  struct Case {
    double e, n;
    bool in;
  } cases[] = {
      {10, 0, true},   {10, 7.9, true},  {10, -7.9, true}, {10, 8.1, false},
      {10, -8.1, false}, {-4.9, 0, true}, {-5.1, 0, false}, {24.9, 0, true},
      {25.1, 0, false}, {-4.9, 7.9, true}, {40, 0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(b.idx.inBar(at(c.e, c.n)), c.in) << c.e << "," << c.n;
}

TEST(InBar, ExtentRecordsAreOrientedAndPerSegment) {
  // Travelling east, the right-hand side is south.
  BarIndex b({{at(0, 0), at(20, 0)}}, {{{2, 10, 1, 4}}});
  struct Case {
    double e, n;
    bool in;
  } cases[] = {
      {10, -3, true},  {10, 3, false}, {10, 0.9, true}, {10, -4.1, false},
      {-1.9, 0, true}, {-2.1, 0, false}, {29.9, 0, true}, {30.1, 0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(b.idx.inBar(at(c.e, c.n)), c.in) << c.e << "," << c.n;

  // Bounds are inclusive: with all extents 0 the bar's own start point is
  // inside (along and across are exactly 0 there), a centimetre off is not.
  BarIndex zero({{at(0, 0), at(20, 0)}}, {{{0, 0, 0, 0}}});
  EXPECT_TRUE(zero.idx.inBar(at(0, 0)));
  EXPECT_FALSE(zero.idx.inBar(at(-0.01, 0)));
  EXPECT_FALSE(zero.idx.inBar(at(10, 0.01)));
}

TEST(InBar, MissingRecordsFallBackToDefaults) {
  // Three points, one record (0,0,0,0) for the first segment only: the
  // second segment (going north from (20,0)) keeps the default 8 m.
  BarIndex b({{at(0, 0), at(20, 0), at(20, 20)}}, {{{0, 0, 0, 0}}});
  EXPECT_FALSE(b.idx.inBar(at(10, -3)));
  EXPECT_TRUE(b.idx.inBar(at(27, 10)));
  // No extent vector at all for the second bar.
  tle::Geo g;
  g.bars = {{at(0, 0), at(20, 0)}, {at(0, 100), at(20, 100)}};
  orvel::BarExtents barx{{{0, 0, 0, 0}}};
  orvel::SuppressScope s = g.scope();
  s.barx = &barx;  // shorter than bars: the second bar uses the defaults
  SuppressIndex idx;
  idx.build(s);
  EXPECT_FALSE(idx.inBar(at(10, 3)));
  EXPECT_TRUE(idx.inBar(at(10, 103)));
}

// The pre-filter must reach as far as the largest extent, not the defaults.
TEST(InBar, PrefilterReachesTheLargestExtent) {
  BarIndex b({{at(0, 0), at(20, 0)}}, {{{0, 30, 0, 0}}});
  EXPECT_NEAR(b.idx.barReach, std::hypot(30, 8), 1e-12);
  EXPECT_TRUE(b.idx.inBar(at(45, 0)));
  EXPECT_FALSE(b.idx.inBar(at(51, 0)));
}

TEST(InBar, NothingToHitAnswersFalse) {
  BarIndex onePoint({{at(0, 0)}});
  EXPECT_FALSE(onePoint.idx.inBar(at(0, 0)));
  BarIndex twice({{at(0, 0), at(0, 0)}});  // zero length: skipped
  EXPECT_FALSE(twice.idx.inBar(at(0, 0)));
  BarIndex none({});
  EXPECT_FALSE(none.idx.inBar(at(0, 0)));
  SuppressIndex unbuilt;
  EXPECT_FALSE(unbuilt.inBar(at(0, 0)));
}

TEST(Within, ToleranceIsInclusiveAndMissingLinesAnswerFalse) {
  tle::Geo g;
  g.lead = {{at(0, 0), at(50, 0), at(50, 50)}, {at(500, 500)}};
  orvel::SuppressScope s = g.scope();
  SuppressIndex idx;
  idx.build(s);
  const Pt q = at(25, 6);
  const double d = orvel::segDist(q, g.lead[0][0], g.lead[0][1]);
  EXPECT_TRUE(SuppressIndex::within(q, s.leads, idx.leadBoxes, idx.leadsAll, d));
  EXPECT_FALSE(SuppressIndex::within(q, s.leads, idx.leadBoxes, idx.leadsAll, d * (1 - 1e-9)));
  EXPECT_TRUE(idx.nearLead(at(57, 25)));  // second segment
  EXPECT_FALSE(idx.nearLead(at(500, 500)));  // a one-point line has no segment
  EXPECT_FALSE(idx.nearNetwork(at(25, 0)));  // no network lines
  const orvel::Lines empty;
  EXPECT_FALSE(SuppressIndex::within(at(0, 0), &empty, {}, {}, 8));
  EXPECT_FALSE(SuppressIndex::within(at(0, 0), nullptr, {}, {}, 8));
}

// Near a pole a metre is no finite number of degrees of longitude: the
// longitude pre-filter must step aside instead of rejecting every point.
TEST(GeoBox, PaddingNearThePoleDropsTheLongitudeFilter) {
  orvel::GeoBox b;
  b.add(Pt{90, 0});
  EXPECT_FALSE(b.outsidePadded(Pt{90, 179}, 8));
  EXPECT_FALSE(b.outsidePadded(Pt{90.0000001, 179}, 8));  // cosine below zero
  EXPECT_TRUE(b.outsidePadded(Pt{89, 0}, 8));
}

// The grid over a large airport's lines only narrows the candidates: every
// answer must be the one the plain scan over all boxes gives.
TEST(SuppressIndexGrid, AnswersLikeThePlainScanOnRealAirports) {
  std::vector<std::vector<std::string>> blocks;
  {
    std::ifstream in(tl::testData("lit-airports.dat"), std::ios::binary);
    ASSERT_TRUE(orvel::visitBlocks(in, [&](const std::string&, const std::vector<std::string>& rows) {
      blocks.push_back(rows);
      return true;
    }));
  }
  std::mt19937 rng(7);
  int gridded = 0, hits = 0;
  for (const auto& rows : blocks) {
    const orveldb::AirportScope a = geomkit::deriveBlock(rows);
    tle::Geo g;
    g.bars = a.bars;
    g.lead = a.lead;
    g.network = a.network;
    const orvel::SuppressScope s = g.scope();
    SuppressIndex idx;
    idx.build(s);
    SuppressIndex plain = idx;
    plain.barGrid = plain.leadGrid = plain.networkGrid = orvel::BoxGrid{};
    gridded += idx.networkGrid.usable + idx.barGrid.usable;
    orvel::GeoBox all = idx.networkAll;
    all.add(idx.barsAll);
    all.add(idx.leadsAll);
    if (!all.valid) continue;
    std::uniform_real_distribution<double> lat(all.minLat - 0.0005, all.maxLat + 0.0005);
    std::uniform_real_distribution<double> lon(all.minLon - 0.0005, all.maxLon + 0.0005);
    std::vector<Pt> qs;
    for (int i = 0; i < 20000; ++i) qs.push_back({lat(rng), lon(rng)});
    // Points exactly at the tolerance north of the network's vertices.
    for (const auto& l : g.network)
      for (const Pt& p : l) qs.push_back({p.lat + 8.0 / orvel::kMetresPerDeg, p.lon});
    for (const Pt& q : qs) {
      const bool net = idx.nearNetwork(q);
      ASSERT_EQ(net, SuppressIndex::within(q, s.network, idx.networkBoxes, idx.networkAll, 8.0));
      ASSERT_EQ(idx.nearLead(q), SuppressIndex::within(q, s.leads, idx.leadBoxes, idx.leadsAll, 8.0));
      ASSERT_EQ(idx.inBar(q), plain.inBar(q)) << q.lat << "," << q.lon;
      hits += net;
    }
  }
  EXPECT_GT(gridded, 0);
  EXPECT_GT(hits, 0);
}
