// How the pass fails: every failure either goes on as the log says or puts
// every original back; none leaves a half-suppressed scenery behind.
#include "pass/pass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "scenery/manifest.h"
#include "scenery/shim.h"
#include "world.h"

namespace fs = std::filesystem;
using tlpass::World;

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& l) {
  return std::find(lines.begin(), lines.end(), l) != lines.end();
}

// Three packs in front of the global file, each defining one published
// airport with lights to take; no add-on maps, so each uses the base map.
void threePacks(World& w) {
  w.build({{"One", {"LOWI"}}, {"Two", {"LZIB"}}, {"Three", {"EDDF"}}}, {"KROC", "LOWI", "LZIB", "EDDF"});
  w.serve({});
  w.start();
}

TEST(PassFails, NothingToDo) {
  World w;  // no scenery at all
  w.build({}, {});
  const tlpass::PassRun none = w.pass(lumo::Geometry{}, {});
  EXPECT_FALSE(none.result.ok);
  EXPECT_EQ(none.result.error, "no apt.dat found under " + w.root);
  EXPECT_TRUE(none.lines.empty());
  EXPECT_TRUE(fs::is_empty(w.plugin));

  // Scenery but no published airport: nothing is read, and that is success.
  World v;
  v.build({{"One", {"LOWI"}}}, {"KROC"});
  const auto before = v.snapshot();
  const tlpass::PassRun empty = v.pass(lumo::Geometry{}, {});
  EXPECT_TRUE(empty.result.ok) << empty.result.error;
  EXPECT_EQ(empty.result.airports + empty.result.files + empty.result.takenRuns, 0);
  tlpass::expectPristine(v, before);
}

// The second file was replaced since an earlier pass cut it: the pass
// refuses it and puts the first file back.
TEST(PassFails, RefusedFileRollsBackTheFilesBeforeIt) {
  World w;
  threePacks(w);
  const std::string two = w.packFile("Two");
  tl::writeFile(two + ".taxilume-orig", "an older apt.dat\n");
  tl::writeFile(two + ".taxilume-cut", "17 1600000000\n");
  const auto before = w.snapshot();
  const lumo::Geometry maps = w.maps();

  const tlpass::PassRun run = w.pass(maps, w.scan(maps));
  EXPECT_FALSE(run.result.ok);
  EXPECT_EQ(run.result.error, two + ": " + two + " changed since Taxilume cut it (a sim or scenery update?) - the copy at " +
                                  two + ".taxilume-orig is from BEFORE that change. Delete it (or put it back by hand) "
                                  "before suppressing again.");
  EXPECT_EQ(run.result.files, 1);  // counts so far stay in the result
  // Everything as before, the refused file's old copy and mark included.
  tlpass::expectPristine(w, before);
}

// A real failure (the rename of the rewritten third file) after two files
// were rewritten and recorded: all three come back byte for byte.
TEST(PassFails, FailureInTheThirdFileRollsBackTheFirstTwo) {
  TLSHIM_RERUN();
  World w;
  threePacks(w);
  const std::string three = w.packFile("Three");
  const auto before = w.snapshot();
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);
  std::vector<std::string> seen;
  tlshim::arm("rename", "Three/Earth nav data/apt.dat.taxilume-tmp", EIO);
  const tlpass::PassRun run = w.pass(maps, scan, [&](const std::string&) {
    // Before the third file fails, the first two really are suppressed.
    if (seen.empty() && fs::exists(w.packFile("Two") + ".taxilume-orig"))
      seen = {w.packFile("One"), w.packFile("Two")};
  });
  tlshim::disarm();
  EXPECT_EQ(tlshim::left(), 0);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_FALSE(run.result.ok);
  EXPECT_EQ(run.result.error,
            three + ": rewrite failed for " + three + " (Input/output error) - the file was not changed");
  EXPECT_EQ(run.result.files, 2);
  tlpass::expectPristine(w, before);
}

