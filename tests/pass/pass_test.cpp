// The suppression pass end to end: real slices in a temporary X-Plane
// folder, maps and networks from the local server, results checked on disk.
#include "pass/pass.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "packs/choices.h"
#include "scenery/files.h"
#include "scenery/manifest.h"
#include "scenery/restore.h"
#include "world.h"

namespace fs = std::filesystem;
using tlpass::Pack;
using tlpass::World;

namespace {

// The signature the manifest must carry after the given network revisions
// were applied, computed here from first principles (FNV-1a over the
// revisions' bytes, from the pass's own starting value).
std::string sigAfter(const std::string& rev, const std::vector<std::string>& netRevs) {
  uint64_t h = 0x14650fb0739d0383ULL;
  for (const auto& r : netRevs)
    for (unsigned char b : r) h = (h ^ b) * 0x100000001b3ULL;
  if (netRevs.empty()) return rev;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%012llx", static_cast<unsigned long long>(h & 0xffffffffffffULL));
  return rev + "+" + hex;
}

// Gives a served network its own revision so the signature shows which
// networks went into it; returns its number of edges.
size_t tagNetwork(World& w, const std::string& rel, const std::string& pubRev) {
  auto j = nlohmann::json::parse(tl::readFile(w.served + "/" + rel));
  j["pubRev"] = pubRev;
  w.serveFile(rel, j.dump());
  return j["edges"].size();
}

// Holds every changed apt.dat to its backup and adds up its splits.
void expectOnlyLightsAndSplits(const std::string& file, int& splits) {
  int removed = 0;
  std::string why;
  EXPECT_TRUE(tlpass::onlyLightsAndSplits(tl::readFile(file + ".taxilume-orig"), tl::readFile(file), removed,
                                          splits, why))
      << file << ": " << why;
  EXPECT_GT(removed, 0) << file;
}

std::vector<std::string> rowsOf(const nlohmann::json& m, const char* key) {
  std::vector<std::string> out;
  for (const auto& r : m) out.push_back(r.value(key, ""));
  return out;
}

// Packs of every kind in front of the global file:
//   Foo Bar - Frankfurt   EDDF, its publisher's own map and network
//   Twin - Rochester      KROC, two publishers, no pick: left alone
//   Plain Innsbruck       LOWI, no add-on map: the base map and, although
//                         LOWI has a canonical network, no network
//   Innsbruck Copy        LOWI again: the pack above owns it
//   Hidden Bratislava     LZIB, dismissed: left alone
void buildPackWorld(World& w) {
  w.build({{"Foo Bar - Frankfurt", {"EDDF"}},
           {"Twin - Rochester", {"KROC"}},
           {"Plain Innsbruck", {"LOWI"}},
           {"Innsbruck Copy", {"LOWI"}},
           {"Hidden Bratislava", {"LZIB"}}},
          {"LZIB", "EDDF", "KROC", "LOWI", "NZAA", "EBSW"});
  w.serve({{"Foo Bar", "Foo Bar - Frankfurt"}});
  // EDDF's base map is taken away: only the publisher's own map can claim it.
  auto doc = nlohmann::json::parse(tl::readFile(w.served + "/geometry.json"));
  ASSERT_TRUE(doc["airports"].contains("EDDF"));
  ASSERT_TRUE(doc["airports"]["EDDF"]["variants"].contains("Foo Bar"));
  doc["airports"]["EDDF"].erase("bars");
  doc["airports"]["EDDF"].erase("barx");
  doc["airports"]["EDDF"].erase("lead");
  w.serveFile("geometry.json", doc.dump());
  w.serveFile("publishers/KROC.json", R"({"publishers":["Alpha","Beta"]})");
  ASSERT_TRUE(lumo::saveDismissedPacks(w.plugin, {lumo::packKeyOf("Hidden Bratislava")}));
  w.start();
}

TEST(Pass, PacksOfEveryKindThenRestore) {
  World w;
  buildPackWorld(w);
  const size_t edges = tagNetwork(w, "orvel/EDDF/pub/Foo%20Bar.json", "eddf-foobar-3");
  const auto before = w.snapshot();
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);
  w.server.resetCounts();

  const tlpass::PassRun run = w.pass(maps, scan, {}, /*quitRestore=*/false);
  const lumo::PassResult& r = run.result;
  ASSERT_TRUE(r.ok) << r.error;

  // Changed: the two packs that claimed an airport; everything else as it was.
  const std::string fra = w.packFile("Foo Bar - Frankfurt"), inn = w.packFile("Plain Innsbruck");
  int splitsFra = 0, splitsInn = 0;
  expectOnlyLightsAndSplits(fra, splitsFra);
  expectOnlyLightsAndSplits(inn, splitsInn);
  for (const auto& f : before) {
    if (f.first != fra && f.first != inn) {
      EXPECT_TRUE(tl::readFile(f.first) == f.second) << f.first;
    }
  }
  EXPECT_FALSE(fs::exists(w.globalFile() + ".taxilume-orig"));

