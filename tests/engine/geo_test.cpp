#include "engine/geo.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/tmpdir.h"

using orvel::Node;
using orvel::Pt;

TEST(Tok, SplitsAtEveryBlankKindAndKeepsText) {
  struct Case {
    std::string row;
    std::vector<std::string> want;
  } cases[] = {
      {"  111\t47.5   8.5 \r", {"111", "47.5", "8.5"}},
      {"   \t \r", {}},
      {"", {}},
      {"1\v2\f3\n4", {"1", "2", "3", "4"}},
      {"120 \"Taxi way\"  A1", {"120", "\"Taxi", "way\"", "A1"}},  // no quoting
      {"111 047.50 +8.5e0 101.0", {"111", "047.50", "+8.5e0", "101.0"}},  // text as written
      {std::string("K\xf6ln\xa0X", 6), {std::string("K\xf6ln\xa0X", 6)}},  // 0xA0 is not a blank
  };
  for (const auto& c : cases) EXPECT_EQ(orvel::tok(c.row), c.want) << "[" << c.row << "]";
}

TEST(ParseNode, DecodesFlagsPositionControlAndLight) {
  struct Case {
    std::string row;
    bool bezier, ends, closes;
    Pt p, ctl;
    int light;
  } cases[] = {
      {"111 47.5 8.5", false, false, false, {47.5, 8.5}, {0, 0}, -1},
      {"111 47.5 8.5 1 101", false, false, false, {47.5, 8.5}, {0, 0}, 101},
      {"111 47.5 8.5 101 102", false, false, false, {47.5, 8.5}, {0, 0}, 102},
      {"111 47.5 8.5 51", false, false, false, {47.5, 8.5}, {0, 0}, -1},
      {"111 47.5 8.5 101.5 abc 200 99", false, false, false, {47.5, 8.5}, {0, 0}, 101},
      {"112 47.5 8.5 47.6 8.6 1 103", true, false, false, {47.5, 8.5}, {47.6, 8.6}, 103},
      {"112 47.5 8.5 47.6", true, false, false, {47.5, 8.5}, {0, 0}, -1},
      {"112 47.5 8.5 47.6 8.6", true, false, false, {47.5, 8.5}, {47.6, 8.6}, -1},
      // A Bezier row's control point is never read as a light code.
      {"116 47.5 8.5 101 105", true, true, false, {47.5, 8.5}, {101, 105}, -1},
      {"113 47.5 8.5 101", false, true, true, {47.5, 8.5}, {0, 0}, 101},
      {"114 47.5 8.5 47.6 8.6 105", true, true, true, {47.5, 8.5}, {47.6, 8.6}, 105},
      {"115 47.5 8.5 104", false, true, false, {47.5, 8.5}, {0, 0}, 104},
      // C leading-number rules: trailing text ignored, no number reads 0.
      {"111 47.5x 8,5 1O1", false, false, false, {47.5, 8}, {0, 0}, -1},
      {"111 north east 103", false, false, false, {0, 0}, {0, 0}, 103},
  };
  for (const auto& c : cases) {
    Node n = orvel::parseNode(orvel::tok(c.row));
    SCOPED_TRACE(c.row);
    EXPECT_EQ(n.bezier, c.bezier);
    EXPECT_EQ(n.ends, c.ends);
    EXPECT_EQ(n.closes, c.closes);
    EXPECT_DOUBLE_EQ(n.p.lat, c.p.lat);
    EXPECT_DOUBLE_EQ(n.p.lon, c.p.lon);
    EXPECT_DOUBLE_EQ(n.ctl.lat, c.ctl.lat);
    EXPECT_DOUBLE_EQ(n.ctl.lon, c.ctl.lon);
    EXPECT_EQ(n.light, c.light);
  }
}

