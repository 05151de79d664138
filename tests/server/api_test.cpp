#include "server/api.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "server/served.h"

namespace {

using lumo::kUnitSep;

class Api : public tl::Served {};

const std::string kNoAnswer = "no answer from 127.0.0.1";

TEST_F(Api, LatestRelease) {
  struct Case {
    const char* body;  // nullptr: no document (404)
    bool ok;
    const char* version;
    const char* url;
    const char* error;
  } cases[] = {
      {R"({"version":"1.2.0","url":"/files/p.zip","notes":"n","extra":[1]})", true, "1.2.0",
       "/files/p.zip", ""},
      {R"({"version":7,"url":"/files/p.zip"})", false, "", "/files/p.zip",
       "no version published for xplane"},
      {R"(["1.2.0"])", false, "", "", "no version published for xplane"},
      {R"({"version":"1.2.0","url":{"a":1}})", true, "1.2.0", "", ""},
      {R"({"version":"1.2.0",})", false, "old", "old", "could not read the version answer"},
      {R"({"version":"1.2.0"} // note)", false, "old", "old", "could not read the version answer"},
      {"", false, "old", "old", kNoAnswer.c_str()},
      {nullptr, false, "old", "old", kNoAnswer.c_str()},
  };
  for (const auto& c : cases) {
    if (c.body) put("releases/xplane.json", c.body);
    else drop("releases/xplane.json");
    lumo::Release r{"old", "old", "old"};
    std::string error;
    EXPECT_EQ(lumo::fetchLatest(host(), port(), r, error, "xplane"), c.ok) << c.body;
    EXPECT_EQ(r.version, c.version) << c.body;
    EXPECT_EQ(r.url, c.url) << c.body;
    EXPECT_EQ(error, c.error) << c.body;
    EXPECT_EQ(lastTarget(), "/api/version?pub=1&platform=xplane");
  }
}

TEST_F(Api, ConditionalMapsRequest) {
  put("geometry.json", R"({"rev":"r20250114","airports":{"EDDF":{"lead":[[[50,8],[50.1,8.1]]]}}})");
  struct Case {
    std::string known;
    std::string target;
    bool notModified;
  } cases[] = {
      {"r20250114", "/api/suppress/geometry?rev=r20250114", true},
      {"r20240101", "/api/suppress/geometry?rev=r20240101", false},  // outdated: full answer
      {std::string(64, 'a'), "/api/suppress/geometry?rev=" + std::string(64, 'a'), false},
      {std::string(65, 'a'), "/api/suppress/geometry", false},
      {"r2025-01", "/api/suppress/geometry", false},
      {"r2025.1", "/api/suppress/geometry", false},
      {"r\xc3\xa9", "/api/suppress/geometry", false},
      {"", "/api/suppress/geometry", false},
  };
  for (const auto& c : cases) {
    lumo::Geometry g;
    g.rev = "in hand";
    bool notModified = !c.notModified;
    std::string error;
    ASSERT_TRUE(lumo::fetchGeometry(host(), port(), g, error, c.known, notModified)) << error;
    EXPECT_EQ(lastTarget(), c.target);
    EXPECT_EQ(notModified, c.notModified) << c.known;
    // A 304 leaves the maps in hand untouched; anything else reads the answer.
    EXPECT_EQ(g.rev, c.notModified ? "in hand" : "r20250114") << c.known;
    EXPECT_EQ(g.airports.size(), c.notModified ? 0u : 1u);
    EXPECT_EQ(error, "");
  }
}

// A 304 is only "unchanged" when we asked whether it was.
TEST(ApiMaps, NotModifiedToAnUnconditionalRequestIsNoAnswer) {
  httplib::Server svr;
  svr.set_keep_alive_timeout(1);
  svr.Get(".*", [](const httplib::Request&, httplib::Response& res) { res.status = 304; });
  int port = svr.bind_to_any_port("127.0.0.1");
  std::thread t([&] { svr.listen_after_bind(); });
  while (!svr.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  lumo::Geometry g;
  bool notModified = true;
  std::string error;
  EXPECT_FALSE(lumo::fetchGeometry("127.0.0.1", port, g, error, "r-1", notModified));
  EXPECT_FALSE(notModified);
  EXPECT_EQ(error, kNoAnswer);
  svr.stop();
  t.join();
}

TEST_F(Api, MapsAnswerFailures) {
  struct Case {
    const char* body;  // nullptr: no document
    const char* error;
  } cases[] = {
      {nullptr, kNoAnswer.c_str()},
      {"", kNoAnswer.c_str()},
      {"{\"airports\":", "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"EDDF":{}}})", "no airports in the database"},
      {R"({"airports":[]})", "no airports in the database"},
      {R"({"rev":"r1"})", "no airports in the database"},
      {R"([1,2])", "no airports in the database"},
      // Values the format cannot stand for, at every level.
      {R"({"rev":5,"airports":{"A":{"lead":[[[1,2],[3,4]]]}}})",
       "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":[1,2]}})", "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":null}})", "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":{"variants":{"P":"x"}}}})",
       "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":{"bars":[[["51",2],[3,4]]]}}})",
       "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":{"lead":[[[1,true],[3,4]]]}}})",
       "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":{"lead":[{"a":[null,1],"b":[3,4]}]}}})",
       "127.0.0.1 sent something we could not read"},
      {R"({"airports":{"A":{"variants":{"P":{"bars":[[[1,2],[3,{}]]]}}}}})",
       "127.0.0.1 sent something we could not read"},
  };
  for (const auto& c : cases) {
    if (c.body) put("geometry.json", c.body);
    else drop("geometry.json");
    lumo::Geometry g;
    bool notModified = true;
    std::string error;
    EXPECT_FALSE(lumo::fetchGeometry(host(), port(), g, error, "", notModified)) << c.body;
    EXPECT_EQ(error, c.error) << (c.body ? c.body : "(none)");
    EXPECT_FALSE(notModified);
    EXPECT_TRUE(g.airports.empty()) << c.body;
  }
}

