#include "server/maps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "server/api.h"
#include "server/served.h"

namespace {

using nlohmann::json;
using Line = std::vector<std::pair<double, double>>;
using Rec = std::vector<double>;

std::vector<Line> lines(const std::vector<std::vector<orvel::Pt>>& v) {
  std::vector<Line> out;
  for (const auto& l : v) {
    out.emplace_back();
    for (const auto& p : l) out.back().emplace_back(p.lat, p.lon);
  }
  return out;
}

template <class Barx>
std::vector<std::vector<Rec>> records(const Barx& barx) {
  std::vector<std::vector<Rec>> out;
  for (const auto& bar : barx) {
    out.emplace_back();
    for (const auto& r : bar) out.back().push_back({r[0], r[1], r[2], r[3]});
  }
  return out;
}

// The maps edge cases, each served as a real answer and read by the fetch.
class Maps : public tl::Served {
 protected:
  lumo::Geometry fetched(const std::string& doc, bool expectOk = true) {
    put("geometry.json", doc);
    lumo::Geometry g;
    bool nm = false;
    std::string error;
    EXPECT_EQ(lumo::fetchGeometry(host(), port(), g, error, "", nm), expectOk) << error << "\n"
                                                                                << doc;
    return g;
  }
};

TEST_F(Maps, BarsAndTheirExtentsStayPaired) {
  struct Case {
    const char* entry;
    std::vector<Line> bars;
    std::vector<std::vector<Rec>> barx;
  } cases[] = {
      // three points, two records: one per segment, in order
      {R"({"bars":[[[1,2],[1,3],[1,4]]],"barx":[[[1,2,3,4],[5,6,7,8]]]})",
       {{{1, 2}, {1, 3}, {1, 4}}}, {{{1, 2, 3, 4}, {5, 6, 7, 8}}}},
      // no "barx": an empty extent list per bar
      {R"({"bars":[[[1,2],[1,3]],[[2,2],[2,3]]]})", {{{1, 2}, {1, 3}}, {{2, 2}, {2, 3}}}, {{}, {}}},
      // a one-number point is skipped, extra elements ignored
      {R"({"bars":[[[51.5],[1,2,77],[1,3]]]})", {{{1, 2}, {1, 3}}}, {{}}},
      // a bar of one point goes with its extents, so the next pair holds
      {R"({"bars":[[[9,9]],[[1,2],[1,3]]],"barx":[[[9,9,9,9]],[[1,2,3,4]]]})", {{{1, 2}, {1, 3}}},
       {{{1, 2, 3, 4}}}},
      // records too short or with a non-number are skipped; a fifth value ignored
      {R"({"bars":[[[1,2],[1,3],[1,4],[1,5]]],
           "barx":[[[1,2,3],[1,2,"3",4],[1,2,3,4,5],null,[true,1,1,1],[6,7,8,9]]]})",
       {{{1, 2}, {1, 3}, {1, 4}, {1, 5}}}, {{{1, 2, 3, 4}, {6, 7, 8, 9}}}},
      // "barx" shorter than "bars", or of the wrong kind
      {R"({"bars":[[[1,2],[1,3]],[[2,2],[2,3]]],"barx":[[[1,1,1,1]]]})",
       {{{1, 2}, {1, 3}}, {{2, 2}, {2, 3}}}, {{{1, 1, 1, 1}}, {}}},
      {R"({"bars":[[[1,2],[1,3]]],"barx":{"0":[[1,1,1,1]]}})", {{{1, 2}, {1, 3}}}, {{}}},
      {R"({"bars":[[[1,2],[1,3]]],"barx":["x"]})", {{{1, 2}, {1, 3}}}, {{}}},
      // bars that are not arrays
      {R"({"bars":[7,{"a":[1,2],"b":[1,3]},[[1,2],[1,3]]],"barx":[0,0,[[4,4,4,4]]]})",
       {{{1, 2}, {1, 3}}}, {{{4, 4, 4, 4}}}},
  };
  for (const auto& c : cases) {
    lumo::Geometry g = fetched(std::string(R"({"airports":{"EDDF":)") + c.entry + "}}");
    ASSERT_EQ(g.airports.count("EDDF"), 1u) << c.entry;
    const auto& base = g.airports["EDDF"].base;
    EXPECT_EQ(lines(base.bars), c.bars) << c.entry;
    EXPECT_EQ(records(base.barx), c.barx) << c.entry;
    EXPECT_EQ(g.barCount, static_cast<int>(c.bars.size()));
  }
}

