#include "host/selfupdate.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "host/host_support.h"
#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"

namespace fs = std::filesystem;

namespace {

TEST(VerNewer, FirstThreeNumbersDecide) {
  const std::pair<const char*, bool> againstCurrent[] = {
      {"1.0.1", false}, {"v1.0.1", false}, {"1.0.1.9", false}, {"1.0.0", false}, {"0.9.9", false},
      {"1.0.2", true},  {"1.1", true},     {"2", true},        {"", false},      {"release 1.0.10", true},
  };
  for (const auto& [candidate, want] : againstCurrent)
    EXPECT_EQ(lumo::verNewer(candidate, lumo::kLauncherVersion), want) << candidate;
  EXPECT_FALSE(lumo::verNewer("1.2", "1.2.0"));
  EXPECT_TRUE(lumo::verNewer("99999999999999999999", "1")) << "huge numbers do not wrap";
}

TEST(PlainVersion, OnlyLettersDigitsAndFourMarks) {
  for (const char* ok : {"1.4.2", "2.0-rc1", "1.0.2+build_7", "v3"}) EXPECT_TRUE(lumo::plainVersion(ok)) << ok;
  for (const char* bad : {"", ".", "..", "../../x", "1/2", "1.0\n!! forged", "1 0", "a\\b", "1.0;rm"})
    EXPECT_FALSE(lumo::plainVersion(bad)) << bad;
  EXPECT_FALSE(lumo::plainVersion(std::string(65, '1')));
}

// A launcher copy in a folder of its own updating itself from the local
// server. The copy is the stand-in program, a real ELF executable.
class SelfUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(site / "releases");
    fs::create_directories(site / "files");
    std::string err;
    ASSERT_TRUE(server.start(site.path(), 0, err)) << err;
    self = app / "taxilume-launcher";
    tl::copyExe(TL_HOST_PROBE, self);
    original = tl::readFile(self);
    // The new build: the same program with other bytes after its end (the
    // loader never reads them), so it answers "--version" with the version
    // the test publishes.
    build = original + std::string(4096, '\0') + "build 1.0.2";
  }
  void publish(const std::string& version, const std::string& url) {
    tl::writeFile(site / "releases/xplane-launcher-lin.json",
                  "{\"version\":\"" + version + "\",\"url\":\"" + url + "\",\"notes\":\"\"}");
  }
  // Runs the copy's self-update; its output. A build the copy tries out
  // answers "--version" with TL_PROBE_VERSION.
  std::string run(const std::vector<std::string>& env = {}, const std::string& builds = "1.0.2") {
    std::vector<std::string> argv = {"/usr/bin/env", "TL_PROBE_VERSION=" + builds};
    argv.insert(argv.end(), env.begin(), env.end());
    for (const std::string& a : {self, std::string("selfupdate"), std::string("127.0.0.1"),
                                 std::to_string(server.port())})
      argv.push_back(a);
    return tl::runOutput(argv);
  }
  std::vector<std::string> besideSelf() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(app.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  tl::TempDir site, app;
  devserver::Server server;
  std::string self, original, build;
};

TEST_F(SelfUpdate, PutsTheNewBuildInPlaceAndKeepsTheOldAside) {
  publish("1.0.2", "/files/xplane-launcher-lin-1.0.2");
  tl::writeFile(site / "files/xplane-launcher-lin-1.0.2", build);
  EXPECT_EQ(run(), "log: Launcher 1.0.2 is out - updating...\n"
                   "log: Launcher updated to 1.0.2 - restart it to pick it up.\n"
                   "ok 1\nupdated 1\nerror \n");
  EXPECT_EQ(tl::readFile(self), build);
  EXPECT_EQ(tl::readFile(self + ".old"), original);
  EXPECT_EQ(besideSelf(), (std::vector<std::string>{"taxilume-launcher", "taxilume-launcher.old"}));
  EXPECT_EQ(fs::status(self).permissions() & fs::perms::others_exec, fs::perms::others_exec);
  EXPECT_EQ(tl::runOutput({self, "selfpath"}), self + "\n") << "the new build runs";
}