TEST_F(Api, PublishersOfAnAirport) {
  put("publishers/EDDF.json", R"({"publishers":["Alpha",42,null,"Beta",["x"]]})");
  put("publishers/K-X1.json", R"({"publishers":"Alpha"})");
  put("publishers/KAB.json", R"(["Alpha"])");
  put("publishers/KBAD.json", R"({"publishers":["Alpha")");
  struct Case {
    std::string icao;
    std::string target;
    bool ok;
    std::vector<std::string> publishers;  // after "Prior"
    std::string error;
  } cases[] = {
      {"EDDF", "/api/scenery/publishers?icao=EDDF&platform=xplane", true,
       {"Prior", "Alpha", "Beta"}, ""},
      {"K-X1", "/api/scenery/publishers?icao=K-X1&platform=xplane", true, {"Prior"}, ""},
      {"KAB", "/api/scenery/publishers?icao=KAB&platform=xplane", true, {"Prior"}, ""},
      {"K AB", "/api/scenery/publishers?icao=K%20AB&platform=xplane", true, {"Prior"}, ""},
      {"KBAD", "/api/scenery/publishers?icao=KBAD&platform=xplane", false, {"Prior"},
       "KBAD: could not read the publisher list"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> pubs{"Prior"};
    std::string error;
    EXPECT_EQ(lumo::fetchPublishersFor(host(), port(), c.icao, pubs, error), c.ok) << c.icao;
    EXPECT_EQ(lastTarget(), c.target);
    EXPECT_EQ(pubs, c.publishers) << c.icao;
    EXPECT_EQ(error, c.error) << c.icao;
  }
}

TEST_F(Api, OrvelAirportList) {
  const std::string U(1, kUnitSep);
  struct Case {
    const char* body;
    bool ok;
    std::set<std::string> icaos, pairs;
    const char* error;
  } cases[] = {
      {R"({"airports":[{"platform":"xplane","icao":"EDDF"},
                      {"platform":"xplane","icao":"EDDF","publisher":"Foo Bar"},
                      {"platform":"msfs","icao":"EGLL"},
                      {"icao":"LFPG"},
                      {"platform":"xplane","icao":""},
                      {"platform":"xplane","publisher":"X"},
                      {"platform":"xplane","icao":"KSEA","publisher":""}]})",
       true, {"EDDF", "KSEA"}, {"EDDF" + U, "EDDF" + U + "Foo Bar", "KSEA" + U}, ""},
      {R"({"airports":[]})", true, {}, {}, ""},
      {R"({"airports":[{"platform":"xplane","icao":"EDDF"},7]})", false, {"EDDF"}, {"EDDF" + U},
       "could not read the ORVEL airport list"},
      {R"({"airports":[{"platform":"xplane","icao":5}]})", false, {}, {},
       "could not read the ORVEL airport list"},
      {R"({"airports":[{"platform":null,"icao":"EDDF"}]})", false, {}, {},
       "could not read the ORVEL airport list"},
      {R"({"airports":[{"platform":"xplane","icao":"EDDF","publisher":["P"]}]})", false, {}, {},
       "could not read the ORVEL airport list"},
      {R"({"airports":{"EDDF":{}}})", false, {}, {}, "no airport list"},
      {R"({"list":[]})", false, {}, {}, "no airport list"},
      {R"([{"platform":"xplane","icao":"EDDF"}])", false, {}, {}, "no airport list"},
      {R"({"airports":[)", false, {}, {}, "could not read the ORVEL airport list"},
      {"", false, {}, {}, kNoAnswer.c_str()},
  };
  for (const auto& c : cases) {
    put("orvel/airports.json", c.body);
    std::set<std::string> icaos, pairs;
    std::string error;
    EXPECT_EQ(lumo::fetchOrvelAirports(host(), port(), icaos, pairs, error), c.ok) << c.body;
    EXPECT_EQ(icaos, c.icaos) << c.body;
    EXPECT_EQ(pairs, c.pairs) << c.body;
    EXPECT_EQ(error, c.error) << c.body;
  }
  EXPECT_EQ(lastTarget(), "/api/orvel/airports");
}

