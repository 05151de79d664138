#include "engine/taken.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "fixture.h"
#include "scenery/files.h"
#include "support/tmpdir.h"

using orveldb::TakenRun;
using tle::at;
using tle::nodeRow;

namespace {

const std::string kHdr = "1 1500 1 0 ZZA1 Test Field";
const std::string kFeat = "120 Taxiway lights";

std::vector<TakenRun> taken(const std::vector<std::string>& nodes, const tle::Geo& g) {
  std::vector<std::string> rows{kHdr, kFeat};
  rows.insert(rows.end(), nodes.begin(), nodes.end());
  return orveldb::takenByPass(rows, g.scope());
}

// Points compared at the precision they were written with.
void expectPts(const TakenRun& r, const std::vector<orvel::Pt>& want) {
  ASSERT_EQ(r.pts.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(r.pts[i].lat, want[i].lat, 1e-9) << i;
    EXPECT_NEAR(r.pts[i].lon, want[i].lon, 1e-9) << i;
  }
}

tle::Geo lead(std::vector<orvel::Lines> parts) {
  tle::Geo g;
  g.lead = parts.at(0);
  if (parts.size() > 1) g.network = parts[1];
  return g;
}

}  // namespace

TEST(TakenByPass, StopBarSegmentInABarIsOneRun) {
  tle::Geo g;
  g.bars = {{at(0, 0), at(40, 0)}};
  auto runs = taken({nodeRow("111", at(2, 0), "103"), nodeRow("115", at(38, 0))}, g);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].code, 103);
  EXPECT_FALSE(runs[0].networkOnly);
  expectPts(runs[0], {at(2, 0), at(38, 0)});
}

TEST(TakenByPass, RunsEndWhereThePieceRuleChanges) {
  // A gap between two lead-on lines ends the first run; a change of light
  // code starts another.
  auto gap = taken({nodeRow("111", at(0, 0), "101"), nodeRow("111", at(0, 20)), nodeRow("111", at(0, 40)),
                    nodeRow("111", at(0, 60), "105"), nodeRow("115", at(0, 70))},
                   lead({{{at(0, 0), at(0, 20)}, {at(0, 40), at(0, 80)}}}));
  ASSERT_EQ(gap.size(), 3u);
  expectPts(gap[0], {at(0, 0), at(0, 20)});
  expectPts(gap[1], {at(0, 40), at(0, 60)});
  EXPECT_EQ(gap[2].code, 105);
  expectPts(gap[2], {at(0, 60), at(0, 70)});

  // Leaving the lead-on line for the network: same code, network-only changes.
  auto net = taken({nodeRow("111", at(0, 0), "101"), nodeRow("111", at(0, 25)), nodeRow("111", at(0, 50)),
                    nodeRow("111", at(0, 100)), nodeRow("115", at(0, 150))},
                   lead({{{at(0, 0), at(0, 50)}}, {{at(0, 50), at(0, 200)}}}));
  ASSERT_EQ(net.size(), 2u);
  EXPECT_FALSE(net[0].networkOnly);
  expectPts(net[0], {at(0, 0), at(0, 25), at(0, 50)});
  EXPECT_TRUE(net[1].networkOnly);
  expectPts(net[1], {at(0, 50), at(0, 100), at(0, 150)});
}

// A curved segment that bends away from the lead-on line: only the pieces
// whose midpoints stay within the tolerance are taken.
TEST(TakenByPass, CurvedSegmentIsJudgedPieceByPiece) {
  tle::Geo g = lead({{{at(0, 0), at(0, 60)}}});
  const std::vector<std::string> rows = {tle::bezRow("112", at(0, 0), at(0, 40), "101"),
                                         nodeRow("115", at(80, 40))};
  auto runs = taken(rows, g);
  std::vector<orvel::Pt> pts{orvel::parseNode(orvel::tok(rows[0])).p};
  orvel::bezSegment(orvel::parseNode(orvel::tok(rows[0])), orvel::parseNode(orvel::tok(rows[1])), pts, 8);
  std::size_t k = 0;  // first piece whose midpoint is off the line
  while (k + 1 < pts.size() &&
         orvel::segDist({(pts[k].lat + pts[k + 1].lat) / 2, (pts[k].lon + pts[k + 1].lon) / 2}, g.lead[0][0],
                        g.lead[0][1]) <= 8)
    ++k;
  ASSERT_GE(k, 1u);
  ASSERT_LT(k, 8u);
  ASSERT_EQ(runs.size(), 1u);
  expectPts(runs[0], std::vector<orvel::Pt>(pts.begin(), pts.begin() + k + 1));
}

