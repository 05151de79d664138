#include "host/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_support.h"
#include "host/xplane.h"
#include "support/tmpdir.h"

namespace {

struct FolderCase {
  const char* home;  // nullptr: unset
  const char* xdg;
  const char* tmpdir;
  const char* wantConfig;
  const char* wantTemp;
};

TEST(Folders, FollowTheEnvironment) {
  const FolderCase cases[] = {
      {"/home/u", "/cfg", "/var/tmp/", "/cfg/Taxilume", "/var/tmp/"},
      {"/home/u", "", nullptr, "/home/u/.config/Taxilume", "/tmp/"},  // empty XDG counts as unset
      {"/home/u", nullptr, "", "/home/u/.config/Taxilume", "/tmp/"},
      {"C:\\Users\\u", "D:\\cfg", "E:\\t", "D:/cfg/Taxilume", "E:/t/"},
  };
  for (const FolderCase& c : cases) {
    tl::EnvGuard env;
    for (auto [name, value] : {std::pair{"HOME", c.home}, {"XDG_CONFIG_HOME", c.xdg}, {"TMPDIR", c.tmpdir}}) {
      if (value) env.set(name, value);
      else env.unset(name);
    }
    EXPECT_EQ(lumo::configDir(), c.wantConfig) << c.home << " " << (c.xdg ? c.xdg : "(unset)");
    EXPECT_EQ(lumo::tempDir(), c.wantTemp) << (c.tmpdir ? c.tmpdir : "(unset)");
    EXPECT_EQ(lumo::homeDir(), lumo::slashes(c.home));
  }
  // Without HOME both fall back on the password database (root here).
  tl::EnvGuard env;
  env.unset("HOME");
  env.unset("XDG_CONFIG_HOME");
  EXPECT_FALSE(lumo::homeDir().empty());
  EXPECT_EQ(lumo::configDir(), lumo::homeDir() + "/.config/Taxilume");
}

TEST(Paths, SlashesAndPluginFile) {
  EXPECT_EQ(lumo::slashes("a\\b\\\\c/"), "a/b//c/");
  EXPECT_EQ(lumo::withSlash(""), "");
  EXPECT_EQ(lumo::withSlash("/x"), "/x/");
  EXPECT_EQ(lumo::withSlash("/x/"), "/x/");
  EXPECT_EQ(lumo::xplPath(lumo::pluginDirOf("/xp/")), "/xp/Resources/plugins/Taxilume/lin_x64/Taxilume.xpl");
}

TEST(QuitRestore, ReadsOnlyAnExactFirstLine) {
  tl::TempDir tmp;
  tl::EnvGuard env;
  env.set("XDG_CONFIG_HOME", tmp.path());
  const std::string file = tmp / "Taxilume/restore-on-quit.txt";
  EXPECT_TRUE(lumo::loadQuitRestore()) << "no file: checked";
  const std::pair<const char*, bool> cases[] = {
      {"0", false}, {"false", false}, {"0\n", false}, {"0\nextra", false}, {"1", true},
      {"FALSE", true}, {"no", true}, {"0 ", true}, {"0\r\n", true}, {"", true}, {"\n0", true},
  };
  for (const auto& [text, want] : cases) {
    tl::writeFile(file, text);
    EXPECT_EQ(lumo::loadQuitRestore(), want) << '"' << text << '"';
  }
}

TEST(QuitRestore, SavedChoiceComesBack) {
  tl::TempDir tmp;
  tl::EnvGuard env;
  env.set("XDG_CONFIG_HOME", tmp / "not/yet/there");
  lumo::saveQuitRestore(false);
  EXPECT_EQ(tl::readFile(tmp / "not/yet/there/Taxilume/restore-on-quit.txt"), "0");
  EXPECT_FALSE(lumo::loadQuitRestore());
  lumo::saveQuitRestore(true);
  EXPECT_EQ(tl::readFile(tmp / "not/yet/there/Taxilume/restore-on-quit.txt"), "1");
  EXPECT_TRUE(lumo::loadQuitRestore());
}

TEST(RunQuiet, ReportsStartAndExitStatus) {
  int code = 42;
  EXPECT_FALSE(lumo::runQuiet({"taxilume-no-such-program"}, code));
  EXPECT_EQ(code, 42) << "untouched when nothing was started";
  ASSERT_TRUE(lumo::runQuiet({"sh", "-c", "echo noise; echo more >&2; exit 2"}, code));
  EXPECT_EQ(code, 2);
  ASSERT_TRUE(lumo::runQuiet({"sh", "-c", "kill -KILL $$"}, code));
  EXPECT_EQ(code, 1) << "a signal counts as status 1";
  ASSERT_TRUE(lumo::runQuiet({"true"}, code));
  EXPECT_EQ(code, 0);
  // Arguments travel one by one, never through a shell.
  tl::TempDir tmp;
  ASSERT_TRUE(lumo::runQuiet({"touch", tmp / "a b;touch x"}, code));
  EXPECT_TRUE(std::filesystem::exists(tmp / "a b;touch x"));
  EXPECT_FALSE(std::filesystem::exists("x"));
}

// Real processes whose executables lie inside and beside an X-Plane folder.
TEST(SimRunning, CountsProgramsInsideTheFolderOnly) {
  tl::TempDir tmp;
  const std::string root = tmp / "X-Plane 12/";
  tl::copyExe("/bin/sleep", tmp / "X-Plane 12 backup/X-Plane-x86_64");
  tl::copyExe("/bin/sleep", root + "X-Plane-x86_64");
  tl::copyExe("/bin/sleep", root + "Resources/tools/helper");
  const std::string prefix = tl::lowerAscii(root);

  EXPECT_FALSE(lumo::simRunning(""));
  {
    tl::Child beside = tl::Child::start({tmp / "X-Plane 12 backup/X-Plane-x86_64", "30"});
    ASSERT_GT(beside.pid, 0);
    EXPECT_FALSE(lumo::simRunning(prefix)) << "a folder whose name begins like the root";
  }
  for (const char* inside : {"X-Plane-x86_64", "Resources/tools/helper"}) {
    tl::Child sim = tl::Child::start({root + inside, "30"});
    ASSERT_GT(sim.pid, 0);
    EXPECT_TRUE(lumo::simRunning(prefix)) << inside;
    EXPECT_FALSE(lumo::simRunning(root)) << "callers lower-case the root";
    sim.kill();
    EXPECT_FALSE(lumo::simRunning(prefix)) << "gone with its process";
  }
  // The launcher inside the X-Plane folder never counts itself.
  tl::copyExe(TL_HOST_PROBE, root + "Resources/plugins/Taxilume/taxilume-launcher");
  EXPECT_EQ(tl::runOutput({root + "Resources/plugins/Taxilume/taxilume-launcher", "simrunning", prefix}), "0\n");
}

// Two real launchers contend for the lock file in a temporary folder.
class SingleLock : public ::testing::Test {
 protected:
  void SetUp() override {
    env.set("TMPDIR", tmp.path());
    env.unset("XDG_RUNTIME_DIR");
  }
  std::string lockName() const { return "taxilume-launcher-" + std::to_string(::getuid()) + ".lock"; }
  tl::TempDir tmp;
  tl::EnvGuard env;
};

TEST_F(SingleLock, SecondWaitsAndGetsItWhenTheFirstExits) {
  tl::Child first = tl::Child::start({TL_HOST_PROBE, "lock"});
  ASSERT_EQ(first.readLine(), "locked");
  EXPECT_TRUE(std::filesystem::exists(tmp / lockName()));
  tl::Child second = tl::Child::start({TL_HOST_PROBE, "lock"});
  ::sleep(2);
  EXPECT_TRUE(second.running()) << "the second launcher must still be waiting";
  first.closeInput();
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(second.readLine(), "locked");
  second.closeInput();
  EXPECT_EQ(second.wait(), 0);
}

TEST_F(SingleLock, SecondGivesUpWhileTheFirstRuns) {
  tl::Child first = tl::Child::start({TL_HOST_PROBE, "lock"});
  ASSERT_EQ(first.readLine(), "locked");
  tl::Child second = tl::Child::start({TL_HOST_PROBE, "lock"});
  second.closeInput();
  EXPECT_EQ(second.readLine(), "busy");  // after its 24 attempts, about 12 s
  EXPECT_EQ(second.wait(), 1);
  // The lock ends with its holder, however it ends: a crash leaves no
  // stale lock.
  first.kill();
  tl::Child third = tl::Child::start({TL_HOST_PROBE, "lock"});
  EXPECT_EQ(third.readLine(), "locked");
}

// The lock is the user's own: another user's launcher, or a file of theirs,
// never passes for this user's; and a lock that cannot be opened says so at
// once instead of "already running".
TEST_F(SingleLock, OnePerUserWithItsOwnFailure) {
  namespace fs = std::filesystem;
  {
    tl::Child first = tl::Child::start({TL_HOST_PROBE, "lock"});
    ASSERT_EQ(first.readLine(), "locked");
    EXPECT_EQ(fs::status(tmp / lockName()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    first.closeInput();
    EXPECT_EQ(first.wait(), 0);
  }
  {
    tl::EnvGuard runtime;
    runtime.set("XDG_RUNTIME_DIR", tmp / "run");
    EXPECT_EQ(lumo::lockPath(), tmp / "run/taxilume-launcher.lock");
  }

  const std::string missing = tmp / "missing/";
  env.set("TMPDIR", missing);
  EXPECT_EQ(tl::runOutput({TL_HOST_PROBE, "lock"}),
            "error could not open the lock file " + missing + lockName() + ": No such file or directory\n");
  env.set("TMPDIR", tmp.path());

  if (::geteuid() != 0) GTEST_SKIP() << "another user can only be played by root";
  // A file of another user under this user's name: it could be held to keep
  // this user out.
  tl::writeFile(tmp / lockName(), "");
  ASSERT_EQ(::chown((tmp / lockName()).c_str(), 65534, 65534), 0);
  EXPECT_EQ(tl::runOutput({TL_HOST_PROBE, "lock"}),
            "error could not open the lock file " + tmp / lockName() + ": it belongs to another user\n");
  fs::remove(tmp / lockName());

  // Another user's launcher running in the same shared temporary folder.
  const std::string shared = tmp / "shared";
  fs::create_directories(shared);
  fs::permissions(tmp.path(), fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  env.set("TMPDIR", shared);
  tl::Child other = tl::Child::start({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", TL_HOST_PROBE, "lock"});
  ASSERT_EQ(other.readLine(), "locked");
  tl::Child mine = tl::Child::start({TL_HOST_PROBE, "lock"});
  EXPECT_EQ(mine.readLine(), "locked") << "at once, not after 12 s";
  mine.closeInput();
  other.closeInput();
  EXPECT_EQ(mine.wait(), 0);
  EXPECT_EQ(other.wait(), 0);
}

}  // namespace