TEST_F(Api, OrvelNetworkRequests) {
  put("orvel/EDDF/net.json", R"({"available":true,"geom":"canonical","pubRev":"c1",
      "nodes":{"1":[50,8],"2":[50.001,8.001]},"edges":[{"a":"1","b":"2"}]})");
  put("orvel/EDDF/pub/Foo%20Bar%26Co.json", R"({"available":true,"geom":"publisher",
      "pubRev":"p7","nodes":{"1":[50,8],"2":[50.001,8.001]},"edges":[{"a":"1","b":"2"}]})");
  struct Case {
    std::string icao, publisher, target;
    bool available, byPublisher;
    std::string pubRev;
  } cases[] = {
      {"EDDF", "", "/api/orvel/EDDF/net?platform=xplane", true, false, "c1"},
      {"EDDF", "Foo Bar&Co", "/api/orvel/EDDF/net?platform=xplane&publisher=Foo%20Bar%26Co", true,
       true, "p7"},
      // A code cannot reach another endpoint or folder through the path.
      {"A/B?x", "", "/api/orvel/A%2FB%3Fx/net?platform=xplane", false, false, ""},
      {"..", "", "/api/orvel/%2E%2E/net?platform=xplane", false, false, ""},
  };
  for (const auto& c : cases) {
    lumo::OrvelNet n;
    std::string error;
    EXPECT_EQ(lumo::fetchOrvelNet(host(), port(), c.icao, c.publisher, n, error), true) << error;
    EXPECT_EQ(lastTarget(), c.target);
    EXPECT_EQ(n.available, c.available) << c.target;
    EXPECT_EQ(n.byPublisher, c.byPublisher) << c.target;
    EXPECT_EQ(n.pubRev, c.pubRev) << c.target;
    EXPECT_EQ(n.edges.size(), c.available ? 1u : 0u);
  }
}