  EXPECT_EQ(r.airports, 2);
  EXPECT_EQ(r.files, 2);
  EXPECT_EQ(r.exclusions, splitsFra + splitsInn);
  EXPECT_EQ(r.ownMapPacks, 1);
  EXPECT_EQ(r.notSuppressed, 2);
  EXPECT_TRUE(r.error.empty());

  const std::vector<std::string> want = {
      "   EDDF: ORVEL network " + std::to_string(edges) +
          " edge(s) [Foo Bar's network] - its taxiway centreline lights go with the pass",
      "   " + fra + "  - 1 airport(s), " + std::to_string(splitsFra) + " exclusion(s)  [Foo Bar's map]",
      "   KROC not suppressed - Twin - Rochester: needs a publisher picked",
      "   " + w.packFile("Twin - Rochester") + "  - nothing left to claim  [base map]",
      "   " + inn + "  - 1 airport(s), " + std::to_string(splitsInn) + " exclusion(s)  [base map]",
      "   " + w.packFile("Innsbruck Copy") + "  - nothing left to claim  [base map]",
      "   LZIB not suppressed - Hidden Bratislava",
      "   " + w.packFile("Hidden Bratislava") + "  - nothing left to claim  [base map]",
      // Nothing is pending any more: the global file is not even read.
  };
  EXPECT_EQ(run.lines, want);
  EXPECT_EQ(w.server.log(), (std::vector<std::string>{
                                "/api/orvel/airports",
                                "/api/orvel/EDDF/net?platform=xplane&publisher=Foo%20Bar"}));

  // The manifest: one row per claimed airport, in file order, with the size
  // the file has now and the network's revision folded into the signature.
  const auto m = tlpass::manifestOf(w);
  EXPECT_EQ(rowsOf(m, "file"), (std::vector<std::string>{fra, inn}));
  EXPECT_EQ(rowsOf(m, "icao"), (std::vector<std::string>{"EDDF", "LOWI"}));
  for (const auto& row : m) {
    const std::string f = row.value("file", "");
    EXPECT_EQ(row.value("backup", ""), f + ".taxilume-orig");
    EXPECT_EQ(row.value("size", int64_t{-1}), static_cast<int64_t>(fs::file_size(f)));
    EXPECT_EQ(row.value("sig", ""), sigAfter("r7", {"eddf-foobar-3"}));
    EXPECT_EQ(row.value("owner", ""), "launcher");
    EXPECT_EQ(row.value("quitrestore", true), false);
  }

  // The taken record: the claimed airports only, and EDDF's runs include
  // stretches taken only because they lie on the publisher's network.
  const auto taken = nlohmann::json::parse(tl::readFile(w.plugin + "/tlm_taken.json"));
  EXPECT_EQ(taken["rev"], "r7");
  int runs = 0, networkOnly = 0;
  for (auto it = taken["airports"].begin(); it != taken["airports"].end(); ++it) {
    EXPECT_TRUE(it.key() == "EDDF" || it.key() == "LOWI") << it.key();
    for (const auto& run1 : it.value()) {
      ++runs;
      EXPECT_GE(run1["p"].size(), 2u);
      const int c = run1["c"];
      EXPECT_TRUE(c == 101 || c == 103 || c == 104 || c == 105) << c;
      if (it.key() == "EDDF" && run1.contains("f")) ++networkOnly;
    }
  }
  EXPECT_EQ(r.takenRuns, runs);
  EXPECT_GT(networkOnly, 0);

  // The backups are the originals: a restore gives back every byte.
  EXPECT_EQ(lumo::restoreAll(w.plugin, {}, w.root), 2);
  tlpass::expectPristine(w, before);
}

TEST(Pass, WithoutALogTheResultIsTheSame) {
  World a, b;
  buildPackWorld(a);
  buildPackWorld(b);
  const lumo::Geometry maps = a.maps();
  const lumo::PassResult loud = a.pass(maps, a.scan(maps)).result;
  const lumo::PassResult quiet =
      lumo::applyPass(b.root, b.plugin, maps, {}, true, "127.0.0.1", b.server.port(), b.scan(maps));
  ASSERT_TRUE(loud.ok && quiet.ok);
  EXPECT_EQ(quiet.airports, loud.airports);
  EXPECT_EQ(quiet.files, loud.files);
  EXPECT_EQ(quiet.exclusions, loud.exclusions);
  EXPECT_EQ(quiet.takenRuns, loud.takenRuns);
  EXPECT_EQ(quiet.notSuppressed, loud.notSuppressed);
}

