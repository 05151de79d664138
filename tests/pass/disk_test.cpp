// A full disk (a real ENOSPC from the preloaded shim) and the README's
// recipe for putting the originals back by hand.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "pass/pass.h"
#include "scenery/manifest.h"
#include "scenery/restore.h"
#include "scenery/shim.h"
#include "scenery/state.h"
#include "world.h"

namespace fs = std::filesystem;
using tlpass::World;

namespace {

struct Log {
  std::vector<std::string> lines;
  lumo::LogFn fn() {
    return [this](const std::string& l) { lines.push_back(l); };
  }
  bool has(const std::string& part) const {
    for (const auto& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  std::string text() const {
    std::string t;
    for (const auto& l : lines) t += l + "\n";
    return t;
  }
};

void twoPacks(World& w) {
  w.build({{"One", {"LOWI"}}, {"Two", {"LZIB"}}}, {"KROC", "LOWI", "LZIB", "EDDF"});
  w.serve({}, false);
  w.start();
}

lumo::PassResult suppress(World& w, const lumo::Geometry& maps, const lumo::PackScan& scan, Log& run) {
  return lumo::replacePass(w.root, w.plugin, maps, run.fn(), true, "127.0.0.1", w.server.port(),
                           [&] { return scan; });
}

// The disk fills up while the global file is rewritten: the pass fails with
// the system's reason, leaves nothing of its own, and the restore that
// follows finds every file original and says so.
TEST(FullDisk, AFailedPassRemovesWhatItMade) {
  TLSHIM_RERUN();
  World w;
  twoPacks(w);
  const auto before = w.snapshot();
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);

  tlshim::arm("write", "Global Airports/Earth nav data/apt.dat.taxilume-tmp", ENOSPC, 100, 1000);
  Log run;
  const lumo::PassResult r = suppress(w, maps, scan, run);
  tlshim::disarm();
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("rewrite failed for " + w.globalFile() + " (No space left on device)"), std::string::npos)
      << r.error;
  EXPECT_NE(r.error.find("the file was not changed"), std::string::npos) << r.error;
  tlpass::expectPristine(w, before);

  Log undo;
  EXPECT_TRUE(lumo::restoreOriginals(w.plugin, w.root, undo.fn())) << undo.text();
  EXPECT_FALSE(undo.has("NOT fully restored")) << undo.text();
  EXPECT_TRUE(undo.has("   (nothing was suppressed)")) << undo.text();
}

// The disk is full when the previous pass is to be undone: no file can be
// copied back. The new pass does not run over the still-cut files, the
// taken record keeps their runs, and the "!! " error names them; once
// there is room again, restore puts everything back.
TEST(FullDisk, AFailedRestoreStopsThePass) {
  TLSHIM_RERUN();
  World w;
  twoPacks(w);
  const auto before = w.snapshot();
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);
  Log first;
  ASSERT_TRUE(suppress(w, maps, scan, first).ok) << first.text();
  const std::string taken = tl::readFile(w.plugin + "/tlm_taken.json");
  const auto suppressed = w.snapshot();

  tlshim::arm("write", "apt.dat.taxilume-part", ENOSPC, 0, 1000);
  Log run;
  const lumo::PassResult r = suppress(w, maps, scan, run);
  tlshim::disarm();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind("the previous pass could not be undone for ", 0), 0u) << r.error;
  for (const auto& f : w.aptFiles()) EXPECT_NE(r.error.find(f), std::string::npos) << r.error;
  EXPECT_TRUE(run.has("restore copy failed (No space left on device)")) << run.text();
  EXPECT_FALSE(run.has("Verified")) << run.text();
  EXPECT_EQ(w.snapshot(), suppressed) << "nothing was touched, the taken record included";
  EXPECT_EQ(tl::readFile(w.plugin + "/tlm_taken.json"), taken);
  EXPECT_TRUE(lumo::suppressionState(w.plugin, w.root).inForce);

  // Restore on the full disk: it says truly that the files stay cut.
  tlshim::arm("write", "apt.dat.taxilume-part", ENOSPC, 0, 1000);
  Log full;
  EXPECT_FALSE(lumo::restoreOriginals(w.plugin, w.root, full.fn()));
  tlshim::disarm();
  EXPECT_TRUE(full.has("NOT fully restored")) << full.text();

  Log undo;
  EXPECT_TRUE(lumo::restoreOriginals(w.plugin, w.root, undo.fn())) << undo.text();
  tlpass::expectPristine(w, before);
}

// The recipe in README.md, run with bash on a suppressed folder in which a
// scenery update replaced one pack's file: the others come back, the updated
// one stays as the update left it, with its older copy named.
TEST(ReadmeRecipe, PutsBackOnlyWhatTheLauncherWrote) {
  World w;
  twoPacks(w);
  const auto before = w.snapshot();
  const lumo::Geometry maps = w.maps();
  Log run;
  ASSERT_TRUE(suppress(w, maps, w.scan(maps), run).ok) << run.text();
  const std::string two = w.packFile("Two");
  const std::string update = "I\n1000 Version - the pack's own update\n\n99\n";
  tl::writeFile(two, update);

  // The recipe is the indented block under its heading.
  std::ifstream readme(std::string(TL_TEST_DATA) + "/../../README.md");
  ASSERT_TRUE(readme) << "README.md not found";
  std::string line, script;
  bool in = false;
  while (std::getline(readme, line)) {
    if (line == "## Putting the original scenery back by hand") in = true;
    else if (in && line.rfind("## ", 0) == 0) break;
    else if (in && line.rfind("    ", 0) == 0) script += line.substr(4) + "\n";
  }
  const std::string cd = "cd \"/path/to/X-Plane 12\"\n";
  ASSERT_EQ(script.rfind(cd, 0), 0u) << script;
  script = "cd '" + w.root + "'\n" + script.substr(cd.size());
  tl::writeFile(w.dir / "recipe.sh", script);
  const std::string out = w.dir / "recipe.out";
  ASSERT_EQ(std::system(("bash '" + (w.dir / "recipe.sh") + "' > '" + out + "' 2>&1").c_str()), 0)
      << tl::readFile(out);
  const std::string said = tl::readFile(out);

  EXPECT_EQ(tl::readFile(two), update);
  EXPECT_TRUE(fs::exists(two + ".taxilume-orig"));
  EXPECT_NE(said.find("LEFT      ./Custom Scenery/Two/Earth nav data/apt.dat - changed since the launcher cut it"),
            std::string::npos)
      << said;
  for (const auto& f : w.aptFiles()) {
    if (f == two) continue;
    EXPECT_EQ(tl::readFile(f), before.at(f)) << f;
    EXPECT_FALSE(fs::exists(f + ".taxilume-orig")) << f;
    EXPECT_FALSE(fs::exists(f + ".taxilume-cut")) << f;
  }
  EXPECT_FALSE(fs::exists(w.plugin + "/orvel_manifest.json"));
  EXPECT_FALSE(fs::exists(w.plugin + "/tlm_taken.json"));
}

}  // namespace
