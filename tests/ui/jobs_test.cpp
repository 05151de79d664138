// The window's own jobs: choosing the X-Plane folder through the desktop's
// picker (a stand-in picker program on PATH answers like the real one), and
// deleting outdated backup copies with their manifest rows.
#include "ui/jobs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

#include <nlohmann/json.hpp>

#include "app/actions.h"
#include "app/state.h"
#include "scenery/files.h"
#include "scenery/manifest.h"
#include "support/tmpdir.h"

namespace {

std::vector<std::string> takeLog() {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  std::vector<std::string> out;
  out.swap(g_app.log);
  return out;
}

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// PATH and the configuration folder pointed into the test's folder for the
// test's duration.
class EnvScope {
 public:
  EnvScope(const std::string& bin, const std::string& cfg) {
    const char* p = std::getenv("PATH");
    oldPath_ = p ? p : "";
    setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
    const char* c = std::getenv("XDG_CONFIG_HOME");
    hadCfg_ = c != nullptr;
    oldCfg_ = c ? c : "";
    setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
  }
  ~EnvScope() {
    setenv("PATH", oldPath_.c_str(), 1);
    if (hadCfg_)
      setenv("XDG_CONFIG_HOME", oldCfg_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }

 private:
  std::string oldPath_, oldCfg_;
  bool hadCfg_ = false;
};

TEST(PickFolderJob, AdoptsOnlyAnXPlaneFolderAndStaysQuietOnCancel) {
  tl::TempDir tmp;
  const std::string xp = tmp / "X-Plane 12";
  tl::writeFile(xp + "/Resources/version.txt", "12\n");
  tl::writeFile(tmp / "plain/readme.txt", "not a simulator");
  const struct {
    const char* what;
    std::string script;  // the stand-in picker's body
    std::vector<std::string> log;
    std::string root;  // g_app.root afterwards
  } cases[] = {
      {"cancelled", "exit 1", {}, "/before/"},
      {"not X-Plane", "echo '" + (tmp / "plain") + "'", {"!! that folder is not an X-Plane 12 install"}, "/before/"},
      {"accepted", "printf '%s\\n' '" + xp + "'",
       {"X-Plane: " + xp + "/",
        "!! no published maps - scenery packs not matched. Press Update & Suppress to try again."},
       xp + "/"},
  };
  for (const auto& c : cases) {
    tl::writeFile(tmp / "bin/zenity", "#!/bin/sh\n" + c.script + "\n");
    chmod((tmp / "bin/zenity").c_str(), 0755);
    EnvScope env(tmp / "bin", tmp / "cfg");
    {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      g_app.root = "/before/";
      g_app.pluginDir = "/before/Resources/plugins/Taxilume";
      g_app.mapsLoaded = false;
      g_app.scan.rows.assign(1, lumo::PackRow{});
      g_app.keepListed = {0};
      g_app.log.clear();
    }
    jobPickFolder();
    EXPECT_EQ(takeLog(), c.log) << c.what;
    std::lock_guard<std::mutex> lock(g_app.mtx);
    EXPECT_EQ(g_app.root, c.root) << c.what;
    if (c.root != "/before/") {
      EXPECT_EQ(g_app.pluginDir, c.root + "Resources/plugins/Taxilume");
      EXPECT_TRUE(g_app.scan.rows.empty());
      EXPECT_TRUE(g_app.keepListed.empty());
      EXPECT_EQ(tl::readFile(tmp / "cfg/Taxilume/xproot.txt"), c.root);
    } else {
      EXPECT_EQ(g_app.scan.rows.size(), 1u) << c.what;
    }
  }
}

TEST(DeleteOldCopiesJob, DropsOutdatedCopiesAndOnlyTheirManifestRows) {
  tl::TempDir tmp;
  const std::string root = tmp / "xp/";
  const std::string plugin = root + "Resources/plugins/Taxilume";
  const std::string stale = root + "Custom Scenery/Old Pack/Earth nav data/apt.dat";
  const std::string current = root + "Custom Scenery/Kept Pack/Earth nav data/apt.dat";
  tl::writeFile(root + "Custom Scenery/scenery_packs.ini",
                "SCENERY_PACK Custom Scenery/Old Pack/\nSCENERY_PACK Custom Scenery/Kept Pack/\n");
  for (const std::string& p : {stale, current}) {
    tl::writeFile(p, "I\n1000 Version\n\n1 0 0 0 KXXX test\n99\n");
    tl::writeFile(p + ".taxilume-orig", "I\n1000 Version\n\n99\n");
  }
  int64_t size = 0, mtime = 0;
  ASSERT_TRUE(orvel::fileStat(current, size, mtime));
  ASSERT_TRUE(orvel::writeMark(current, size, mtime));   // still as we left it
  ASSERT_TRUE(orvel::writeMark(stale, size + 7, mtime));  // replaced since
  nlohmann::json manifest = nlohmann::json::array();
  for (const std::string& p : {stale, current})
    manifest.push_back({{"file", p}, {"icao", "KXXX"}, {"backup", p + ".taxilume-orig"}, {"size", size},
                        {"mtime", mtime}, {"sig", "r1"}, {"owner", "t"}, {"quitrestore", false}});
  tl::writeFile(plugin + "/version.txt", "1.0.0");  // the plugin folder exists
  ASSERT_TRUE(orvel::saveManifest(plugin, manifest));
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = root;
    g_app.pluginDir = plugin;
    g_app.log.clear();
  }

  jobDeleteOldCopies();

  EXPECT_EQ(takeLog(), (std::vector<std::string>{
                           "   forgot    " + stale + ".taxilume-orig - the pack was updated since we suppressed it",
                           "Removed 1 outdated copy/copies. Your scenery was not touched."}));
  EXPECT_FALSE(exists(stale + ".taxilume-orig"));
  EXPECT_FALSE(exists(stale + ".taxilume-cut"));
  EXPECT_TRUE(exists(stale));
  EXPECT_TRUE(exists(current + ".taxilume-orig"));
  const nlohmann::json left = orvel::loadManifest(plugin);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]["file"], current);
}

}  // namespace
