#include "app/actions.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/state.h"
#include "app_fixture.h"
#include "support/tmpdir.h"

namespace fs = std::filesystem;

namespace {

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tl::resetApp();
    saved = g_launchWait;
    g_launchWait.pollMs = 10;
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = root();
    g_app.pluginDir = root() + "Resources/plugins/Taxilume";
    g_app.suppressOnLaunch = false;
  }
  void TearDown() override {
    g_launchWait = saved;
    tl::resetApp();
  }
  std::string root() const { return dir.path() + "/X-Plane 12/"; }

  tl::TempDir dir;
  LaunchWait saved;
};

// Launch with the suppress option off: restore first (nothing to restore),
// start X-Plane as nobody's child of ours, and ask the launcher to close.
TEST_F(LaunchTest, RestoresFirstAndLeavesNoChildBehind) {
  const std::string pidFile = dir / "pid";
  fs::create_directories(root());
  fs::copy_file("/bin/sleep", root() + "xp-sleep");
  tl::writeFile(root() + "X-Plane-x86_64", "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec ./xp-sleep 300\n");
  chmod((root() + "X-Plane-x86_64").c_str(), 0755);

  EXPECT_TRUE(doLaunch());
  const std::vector<std::string> expected = {
      "Restoring the original scenery...", "   (nothing was suppressed)",
      "X-Plane is starting - waiting for it to come up...", "X-Plane is running. Closing the launcher."};
  EXPECT_EQ(tl::logLines(), expected);
  EXPECT_TRUE(g_app.quitRequested.load());

  // No zombie and no child at all: the first child was reaped, X-Plane is a
  // grandchild that belongs to its own session.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  int pid = 0;
  if (FILE* f = std::fopen(pidFile.c_str(), "r")) {
    if (std::fscanf(f, "%d", &pid) != 1) pid = 0;
    std::fclose(f);
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(getsid(pid), pid);
  kill(pid, SIGKILL);
}

TEST_F(LaunchTest, WithoutAnExecutableNothingStarts) {
  fs::create_directories(root());
  EXPECT_FALSE(doLaunch());
  EXPECT_EQ(tl::logLines().back(), "!! X-Plane is not in " + root() + " (" + root() + "X-Plane-x86_64)");
  EXPECT_FALSE(g_app.quitRequested.load());
}

}  // namespace