TEST_F(Maps, LeadOnLines) {
  struct Case {
    const char* lead;
    std::vector<Line> want;
  } cases[] = {
      {R"([[[1,2],[1,3]],[[5,5]]])", {{{1, 2}, {1, 3}}}},
      // object form: member values in the order of the names
      {R"([{"b":[1,3],"a":[1,2],"c":"x"}])", {{{1, 2}, {1, 3}}}},
      {R"([[[1,2],[1,3],7,[4]],"x",null])", {{{1, 2}, {1, 3}}}},
  };
  for (const auto& c : cases) {
    lumo::Geometry g = fetched(std::string(R"({"airports":{"EDDF":{"lead":)") + c.lead + "}}}");
    EXPECT_EQ(lines(g.airports["EDDF"].base.lead), c.want) << c.lead;
  }
}

TEST_F(Maps, AirportsVariantsAndCounts) {
  lumo::Geometry g = fetched(R"({"rev":"r7","airports":{
      "EDDF":{"bars":[[[1,2],[1,3]],[[2,2],[2,3]]],"lead":[[[1,2],[1,3]]],
              "variants":{"Alpha":{"bars":[[[3,3],[3,4]]],"variants":{"x":{}}},
                          "Beta":{"lead":[[[4,4]]]},
                          "Gamma":{"lead":[[[5,5],[5,6]]]}}},
      "LFPG":{"variants":{"Alpha":{"lead":[[[6,6],[6,7]]]}}},
      "EMPT":{},
      "SHRT":{"bars":[[[1,1]]],"lead":[[[2,2]]],"variants":{"A":{"bars":[]}}},
      "ODD1":{"bars":{"x":1},"lead":"y","variants":[1]}}})");
  EXPECT_EQ(g.rev, "r7");
  ASSERT_EQ(g.airports.size(), 2u);
  const auto& eddf = g.airports["EDDF"];
  EXPECT_EQ(eddf.variants.size(), 2u);  // Beta has nothing left
  EXPECT_EQ(lines(eddf.variants.at("Alpha").bars), (std::vector<Line>{{{3, 3}, {3, 4}}}));
  EXPECT_EQ(eddf.variants.at("Alpha").barx.size(), 1u);
  const auto& lfpg = g.airports["LFPG"];
  EXPECT_TRUE(lfpg.base.bars.empty() && lfpg.base.lead.empty());
  EXPECT_EQ(lfpg.variants.size(), 1u);
  // Only the base maps count towards bars and lines.
  EXPECT_EQ(g.barCount, 2);
  EXPECT_EQ(g.leadCount, 1);
  EXPECT_EQ(g.variantCount, 3);

  EXPECT_EQ(fetched(R"({"airports":{"A":{"lead":[[[1,2],[1,3]]]}}})").rev, "");
  fetched(R"({"rev":"r1","airports":{"EMPT":{},"SHRT":{"bars":[[[1,1]]]}}})", false);
}

// Reading adds to what the caller passes and keeps it on an unreadable document.
TEST(MapsReader, AddsByCodeAndKeepsTheMapsOnAFault) {
  lumo::Geometry g;
  ASSERT_TRUE(lumo::parseGeometry(
      json::parse(R"({"rev":"a","airports":{"X":{"lead":[[[1,2],[1,3]]]}}})"), g));
  ASSERT_TRUE(lumo::parseGeometry(
      json::parse(R"({"rev":"b","airports":{"Y":{"lead":[[[1,2],[1,3]]]}}})"), g));
  EXPECT_EQ(g.airports.size(), 2u);
  EXPECT_EQ(g.leadCount, 2);
  EXPECT_EQ(g.rev, "b");
  std::string fault;
  EXPECT_FALSE(lumo::parseGeometry(
      json::parse(R"({"rev":"c","airports":{"Z":{"lead":[[[1,2],[1,3]]]},"ZZ":[]}})"), g, &fault));
  EXPECT_FALSE(fault.empty());
  EXPECT_EQ(g.airports.size(), 2u);
  EXPECT_EQ(g.rev, "b");
  EXPECT_EQ(g.leadCount, 2);
}

// Fixed-seed structural fuzz: random parts of valid documents are replaced
// by values of every kind. The readers must neither throw nor break the
// shape their users rely on.
json randomValue(std::mt19937& rng, int depth) {
  switch (rng() % (depth > 2 ? 8 : 11)) {
    case 0: return nullptr;
    case 1: return rng() % 2 == 0;
    case 2: return static_cast<int>(rng() % 200) - 100;
    case 3: return std::ldexp(static_cast<double>(rng()), static_cast<int>(rng() % 2000) - 1000);
    case 4: return "s" + std::to_string(rng() % 5);
    case 5: return json::array();
    case 6: return json::object();
    case 7: return json::array({static_cast<double>(rng() % 90), static_cast<double>(rng() % 180)});
    case 8: {
      json a = json::array();
      for (int i = rng() % 4; i > 0; --i) a.push_back(randomValue(rng, depth + 1));
      return a;
    }
    default: {
      json o = json::object();
      const char* keys[] = {"bars", "barx", "lead", "variants", "a", "b", "1", "2", "shape"};
      for (int i = rng() % 4; i > 0; --i) o[keys[rng() % 9]] = randomValue(rng, depth + 1);
      return o;
    }
  }
}