TEST_F(Api, OrvelNetworkAnswers) {
  using Line = std::vector<std::pair<double, double>>;
  struct Case {
    const char* body;
    bool ok;
    bool available;
    const char* pubRev;
    std::vector<Line> edges;
    const char* error;
  } cases[] = {
      {R"({"available":false,"pubRev":"r"})", true, false, "r", {}, ""},
      {R"({})", true, false, "", {}, ""},
      {R"({"available":true,"edges":[]})", false, true, "", {}, "EDDF: no network geometry"},
      {R"({"available":true,"nodes":{}})", false, true, "", {}, "EDDF: no network geometry"},
      {R"({"available":true,"nodes":{},"edges":{}})", false, true, "", {},
       "EDDF: no network geometry"},
      {R"({"available":"yes"})", false, false, "", {}, "EDDF: could not read the network"},
      {R"({"available":true,"geom":1})", false, true, "", {}, "EDDF: could not read the network"},
      {R"({"available":true,"pubRev":2})", false, true, "", {},
       "EDDF: could not read the network"},
      // Edges: a node that is not there, an unusable node point, shape points
      // usable or not, a shape that is no array.
      {R"({"available":true,"pubRev":"p","nodes":{"1":[50,8],"2":[51,9],"3":[52],"4":["52",9]},
          "edges":[{"a":"9","b":"2"},
                   {"a":"1","b":"2","shape":[[50.5,8.5],[1],"x",[50.7,"8"],[50.8,8.8,99]]},
                   {"a":"3","b":"2"},{"a":"1","b":"4"},
                   {"a":"2","b":"1","shape":{"p":[1,1]}}]})",
       true, true, "p", {{{50, 8}, {50.5, 8.5}, {50.8, 8.8}, {51, 9}}, {{51, 9}, {50, 8}}}, ""},
      // Every edge skipped: false with no message.
      {R"({"available":true,"nodes":{"1":[50,8]},"edges":[{"a":"1","b":"2"},{"b":"1"}]})", false,
       true, "", {}, ""},
      {R"({"available":true,"nodes":[[50,8]],"edges":[{"a":"0","b":"0"}]})", false, true, "", {},
       ""},
      // A fault keeps what was set before it.
      {R"({"available":true,"pubRev":"p","nodes":{"1":[50,8],"2":[51,9]},
          "edges":[{"a":"1","b":"2"},3]})",
       false, true, "p", {{{50, 8}, {51, 9}}}, "EDDF: could not read the network"},
      {R"({"available":true,"nodes":{"1":[50,8]},"edges":[{"a":1,"b":"1"}]})", false, true, "",
       {}, "EDDF: could not read the network"},
      {R"([])", false, false, "", {}, "EDDF: could not read the network"},
      {R"({"available":true,)", false, false, "", {}, "EDDF: could not read the network"},
      {"", false, false, "", {}, "no answer for EDDF"},
  };
  for (const auto& c : cases) {
    put("orvel/EDDF/net.json", c.body);
    lumo::OrvelNet n;
    std::string error;
    EXPECT_EQ(lumo::fetchOrvelNet(host(), port(), "EDDF", "", n, error), c.ok) << c.body;
    EXPECT_EQ(n.available, c.available) << c.body;
    EXPECT_EQ(n.pubRev, c.pubRev) << c.body;
    std::vector<Line> got;
    for (const auto& e : n.edges) {
      got.emplace_back();
      for (const auto& p : e) got.back().emplace_back(p.lat, p.lon);
    }
    EXPECT_EQ(got, c.edges) << c.body;
    EXPECT_EQ(error, c.error) << c.body;
  }
}