TEST(TakenByPass, ZeroLengthPiecesNeverStartARunAndLeaveNoDuplicate) {
  tle::Geo g = lead({{{at(0, 0), at(0, 100)}}});
  auto start = taken({nodeRow("111", at(0, 10), "101"), nodeRow("111", at(0, 10)), nodeRow("115", at(0, 30))}, g);
  ASSERT_EQ(start.size(), 1u);
  expectPts(start[0], {at(0, 10), at(0, 30)});
  auto inside = taken({nodeRow("111", at(0, 10), "101"), nodeRow("111", at(0, 30)), nodeRow("111", at(0, 30)),
                       nodeRow("115", at(0, 50))}, g);
  ASSERT_EQ(inside.size(), 1u);
  expectPts(inside[0], {at(0, 10), at(0, 30), at(0, 50)});
}

TEST(TakenByPass, NothingIsTakenFromOtherCodesOrBrokenFeatures) {
  tle::Geo g = lead({{{at(0, 0), at(0, 100)}}});
  g.bars = {{at(-10, 50), at(10, 50)}};
  const std::vector<std::vector<std::string>> cases = {
      {nodeRow("111", at(0, 10), "102"), nodeRow("115", at(0, 90))},
      {nodeRow("111", at(0, 10), "103"), nodeRow("115", at(0, 30))},  // stop-bar code off the bar
      {nodeRow("111", at(0, 10)), nodeRow("115", at(0, 50), "101"), nodeRow("111", at(0, 90))},
      {nodeRow("111", at(0, 10), "101"), "111 47.0001", nodeRow("115", at(0, 90))},
      {nodeRow("111", at(0, 10), "101")},
  };
  for (const auto& c : cases) EXPECT_TRUE(taken(c, g).empty()) << c[0];
  // Node rows outside a 120 feature are no feature at all.
  EXPECT_TRUE(orveldb::takenByPass({kHdr, "110 2 0 0 Pavement", nodeRow("111", at(0, 10), "101"),
                                    nodeRow("115", at(0, 90))}, g.scope()).empty());
}

TEST(TakenJson, CompactSortedAndRounded) {
  orveldb::TakenMap m;
  m["ZZB1"] = {{104, {{47.123456789, 8.98765432149}, {1, 2}}, false},
               {101, {{50.03333333, -0.00000004}, {50.5, 7}}, true}};
  m["AAA1"] = {{103, {{-33.94611111, 151.17722222}, {-33.9461, 151.1772}}, false}};
  EXPECT_EQ(lumo::takenJson("r1", m),
            "{\"airports\":{\"AAA1\":[{\"c\":103,\"p\":[[-33.9461111,151.1772222],[-33.9461,151.1772]]}],"
            "\"ZZB1\":[{\"c\":104,\"p\":[[47.1234568,8.9876543],[1.0,2.0]]},"
            "{\"c\":101,\"f\":1,\"p\":[[50.0333333,-0.0],[50.5,7.0]]}]},\"rev\":\"r1\"}");
  EXPECT_EQ(lumo::takenJson("", {}), "{\"airports\":{},\"rev\":\"\"}");
}

namespace {

// The digit count of the shortest %.*e text that reads back to x.
int shortestDigits(double x) {
  for (int p = 0; p < 17; ++p) {
    char b[64];
    std::snprintf(b, sizeof b, "%.*e", p, x);
    if (std::strtod(b, nullptr) == x) return p + 1;
  }
  return 17;
}

int significantDigits(const std::string& t) {
  std::string m = t.substr(0, t.find('e'));
  std::string d;
  for (char c : m)
    if (c >= '0' && c <= '9') d += c;
  d.erase(0, d.find_first_not_of('0'));
  if (t.find('e') == std::string::npos && m.find('.') != std::string::npos) {
    while (!d.empty() && d.back() == '0') d.pop_back();
  }
  return d.empty() ? 1 : static_cast<int>(d.size());
}

}  // namespace