void mutate(json& doc, std::mt19937& rng) {
  json* at = &doc;
  for (int step = rng() % 7; step > 0; --step) {
    if (at->is_object() && !at->empty()) {
      auto it = at->begin();
      std::advance(it, rng() % at->size());
      at = &*it;
    } else if (at->is_array() && !at->empty()) {
      at = &(*at)[rng() % at->size()];
    } else {
      break;
    }
  }
  *at = randomValue(rng, 0);
}

TEST(MapsReader, FuzzedDocuments) {
  const json seed = json::parse(R"({"rev":"r1","airports":{
      "EDDF":{"bars":[[[50,8],[50,8.1],[50,8.2]],[[51,8],[51,8.1]]],
              "barx":[[[1,2,3,4],[5,6,7,8]],[[1,1,1,1]]],
              "lead":[[[50,8],[50.1,8]],{"a":[1,2],"b":[3,4]}],
              "variants":{"P":{"bars":[[[1,1],[1,2]]],"barx":[[[1,1,1,1]]],"lead":[[[2,2],[2,3]]]}}},
      "LFPG":{"lead":[[[49,2],[49.1,2.1]]]}}})");
  std::mt19937 rng(20250114);
  int readable = 0;
  for (int i = 0; i < 4000; ++i) {
    json doc = seed;
    for (int m = 1 + rng() % 3; m > 0; --m) mutate(doc, rng);
    lumo::Geometry g;
    bool ok = false;
    ASSERT_NO_THROW(ok = lumo::parseGeometry(doc, g)) << doc.dump();
    if (!ok) continue;
    ++readable;
    int bars = 0, leads = 0, variants = 0;
    auto check = [&](const orveldb::AirportScope& s) {
      ASSERT_EQ(s.bars.size(), s.barx.size()) << doc.dump();
      for (const auto& b : s.bars) ASSERT_GE(b.size(), 2u) << doc.dump();
      for (const auto& l : s.lead) ASSERT_GE(l.size(), 2u) << doc.dump();
      for (const auto& recs : s.barx)
        for (const auto& r : recs)
          for (int k = 0; k < 4; ++k) ASSERT_TRUE(std::isfinite(r[k]));
      ASSERT_TRUE(s.network.empty());
    };
    for (const auto& [code, a] : g.airports) {
      check(a.base);
      for (const auto& [p, v] : a.variants) {
        check(v);
        ASSERT_FALSE(v.bars.empty() && v.lead.empty()) << doc.dump();
      }
      ASSERT_FALSE(a.base.bars.empty() && a.base.lead.empty() && a.variants.empty());
      bars += static_cast<int>(a.base.bars.size());
      leads += static_cast<int>(a.base.lead.size());
      variants += static_cast<int>(a.variants.size());
    }
    ASSERT_EQ(g.barCount, bars);
    ASSERT_EQ(g.leadCount, leads);
    ASSERT_EQ(g.variantCount, variants);
  }
  EXPECT_GT(readable, 0);  // the fuzz reaches the reading, not only the refusals
}

TEST(NetworkReader, FuzzedAnswers) {
  const json seed = json::parse(R"({"available":true,"geom":"publisher","pubRev":"p1",
      "nodes":{"1":[50,8],"2":[50.1,8.1],"3":[50.2,8.2]},
      "edges":[{"a":"1","b":"2","shape":[[50.05,8.05]]},{"a":"2","b":"3"}]})");
  std::mt19937 rng(7);
  for (int i = 0; i < 4000; ++i) {
    json doc = seed;
    for (int m = 1 + rng() % 3; m > 0; --m) mutate(doc, rng);
    std::string body = doc.dump();
    // Now and then cut the text, too.
    if (rng() % 5 == 0) body.resize(rng() % (body.size() + 1));
    lumo::OrvelNet n;
    std::string error;
    bool ok = false;
    ASSERT_NO_THROW(ok = lumo::readOrvelNet(body, "EDDF", n, error)) << body;
    if (ok) {
      ASSERT_TRUE(error.empty());
      ASSERT_TRUE(n.edges.empty() ? !n.available : n.available) << body;
    } else if (error.empty()) {
      ASSERT_TRUE(n.available && n.edges.empty()) << body;
    }
    for (const auto& e : n.edges) {
      ASSERT_GE(e.size(), 2u) << body;
      for (const auto& p : e) ASSERT_TRUE(std::isfinite(p.lat) && std::isfinite(p.lon));
    }
  }
}

}  // namespace