TEST_F(SelfUpdate, RefusesAndLeavesTheLauncherAlone) {
  tl::writeFile(site / "files/xplane-launcher-lin-small", std::string(lumo::kMinLauncherBytes - 1, '\x7f'));
  tl::writeFile(site / "files/xplane-launcher-lin-text", std::string(lumo::kMinLauncherBytes, 'x'));
  tl::writeFile(site / "files/other.bin", build);
  struct Case {
    const char* version;
    const char* url;
    const char* want;  // output after the log lines
    bool logsUpdating;
  } cases[] = {
      {"1.0.1", "/files/xplane-launcher-lin-small", "ok 1\nupdated 0\nerror \n", false},
      {"0.9.9", "", "ok 1\nupdated 0\nerror \n", false},
      {"1.0.2", "", "ok 0\nupdated 0\nerror the published launcher has no download\n", false},
      {"1.0.2", "https://elsewhere.example/xplane-launcher-lin",
       "ok 0\nupdated 0\nerror the published launcher is not on api.taxilume.net\n", false},
      {"1.0.2", "https://api.taxilume.net",
       "ok 0\nupdated 0\nerror the published launcher is not on api.taxilume.net\n", false},
      {"1.0.2", "https://api.taxilume.net/files/other.bin",
       "ok 0\nupdated 0\nerror the server answered with /files/other.bin, which is not a "
       "xplane-launcher-lin build - skipping the launcher update\n",
       false},
      {"1.0.2", "/files/xplane-launcher-lin-small",
       "ok 0\nupdated 0\nerror the launcher download failed or was not a launcher\n", true},
      {"1.0.2", "/files/xplane-launcher-lin-missing",
       "ok 0\nupdated 0\nerror the launcher download failed or was not a launcher\n", true},
      {"1.0.2", "https://api.taxilume.net/files/xplane-launcher-lin-text",
       "ok 0\nupdated 0\nerror that download was not a program for this system\n", true},
      {"1.0.2", "http://api.taxilume.net/files/xplane-launcher-lin-1", "ok 0\nupdated 0\nerror the published launcher is not on api.taxilume.net\n", false},
      {"1.0.2", "@elsewhere.example/xplane-launcher-lin-1", "ok 0\nupdated 0\nerror the published launcher is not on api.taxilume.net\n", false},
      {"9.0.0\\n!! forged line", "/files/xplane-launcher-lin-1",
       "ok 0\nupdated 0\nerror the published launcher version is not a plain version text\n", false},
  };
  for (const Case& c : cases) {
    publish(c.version, c.url);
    std::string want = c.want;
    if (c.logsUpdating) want = "log: Launcher 1.0.2 is out - updating...\n" + want;
    EXPECT_EQ(run(), want) << c.version << " " << c.url;
    EXPECT_EQ(tl::readFile(self), original);
    EXPECT_EQ(besideSelf(), (std::vector<std::string>{"taxilume-launcher"})) << c.url;
  }
  fs::remove(site / "releases/xplane-launcher-lin.json");
  EXPECT_EQ(run(), "ok 0\nupdated 0\nerror no answer from 127.0.0.1\n");
}

TEST_F(SelfUpdate, FailedWriteOrRenameNeverLosesTheLauncher) {
  std::string err;
  EXPECT_FALSE(lumo::replaceSelfAt("", build, "1.0.2", err));
  EXPECT_EQ(err, "could not find my own path");
  publish("1.0.2", "/files/xplane-launcher-lin-1.0.2");
  tl::writeFile(site / "files/xplane-launcher-lin-1.0.2", build);
  // ".new" cannot be written: something that is not a file is in the way.
  fs::create_directories(self + ".new/busy");
  EXPECT_EQ(run(), "log: Launcher 1.0.2 is out - updating...\n"
                   "ok 0\nupdated 0\nerror could not write " + self + ".new\n");
  EXPECT_EQ(tl::readFile(self), original);
  fs::remove_all(self + ".new");

  // The renames fail for real (a shim makes rename() return EACCES for one
  // name); either way self keeps the old program and no ".new" stays.
  // (A sanitizer build insists on coming first; the shim does not mind.)
  const std::string preload = std::string("LD_PRELOAD=") + TL_RENAME_SHIM;
  const std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
  EXPECT_EQ(run({preload, asan, "TL_FAIL_RENAME_TO=.old"}),
            "log: Launcher 1.0.2 is out - updating...\n"
            "ok 0\nupdated 0\nerror could not move the running launcher aside: Permission denied\n");
  EXPECT_EQ(tl::readFile(self), original);
  EXPECT_EQ(besideSelf(), (std::vector<std::string>{"taxilume-launcher"}));

  EXPECT_EQ(run({preload, asan, "TL_FAIL_RENAME_FROM=.new"}),
            "log: Launcher 1.0.2 is out - updating...\n"
            "ok 0\nupdated 0\nerror could not put the new launcher in place: Permission denied\n");
  EXPECT_EQ(tl::readFile(self), original) << "the old file is moved back";
  EXPECT_EQ(besideSelf(), (std::vector<std::string>{"taxilume-launcher"}));
}

// Size and ELF header are not enough: the build must start and say it is
// the published version, or it never replaces the running one.
TEST_F(SelfUpdate, BuildThatDoesNotStartIsKeptOut) {
  publish("1.0.2", "/files/xplane-launcher-lin-1.0.2");
  const std::string refused = "log: Launcher 1.0.2 is out - updating...\n"
                              "ok 0\nupdated 0\nerror the downloaded launcher does not start - kept this one\n";
  // The first 150 KB of a real build: ELF, long enough, and it crashes.
  ASSERT_GT(original.size(), 150000u);
  tl::writeFile(site / "files/xplane-launcher-lin-1.0.2", original.substr(0, 150000));
  EXPECT_EQ(run(), refused);
  EXPECT_EQ(tl::readFile(self), original);
  EXPECT_EQ(besideSelf(), (std::vector<std::string>{"taxilume-launcher"}));
  // A whole build that answers with another version is not the one published.
  tl::writeFile(site / "files/xplane-launcher-lin-1.0.2", build);
  for (const char* answer : {"1.0.1", "1.0.2 ", "", "1.0.2\n!! forged"}) {
    EXPECT_EQ(run({}, answer), refused) << answer;
    EXPECT_EQ(tl::readFile(self), original);
    EXPECT_EQ(besideSelf(), (std::vector<std::string>{"taxilume-launcher"}));
  }
}