// A user locale with a decimal comma must not change how scenery numbers
// read. The locale is compiled into a temporary folder when the system
// has the sources for it.
TEST(ParseNode, IgnoresAUserLocaleWithDecimalComma) {
  tl::TempDir dir;
  const std::string cmd = "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8") + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "cannot build a de_DE locale here";
  setenv("LOCPATH", dir.path().c_str(), 1);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    unsetenv("LOCPATH");
    GTEST_SKIP() << "de_DE locale does not load";
  }
  const double plain = std::strtod("47.5", nullptr);  // the trap: reads 47 here
  Node n = orvel::parseNode(orvel::tok("112 47.5 8.25 47.75 8.125 101"));
  const double num = orvel::numC("1.5e1");
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
  ASSERT_EQ(plain, 47.0) << "the locale did not take effect";
  EXPECT_EQ(n.p.lat, 47.5);
  EXPECT_EQ(n.p.lon, 8.25);
  EXPECT_EQ(n.ctl.lat, 47.75);
  EXPECT_EQ(n.ctl.lon, 8.125);
  EXPECT_EQ(num, 15.0);
}

namespace {
Node plain(double lat, double lon) {
  Node n;
  n.p = {lat, lon};
  return n;
}
Node curved(double lat, double lon, double clat, double clon) {
  Node n = plain(lat, lon);
  n.bezier = true;
  n.ctl = {clat, clon};
  return n;
}
}  // namespace

TEST(BezSegment, StraightGivesOnlyTheEndWhateverThePieces) {
  for (int pieces : {-1, 0, 1, 8}) {
    std::vector<Pt> out;
    orvel::bezSegment(plain(1, 2), plain(3, 4), out, pieces);
    ASSERT_EQ(out.size(), 1u) << pieces;
    EXPECT_EQ(out[0].lat, 3);
    EXPECT_EQ(out[0].lon, 4);
  }
}

TEST(BezSegment, CurvedCutsIntoPiecesEndingAtTheNode) {
  std::vector<Pt> out;
  orvel::bezSegment(curved(0, 0, 1, 0), plain(0, 1), out, 8);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_NEAR(out.back().lat, 0, 1e-12);
  EXPECT_NEAR(out.back().lon, 1, 1e-12);
  EXPECT_GT(out[3].lat, 0);  // pulled north by the start's control point

  out.clear();
  orvel::bezSegment(curved(0, 0, 1, 0), plain(0, 1), out, 0);
  EXPECT_TRUE(out.empty());
}

// The end node's control point points forward along the line; the segment
// arriving at it must use its mirror, so a control point to the north pulls
// the arriving curve to the south.
TEST(BezSegment, ArrivingSegmentUsesTheMirroredControlPoint) {
  std::vector<Pt> out;
  orvel::bezSegment(plain(0, 0), curved(0, 1, 1, 1), out, 2);
  ASSERT_EQ(out.size(), 2u);
  // t = 1/2: P1 = P0, P2 = (-1, 1): lat = 3/8 * -1, lon = 3/8*0 + 3/8*1 + 1/8
  EXPECT_DOUBLE_EQ(out[0].lat, -0.375);
  EXPECT_DOUBLE_EQ(out[0].lon, 0.5);
}

TEST(Metric, SegmentDistanceScalesLongitudeAtTheQueryPoint) {
  const double m = orvel::kMetresPerDeg;
  const double c60 = orvel::metresPerDegLon(60);
  EXPECT_NEAR(c60, m * 0.5, 1e-6);
  struct Case {
    Pt q, a, b;
    double want;
  } cases[] = {
      {{60, 0}, {60, -1}, {60, 1}, 0},                         // on the segment
      {{60, 0}, {60, 0.001}, {60, 0.001}, 0.001 * c60},       // degenerate segment: its point
      {{60, 0}, {60, 0.002}, {60, 0.003}, 0.002 * c60},       // beyond the start: clamped
      {{60.001, 0.5}, {60, 0}, {60, 1}, 0.001 * m},           // across, measured north
  };
  for (const auto& c : cases) EXPECT_NEAR(orvel::segDist(c.q, c.a, c.b), c.want, 1e-6);
  // The reference latitude is the query's, not the segment's.
  const double d = orvel::segDist({0, 0}, {60, 1}, {60, 1});
  EXPECT_NEAR(d, std::hypot(m, 60 * m), 1e-6);
}