// Bodies no honest server sends; each is reported with the endpoint's own
// "unreadable" message, without a crash or a hang.
TEST_F(Api, HostileBodies) {
  const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
  const std::string deepObj = [] {
    std::string s;
    for (int i = 0; i < 300; ++i) s += "{\"airports\":";
    s += "1";
    for (int i = 0; i < 300; ++i) s += "}";
    return s;
  }();
  const std::string bodies[] = {
      deep,
      deepObj,
      R"({"version":1e400,"airports":1e400,"publishers":[1e400],"available":1e400})",
      R"({"version":NaN,"airports":{"A":{"lead":[[[NaN,1],[2,3]]]}}})",
      "{\"version\":\"\xff\xfe\",\"publishers\":[\"\xc3\"],\"airports\":{\"\xed\xa0\x80\":{}}}",
      R"({"version":"1.0","airports":{"A":{"lead":[[[1,2],[3,)",
      std::string("{\"version\":\"1\0\"}", 16),
  };
  for (const auto& body : bodies) {
    put("releases/xplane.json", body);
    put("geometry.json", body);
    put("publishers/EDDF.json", body);
    put("orvel/airports.json", body);
    put("orvel/EDDF/net.json", body);
    const std::string shown = body.substr(0, 60);
    std::string error;
    lumo::Release r;
    EXPECT_FALSE(lumo::fetchLatest(host(), port(), r, error, "xplane")) << shown;
    EXPECT_EQ(error, "could not read the version answer") << shown;
    lumo::Geometry g;
    bool nm = false;
    EXPECT_FALSE(lumo::fetchGeometry(host(), port(), g, error, "", nm)) << shown;
    EXPECT_EQ(error, "127.0.0.1 sent something we could not read") << shown;
    std::vector<std::string> pubs;
    EXPECT_FALSE(lumo::fetchPublishersFor(host(), port(), "EDDF", pubs, error)) << shown;
    EXPECT_EQ(error, "EDDF: could not read the publisher list") << shown;
    std::set<std::string> icaos, pairs;
    EXPECT_FALSE(lumo::fetchOrvelAirports(host(), port(), icaos, pairs, error)) << shown;
    EXPECT_EQ(error, "could not read the ORVEL airport list") << shown;
    lumo::OrvelNet n;
    EXPECT_FALSE(lumo::fetchOrvelNet(host(), port(), "EDDF", "", n, error)) << shown;
    EXPECT_EQ(error, "EDDF: could not read the network") << shown;
  }
}

// Many megabytes: a large but honest maps document is read; one over the
// document cap is no answer at all (that it is cut off while it arrives,
// and not fetched twice, is the transport's test).
TEST_F(Api, LargeBodies) {
  std::string big = R"({"rev":"r1","airports":{"EDDF":{"lead":[[[50,8],[50.1,8.1]]]}},"pad":")";
  big += std::string(8u << 20, 'x') + "\"}";
  put("geometry.json", big);
  lumo::Geometry g;
  bool nm = false;
  std::string error;
  EXPECT_TRUE(lumo::fetchGeometry(host(), port(), g, error, "", nm)) << error;
  EXPECT_EQ(g.leadCount, 1);

  std::string huge(40u << 20, ' ');
  huge.front() = '{';
  huge.back() = '}';
  put("geometry.json", huge);
  lumo::Geometry g2;
  EXPECT_FALSE(lumo::fetchGeometry(host(), port(), g2, error, "", nm));
  EXPECT_EQ(error, kNoAnswer);
}

// Port 443 means HTTPS with the peer verified: a self-signed certificate is
// refused rather than trusted.
TEST(ApiTls, SelfSignedServerIsNoAnswer) {
  tl::TempDir dir;
  std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                    " -addext subjectAltName=IP:127.0.0.1 -keyout '" + (dir / "key.pem") +
                    "' -out '" + (dir / "cert.pem") + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "no openssl to make a certificate";
  httplib::SSLServer svr((dir / "cert.pem").c_str(), (dir / "key.pem").c_str());
  ASSERT_TRUE(svr.is_valid());
  svr.set_keep_alive_timeout(1);
  std::atomic<int> served{0};
  svr.Get(".*", [&](const httplib::Request&, httplib::Response& res) {
    ++served;
    res.set_content(R"({"version":"9.9.9","url":"/x","notes":""})", "application/json");
  });
  if (!svr.bind_to_port("127.0.0.1", 443)) GTEST_SKIP() << "port 443 is not free here";
  std::thread t([&] { svr.listen_after_bind(); });
  while (!svr.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  lumo::Release r;
  std::string error;
  EXPECT_FALSE(lumo::fetchLatest("127.0.0.1", 443, r, error, "xplane"));
  EXPECT_EQ(error, kNoAnswer);
  EXPECT_EQ(r.version, "");
  EXPECT_EQ(served.load(), 0);
  svr.stop();
  t.join();
}

}  // namespace