// Published on another server, in any spelling: that server hears nothing.
TEST_F(SelfUpdate, DownloadNeverGoesToAnotherHost) {
  tl::TempDir otherSite;
  devserver::Server other;
  std::string err;
  ASSERT_TRUE(other.start(otherSite.path(), 0, err)) << err;
  tl::writeFile(otherSite / "files/xplane-launcher-lin-1.0.2", build);
  const std::string at = "127.0.0.1:" + std::to_string(other.port());
  for (const std::string& url : {"@" + at + "/files/xplane-launcher-lin-1.0.2", "http://" + at + "/files/xplane-launcher-lin-1.0.2",
                                 "//" + at + "/files/xplane-launcher-lin-1.0.2",
                                 "https://api.taxilume.net@" + at + "/files/xplane-launcher-lin-1.0.2"}) {
    publish("1.0.2", url);
    EXPECT_EQ(run(), "ok 0\nupdated 0\nerror the published launcher is not on api.taxilume.net\n") << url;
  }
  EXPECT_EQ(other.requests(), 0);
  EXPECT_EQ(tl::readFile(self), original);
}

// Installed where this user cannot write (make install into /usr/local):
// no download, no red line, one detail line saying how to update instead.
TEST_F(SelfUpdate, FolderThatCannotBeWrittenIsNotUpdatedFromHere) {
  publish("1.0.2", "/files/xplane-launcher-lin-1.0.2");
  tl::writeFile(site / "files/xplane-launcher-lin-1.0.2", build);
  // root may write anywhere: the copy then runs as an ordinary user, who
  // must be able to reach it.
  const bool root = ::geteuid() == 0;
  if (root) fs::permissions(app.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                            fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(app.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  server.resetCounts();
  std::vector<std::string> argv = {"/usr/bin/env", "TL_PROBE_VERSION=1.0.2"};
  if (root) argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  for (const std::string& a : {self, std::string("selfupdate"), std::string("127.0.0.1"), std::to_string(server.port())})
    argv.push_back(a);
  EXPECT_EQ(tl::runOutput(argv),
            "log:    Launcher 1.0.2 is out; this copy in " + app.path() +
                " cannot replace itself - update it with your package manager or with make install.\n"
                "ok 1\nupdated 0\nerror \n");
  EXPECT_EQ(server.log(), (std::vector<std::string>{"/api/version?pub=1&platform=xplane-launcher-lin"}))
      << "nothing downloaded";
  EXPECT_EQ(tl::readFile(self), original);
  fs::permissions(app.path(), fs::perms::owner_all, fs::perm_options::add);
}

TEST_F(SelfUpdate, OldLeftoverIsReplacedNotKept) {
  tl::writeFile(self + ".old", "an older launcher");
  publish("1.0.2", "/files/xplane-launcher-lin-1.0.2");
  tl::writeFile(site / "files/xplane-launcher-lin-1.0.2", build);
  EXPECT_NE(run().find("updated 1"), std::string::npos);
  EXPECT_EQ(tl::readFile(self + ".old"), original);
}

TEST(SweepOldSelf, DeletesTheChainUpToTheFirstGap) {
  struct Case {
    std::vector<std::string> present;
    std::vector<std::string> left;
  } cases[] = {
      {{".old", ".old.old"}, {}},
      {{".old", ".old.old", ".old.old.old.old"}, {".old.old.old.old"}},
      {{".old.old"}, {".old.old"}},  // a missing ".old" stops the sweep
      {{".new", ".old"}, {}},        // an update cut short
      {{}, {}},
  };
  for (const Case& c : cases) {
    tl::TempDir tmp;
    const std::string self = tmp / "launcher";
    tl::writeFile(self, "me");
    for (const std::string& s : c.present) tl::writeFile(self + s, "old");
    lumo::sweepOldSelfAt(self);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(tmp.path()))
      if (e.path() != self) left.push_back(e.path().string().substr(self.size()));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.left);
    EXPECT_TRUE(fs::exists(self));
  }
  lumo::sweepOldSelfAt("");  // no own path: nothing happens
}

TEST(SelfPath, IsTheRealExecutable) {
  tl::TempDir tmp;
  tl::copyExe(TL_HOST_PROBE, tmp / "deep/copy");
  EXPECT_EQ(tl::runOutput({tmp / "deep/copy", "selfpath"}), tmp / "deep/copy\n");
}

}  // namespace