// The global file alone, with canonical networks, while the server
// misbehaves in one way or another. The pass must go on without what it
// could not get and never leave the file half done.
TEST(Pass, GlobalFileNetworksWhileTheServerMisbehaves) {
  struct Case {
    const char* what;
    std::function<void(World&)> setUp;
    std::function<void(World&, const std::string&)> hook;  // on every log line
    std::vector<std::string> lines;    // must appear, in this order
    std::vector<std::string> applied;  // revisions of the networks used
  };
  const std::vector<Case> cases = {
      {"all well", {}, {},
       {"   LOWI: ORVEL network #LOWI edge(s) [canonical] - its taxiway centreline lights go with the pass",
        "   LZIB: ORVEL network #LZIB edge(s) [canonical] - its taxiway centreline lights go with the pass"},
       {"lowi-1", "lzib-1"}},
      {"ORVEL list unreadable after one good element",
       [](World& w) {
         w.serveFile("orvel/airports.json",
                     R"({"airports":[{"icao":"LOWI","platform":"xplane"},5]})");
       },
       {},
       {"!! could not read the ORVEL airport list (could not read the ORVEL airport list) - taxi networks left lit"},
       {}},
      {"one network is garbage",
       [](World& w) { w.serveFile("orvel/LZIB/net.json", "{\"available\": tr"); }, {},
       {"!! ORVEL network LZIB: LZIB: could not read the network"}, {"lowi-1"}},
      {"a network drawn for someone's scenery",
       [](World& w) {
         auto j = nlohmann::json::parse(tl::readFile(w.served + "/orvel/LZIB/net.json"));
         j["geom"] = "publisher";
         w.serveFile("orvel/LZIB/net.json", j.dump());
       },
       {},
       {"   LZIB: ORVEL network published, but not for this scenery - taxiway lights left alone"},
       {"lowi-1"}},
      {"available but no nodes",
       [](World& w) {
         w.serveFile("orvel/LZIB/net.json",
                     R"({"available":true,"geom":"canonical","pubRev":"bare","edges":[]})");
       },
       {},
       {"!! ORVEL network LZIB: LZIB: no network geometry",
        "   LZIB: ORVEL network 0 edge(s) [canonical] - its taxiway centreline lights go with the pass"},
       {"lowi-1", "bare"}},
      // The networks a pass needs are asked for side by side before its
      // first file: a server that goes away once the first one is applied
      // has answered them all already, and the pass goes on with both.
      {"server goes down after the first network",
       {},
       [](World& w, const std::string& line) {
         if (line.rfind("   LOWI: ORVEL network", 0) == 0) w.server.stop();
       },
       {}, {"lowi-1", "lzib-1"}},
      {"a network answer over the size cap is no answer",
       [](World& w) { w.serveFile("orvel/LZIB/net.json", std::string(40u << 20, ' ')); }, {},
       {"!! ORVEL network LZIB: no answer for LZIB"}, {"lowi-1"}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.build({}, {"KROC", "LOWI", "LZIB"});
    w.serve({});
    std::map<std::string, size_t> edges;
    for (const char* code : {"LOWI", "LZIB"}) {
      const std::string lc = code == std::string("LOWI") ? "lowi-1" : "lzib-1";
      ASSERT_TRUE(fs::exists(w.served + "/orvel/" + code + "/net.json")) << code;
      edges[code] = tagNetwork(w, std::string("orvel/") + code + "/net.json", lc);
    }
    if (c.setUp) c.setUp(w);
    w.start();
    const auto before = w.snapshot();
    const lumo::Geometry maps = w.maps();

    const tlpass::PassRun run = w.pass(maps, lumo::PackScan{}, [&](const std::string& l) {
      if (c.hook) c.hook(w, l);
    });
    ASSERT_TRUE(run.result.ok) << run.result.error;
    EXPECT_EQ(run.result.airports, 3);
    EXPECT_EQ(run.result.files, 1);
    size_t at = 0;
    for (std::string want : c.lines) {
      for (const auto& e : edges) {
        const size_t p = want.find("#" + e.first);
        if (p != std::string::npos) want.replace(p, e.first.size() + 1, std::to_string(e.second));
      }
      while (at < run.lines.size() && run.lines[at] != want) ++at;
      EXPECT_LT(at, run.lines.size()) << "missing or out of order: " << want;
    }
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back(), "   " + w.globalFile() + "  - 3 airport(s), " +
                                    std::to_string(run.result.exclusions) + " exclusion(s)");
    int splits = 0;
    expectOnlyLightsAndSplits(w.globalFile(), splits);
    EXPECT_EQ(splits, run.result.exclusions);
    const auto m = tlpass::manifestOf(w);
    EXPECT_EQ(rowsOf(m, "icao"), (std::vector<std::string>{"KROC", "LOWI", "LZIB"}));
    for (const auto& row : m) EXPECT_EQ(row.value("sig", ""), sigAfter("r7", c.applied));

    EXPECT_EQ(lumo::restoreAll(w.plugin, {}, w.root), 1);
    tlpass::expectPristine(w, before);
  }
}

}  // namespace
