// A folder built from real scenery, served, and read back with the
// launcher's own client: what the launcher gets must be the geometry the
// scenery gave, point for point.
#include "tools/devserver/devserver.h"

#include <gtest/gtest.h>

#include <fstream>

#include "net/net.h"
#include "server/api.h"
#include "support/tmpdir.h"
#include "tools/geomkit/geomkit.h"

namespace {

using lumo::kUnitSep;

std::vector<std::vector<std::pair<double, double>>> pairs(const orvel::Lines& v) {
  std::vector<std::vector<std::pair<double, double>>> out;
  for (const auto& l : v) {
    out.emplace_back();
    for (const auto& p : l) out.back().emplace_back(p.lat, p.lon);
  }
  return out;
}

TEST(DevServerBuild, ServesTheSceneryItWasBuiltFrom) {
  tl::TempDir dir;
  const std::string apt = tl::testData("lit-airports.dat");
  const std::string addOnApt = tl::testData("lzib.dat");
  const std::string zip = std::string("PK\x03\x04", 4) + std::string(3000, 'z');
  tl::writeFile(dir / "in/Taxilume plugin.zip", zip);

  devserver::BuildOptions opt;
  opt.aptDat = apt;
  opt.addOns = {{"Foo Bar&Co", addOnApt}};
  opt.rev = "r42";
  opt.pluginZip = dir / "in/Taxilume plugin.zip";
  opt.pluginVersion = "3.1.4";
  int built = 0;
  std::string err;
  ASSERT_TRUE(devserver::buildFolder(opt, dir / "srv", built, err)) << err;

  orveldb::ScopeMap base, addOn;
  ASSERT_TRUE(geomkit::deriveFile(apt, base, err)) << err;
  ASSERT_TRUE(geomkit::deriveFile(addOnApt, addOn, err)) << err;
  int withMap = 0;
  for (const auto& [code, s] : base) withMap += (!s.bars.empty() || !s.lead.empty());
  ASSERT_GT(withMap, 0);
  EXPECT_EQ(built, withMap);

  devserver::Server server;
  ASSERT_TRUE(server.start(dir / "srv", 0, err)) << err;
  const int port = server.port();

  lumo::Geometry g;
  bool notModified = false;
  ASSERT_TRUE(lumo::fetchGeometry("127.0.0.1", port, g, err, "", notModified)) << err;
  EXPECT_EQ(g.rev, "r42");
  EXPECT_EQ(static_cast<int>(g.airports.size()), withMap);
  for (const auto& [code, s] : base) {
    if (s.bars.empty() && s.lead.empty()) continue;
    ASSERT_EQ(g.airports.count(code), 1u) << code;
    EXPECT_EQ(pairs(g.airports[code].base.bars), pairs(s.bars)) << code;
    EXPECT_EQ(pairs(g.airports[code].base.lead), pairs(s.lead)) << code;
    EXPECT_EQ(g.airports[code].base.barx.size(), s.bars.size());
  }
  ASSERT_EQ(g.airports.count("LZIB"), 1u);
  ASSERT_EQ(g.airports["LZIB"].variants.count("Foo Bar&Co"), 1u);
  EXPECT_EQ(pairs(g.airports["LZIB"].variants["Foo Bar&Co"].bars), pairs(addOn["LZIB"].bars));
  ASSERT_TRUE(lumo::fetchGeometry("127.0.0.1", port, g, err, "r42", notModified)) << err;
  EXPECT_TRUE(notModified);

  std::vector<std::string> pubs;
  ASSERT_TRUE(lumo::fetchPublishersFor("127.0.0.1", port, "LZIB", pubs, err)) << err;
  EXPECT_EQ(pubs, std::vector<std::string>{"Foo Bar&Co"});

  std::set<std::string> icaos, pairSet;
  ASSERT_TRUE(lumo::fetchOrvelAirports("127.0.0.1", port, icaos, pairSet, err)) << err;
  ASSERT_TRUE(icaos.count("LZIB")) << "LZIB has a taxi network";
  EXPECT_TRUE(pairSet.count(std::string("LZIB") + kUnitSep + "Foo Bar&Co"));
  for (const auto& code : icaos) {
    if (!pairSet.count(code + kUnitSep)) continue;
    lumo::OrvelNet n;
    ASSERT_TRUE(lumo::fetchOrvelNet("127.0.0.1", port, code, "", n, err)) << code << ": " << err;
    EXPECT_TRUE(n.available);
    EXPECT_FALSE(n.byPublisher);
    EXPECT_EQ(pairs(n.edges), pairs(base[code].network)) << code;
  }
  lumo::OrvelNet pn;
  ASSERT_TRUE(lumo::fetchOrvelNet("127.0.0.1", port, "LZIB", "Foo Bar&Co", pn, err)) << err;
  EXPECT_TRUE(pn.byPublisher);
  EXPECT_EQ(pairs(pn.edges), pairs(addOn["LZIB"].network));

  lumo::Release r;
  ASSERT_TRUE(lumo::fetchLatest("127.0.0.1", port, r, err, "xplane")) << err;
  EXPECT_EQ(r.version, "3.1.4");
  std::string body;
  ASSERT_TRUE(net::download("127.0.0.1", port, r.url, body)) << r.url;
  EXPECT_EQ(body, zip);
}

TEST(DevServerBuild, Refusals) {
  tl::TempDir dir;
  auto opts = [](std::string apt, std::string rev, std::vector<devserver::AddOn> addOns,
                 std::string zip) {
    devserver::BuildOptions o;
    o.aptDat = apt;
    o.rev = rev;
    o.addOns = addOns;
    o.pluginZip = zip;
    return o;
  };
  const std::string lzib = tl::testData("lzib.dat");
  struct Case {
    devserver::BuildOptions opt;
    std::string error;  // empty: any (the geometry kit's own message)
  } cases[] = {
      {opts(dir / "absent.dat", "r1", {}, ""), ""},
      {opts(lzib, "r-1", {}, ""), "the revision must be 1 to 64 letters and digits"},
      {opts(lzib, "r1", {{"", ""}}, ""), "an add-on needs a publisher name"},
      {opts(lzib, "r1", {}, dir / "absent.zip"), "could not read " + (dir / "absent.zip")},
  };
  for (auto& c : cases) {
    int n = -1;
    std::string err;
    EXPECT_FALSE(devserver::buildFolder(c.opt, dir / "srv", n, err));
    if (c.error.empty()) EXPECT_FALSE(err.empty());
    else EXPECT_EQ(err, c.error);
    // Nothing is published that would make a half-built folder look whole.
    EXPECT_FALSE(std::ifstream(dir / "srv/geometry.json").good());
  }
}

}  // namespace