// The check of the record after the file loop.
TEST(PassFails, RecordCheck) {
  struct Case {
    const char* what;
    std::function<void(World&, lumo::Geometry&)> setUp;
    bool ok;
    std::function<std::string(const World&)> line;  // must be logged
    std::string error;
  };
  const std::string gone = "Custom Scenery/Removed/Earth nav data/apt.dat";
  const std::string stray = "Custom Scenery/Unlisted/Earth nav data/apt.dat";
  const std::vector<Case> cases = {
      {"a recorded pack was uninstalled since",
       [&](World& w, lumo::Geometry&) {
         nlohmann::json m = nlohmann::json::array();
         for (const char* c : {"AAAA", "BBBB"})
           m.push_back({{"file", w.root + gone}, {"icao", c}, {"size", 100}, {"mtime", 5}});
         ASSERT_TRUE(orvel::saveManifest(w.plugin, m));
       },
       true,
       [&](const World& w) { return "   gone      " + w.root + gone + " - the pack was uninstalled; dropping its record"; },
       ""},
      {"a recorded file has another size",
       [&](World& w, lumo::Geometry&) {
         // Not in scenery_packs.ini, so the pass never reaches it itself.
         tl::writeFile(w.root + stray, "1 0 0 0 ZZZZ new version\n99\n");
         tl::writeFile(w.root + stray + ".taxilume-orig", "1 0 0 0 ZZZZ old\n99\n");
         ASSERT_TRUE(orvel::saveManifest(w.plugin, nlohmann::json::array({{{"file", w.root + stray}, {"icao", "ZZZZ"},
                                                                           {"size", 3}, {"mtime", 5}}})));
       },
       false, [&](const World& w) { return "!! not what we wrote: " + w.root + stray; },
       // Not ours and not the original: the roll-back cannot put it back
       // and says so (its older copy stays).
       "the scenery changed behind us - the originals could NOT all be put back ("},
      {"an airport claimed but nothing lit near its map",
       [](World& w, lumo::Geometry& maps) {
         // Far from every light of LOWI, and no network: the file defines
         // the airport but keeps every byte.
         w.serveFile("orvel/airports.json", R"({"airports":[]})");
         lumo::AirportGeom g;
         g.base.bars = {{{10.0, 10.0}, {10.0001, 10.0}}};
         g.base.barx = {{}};
         maps.airports.clear();
         maps.airports["LOWI"] = g;
       },
       false, [](const World&) { return "!! nothing was recorded - the pass did not take."; },
       "the scenery changed behind us - the originals were put back"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.build({}, {"LOWI"});
    w.serve({});
    w.start();
    lumo::Geometry maps = w.maps();
    c.setUp(w, maps);
    const auto before = w.snapshot();
    const nlohmann::json manifestBefore = tlpass::manifestOf(w);

    const tlpass::PassRun run = w.pass(maps, {});
    EXPECT_EQ(run.result.ok, c.ok) << run.result.error;
    EXPECT_EQ(run.result.error.substr(0, c.error.size()), c.error) << run.result.error;
    EXPECT_TRUE(contains(run.lines, c.line(w))) << c.line(w);
    EXPECT_EQ(run.result.airports, 1);
    const auto m = tlpass::manifestOf(w);
    if (c.ok) {
      // Only this pass's row is left; the uninstalled pack's rows are gone.
      ASSERT_EQ(m.size(), 1u);
      EXPECT_EQ(m[0]["file"], w.globalFile());
      EXPECT_TRUE(fs::exists(w.plugin + "/tlm_taken.json"));
    } else {
      // Put back: the global file as before; the stray file's row and copy
      // stay, since restore will not overwrite a file someone else changed.
      EXPECT_TRUE(tl::readFile(w.globalFile()) == before.at(w.globalFile()));
      EXPECT_FALSE(fs::exists(w.globalFile() + ".taxilume-orig"));
      EXPECT_FALSE(fs::exists(w.plugin + "/tlm_taken.json"));
      EXPECT_EQ(m, manifestBefore);
    }
  }
}

// Files of the plugin folder that cannot be written. A plain folder in the
// file's place makes the write fail for real, root or not.
TEST(PassFails, PluginFolderFilesThatCannotBeWritten) {
  struct Case {
    const char* blocked;
    bool ok;
    std::string line;   // logged, when not empty
    bool errorNamesFile;
  };
  const Case cases[] = {
      // The plugin puts the lights back from this record; without it the
      // field is dark, but the scenery is as recorded: the pass stands.
      {"tlm_taken.json", true,
       "!! could not record what was darkened - the field will be dark when nobody is controlling", false},
      // A rewritten file the manifest does not know could never be checked
      // or put back by a later restore: the pass is undone.
      {"orvel_manifest.json", false, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocked);
    World w;
    w.build({}, {"LOWI"});
    w.serve({});
    w.start();
    fs::create_directories(w.plugin + "/" + c.blocked);
    const auto before = w.snapshot();
    const tlpass::PassRun run = w.pass(w.maps(), {});
    EXPECT_EQ(run.result.ok, c.ok) << run.result.error;
    if (!c.line.empty()) {
      EXPECT_TRUE(contains(run.lines, c.line));
    }
    if (c.ok) {
      EXPECT_EQ(tlpass::manifestOf(w).size(), 1u);
      EXPECT_TRUE(fs::exists(w.globalFile() + ".taxilume-orig"));
    } else {
      EXPECT_EQ(run.result.error, w.globalFile() + ": could not record it in the manifest (Is a directory) - the originals were put back");
      tlpass::expectPristine(w, before);
    }
  }
}

// The publisher lists were lost during the scan: the pack's airports stay
// as they are, and the global file does not take them over either.
TEST(PassFails, PublisherListsLostDuringTheScan) {
  World w;
  w.build({{"Foo Bar - Frankfurt", {"EDDF"}}}, {"EDDF", "LOWI"});
  w.serve({{"Foo Bar", "Foo Bar - Frankfurt"}});
  w.serveFile("publishers/EDDF.json", "{\"publishers\":[\"Foo");
  w.start();
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);
  ASSERT_EQ(scan.rows.size(), 1u);
  const auto before = w.snapshot();

  const tlpass::PassRun run = w.pass(maps, scan);
  ASSERT_TRUE(run.result.ok) << run.result.error;
  EXPECT_TRUE(contains(run.lines, "   EDDF not suppressed - Foo Bar - Frankfurt: no publisher list from the server"));
  EXPECT_EQ(run.result.notSuppressed, 1);
  EXPECT_TRUE(tl::readFile(w.packFile("Foo Bar - Frankfurt")) == before.at(w.packFile("Foo Bar - Frankfurt")));
  const auto m = tlpass::manifestOf(w);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0]["icao"], "LOWI");
}

}  // namespace