// Every number reads back to the double it was written from, with the
// fewest digits that do so, in the JSON library's layout wherever that
// library found the shortest digits as well.
TEST(TakenJson, NumbersAreShortestInTheLibrarysLayout) {
  std::vector<double> xs = {43.680498299999996, 0.0, -0.0, 1e-7, -1e-7, 1.5e-5, 0.0001, 0.00012, 1234567.0,
                            999999999999999.0, 1e15, 1e16, 1.25e16, 1e300, -2.5e-300, 5e-324, 0.1, 180.0,
                            -179.9999999, 123456789012345.6};
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coord(-180, 180);
  for (int i = 0; i < 20000; ++i) xs.push_back(std::round(coord(rng) * 1e7) / 1e7);
  for (int i = 0; i < 2000; ++i) {
    double d;
    const uint64_t bits = rng();
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) xs.push_back(d);
  }
  int sameAsLibrary = 0;
  for (double x : xs) {
    orveldb::TakenMap m;
    m["A"] = {{101, {{x, 0}, {0, 0}}, false}};
    const std::string text = lumo::takenJson("r", m);
    const std::string head = "{\"airports\":{\"A\":[{\"c\":101,\"p\":[[";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::string num = text.substr(head.size(), text.find(',', head.size()) - head.size());
    const double r = std::round(x * 1e7) / 1e7, w = std::isfinite(r) ? r : x;
    SCOPED_TRACE(num);
    const double back = std::strtod(num.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &w, sizeof w), 0);
    ASSERT_EQ(significantDigits(num), shortestDigits(w));
    const std::string lib = nlohmann::json(w).dump();
    if (significantDigits(lib) == significantDigits(num)) {
      // Of two shortest texts the library may pick the one further off;
      // the layout must be the same all the same.
      std::string a = num, b = lib;
      for (char& c : a) c = std::isdigit(static_cast<unsigned char>(c)) ? 'd' : c;
      for (char& c : b) c = std::isdigit(static_cast<unsigned char>(c)) ? 'd' : c;
      ASSERT_EQ(a, b) << lib;
      sameAsLibrary += num == lib;
    }
  }
  EXPECT_GT(sameAsLibrary, 15000);
  orveldb::TakenMap m;
  m["LFPG"] = {{101, {{43.6804983, 1}, {2, 3}}, false}};
  EXPECT_NE(lumo::takenJson("r", m).find("[43.6804983,1.0]"), std::string::npos);
}

// A code that is not UTF-8 must neither throw nor vanish: it is written with
// the reversible byte escape and reads back to the same bytes.
TEST(TakenJson, CodesThatAreNotUtf8StayDistinctAndReversible) {
  orveldb::TakenMap m;
  const std::string odd("Z\xffZ1", 4), latin("K\xf6L", 3);
  m[odd] = {{101, {{1, 2}, {3, 4}}, false}};
  m[latin] = {{103, {{1, 2}, {3, 4}}, false}};
  std::string text;
  ASSERT_NO_THROW(text = lumo::takenJson("r", m));
  nlohmann::json j;
  ASSERT_NO_THROW(j = nlohmann::json::parse(text));
  std::set<std::string> keys;
  for (auto it = j["airports"].begin(); it != j["airports"].end(); ++it) keys.insert(lumo::textFromJson(it.key()));
  EXPECT_EQ(keys, (std::set<std::string>{odd, latin}));
}

TEST(WriteTaken, ReplacesTheRecordWholeOrNotAtAll) {
  tl::TempDir dir;
  const std::string path = dir / "tlm_taken.json";
  tl::writeFile(path, std::string(5000, 'x'));  // an older, longer record
  orveldb::TakenMap m;
  m["LZIB"] = {{101, {{48.1, 17.2}, {48.2, 17.3}}, true}};
  std::string err;
  ASSERT_TRUE(lumo::writeTaken(dir.path(), "rev-7", m, &err)) << err;
  EXPECT_EQ(tl::readFile(path), lumo::takenJson("rev-7", m));
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename(), "tlm_taken.json");  // no temporary left behind

  // A record of several megabytes goes out in pieces and comes out whole.
  for (int a = 0; a < 300; ++a)
    for (int r = 0; r < 120; ++r)
      m["A" + std::to_string(a)].push_back({103, {{48.1 + r * 1e-4, 17.2}, {48.2, 17.3 + a * 1e-4}, {48.3, 17.4}}, r % 2 == 0});
  ASSERT_TRUE(lumo::writeTaken(dir.path(), "rev-8", m, &err)) << err;
  const std::string big = tl::readFile(path);
  EXPECT_GT(big.size(), 1u << 20);
  EXPECT_TRUE(big == lumo::takenJson("rev-8", m));

  EXPECT_FALSE(lumo::writeTaken(dir / "missing", "rev-7", m, &err));
  EXPECT_NE(err.find("missing/tlm_taken.json"), std::string::npos) << err;
}
