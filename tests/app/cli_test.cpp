// End to end through the taxilume-cli binary: real scenery slices, the local
// server, real files, real processes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "host/selfupdate.h"
#include "support/tmpdir.h"

namespace fs = std::filesystem;

namespace {

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(w.error(), "") << "set-up"; }

  // The two apt.dat files, byte for byte.
  std::map<std::string, std::string> scenery() const {
    return {{w.globalApt(), tl::readFile(w.globalApt())}, {w.packApt(), tl::readFile(w.packApt())}};
  }
  bool anyBackup() const {
    return fs::exists(w.globalApt() + ".taxilume-orig") || fs::exists(w.packApt() + ".taxilume-orig");
  }

  tl::CliWorld w;
};

// The summary of a pass, in the order the launcher writes it.
struct Summary {
  int at = -1;  // index of the "Suppressed ..." line
  std::string line;
};

Summary summaryOf(const tl::CliRun& r) {
  Summary s;
  s.at = r.findPrefix("Suppressed ");
  if (s.at >= 0) s.line = r.lines[s.at];
  return s;
}

TEST_F(CliTest, CheckPacksPickSuppressRestore) {
  const std::map<std::string, std::string> original = scenery();

  tl::CliRun r = w.cli({"check"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.at(0), "X-Plane: " + w.root());
  EXPECT_EQ(r.findPrefix("Database: 2 airport(s), "), 1) << r.out();
  const int matching = r.find("Matching your scenery packs...");
  ASSERT_GE(matching, 0) << r.out();
  EXPECT_GT(r.find("   0 of 1 pack airport(s) matched to a map.", matching), matching) << r.out();

  r = w.cli({"packs"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_TRUE(r.has("ROW\tAIRPORT\tSTATUS\tPUBLISHER\tPACK\tOFFERED")) << r.out();
  const int row = r.findPrefix("1\tKROC\tneeds a pick\t-\tRochester Pro\t");
  ASSERT_GE(row, 0) << r.out();
  EXPECT_NE(r.lines[row].find("Foo Sceneries"), std::string::npos);
  EXPECT_NE(r.lines[row].find("Bar Works"), std::string::npos);

  // Usage errors name the problem and touch nothing.
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"pick", "2", "Bar Works"}, {"pick", "1", "Nobody"}, {"pick", "x", ""},
        {"pick", "1"}, {"frobnicate"}, {"--verbose", "status"}}) {
    const tl::CliRun u = w.cli(bad);
    EXPECT_EQ(u.status, 2) << bad[0] << " " << u.out();
    EXPECT_NE(u.err.find("usage: taxilume-cli"), std::string::npos) << u.err;
  }
  EXPECT_FALSE(fs::exists(w.pluginDir() + "/resources/publishers.json"));

  r = w.cli({"pick", "1", "Bar Works"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "KROC -> Bar Works. Run taxilume-cli suppress.");
  EXPECT_NE(tl::readFile(w.pluginDir() + "/resources/publishers.json").find("\"rochesterpro\": \"Bar Works\""),
            std::string::npos);
  r = w.cli({"packs"});
  EXPECT_GE(r.findPrefix("1\tKROC\tpicked\tBar Works\tRochester Pro\t"), 0) << r.out();

  // The first pass: the summary, in order.
  r = w.cli({"suppress"});
  ASSERT_EQ(r.status, 0) << r.out();
  const Summary first = summaryOf(r);
  ASSERT_GE(first.at, 0) << r.out();
  EXPECT_GE(r.find("Restoring any previous pass..."), 0);
  EXPECT_LT(r.find("Restoring any previous pass..."), first.at);
  int n = first.at + 1;
  EXPECT_EQ(r.lines.at(n++), "   1 add-on pack(s) from their own published map.") << r.out();
  if (r.lines.at(n).find(" light run(s) recorded") != std::string::npos) ++n;
  EXPECT_EQ(r.lines.at(n), "Verified: Taxilume scenery files have been imported.") << r.out();
  EXPECT_EQ(n + 1, static_cast<int>(r.lines.size())) << "no pack is left needing a pick\n" << r.out();
  // KROC in the pack (against Bar Works's map) and LZIB in the global file.
  EXPECT_EQ(first.line.rfind("Suppressed 2 airport(s) across 2 file(s), ", 0), 0u) << first.line;
  const std::map<std::string, std::string> suppressed = scenery();
  EXPECT_NE(suppressed, original);

  r = w.cli({"status"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_TRUE(r.has("Server    connected")) << r.out();
  EXPECT_TRUE(r.has("Sim       X-Plane is not running")) << r.out();
  EXPECT_TRUE(r.has("Plugin    Taxilume is not installed")) << r.out();
  EXPECT_TRUE(r.has("Scenery   Taxilume modified - lights suppressed (2 airports in 2 file(s))")) << r.out();

  // A second pass restores the first and lands on the same bytes.
  r = w.cli({"suppress"});
  ASSERT_EQ(r.status, 0) << r.out();
  const int restoring = r.find("Restoring any previous pass...");
  ASSERT_GE(restoring, 0) << r.out();
  for (const std::string& f : {w.packApt(), w.globalApt()})
    EXPECT_GT(r.find("   restored  " + f + "  - restored original apt.dat", restoring), restoring) << r.out();
  EXPECT_EQ(summaryOf(r).line, first.line);
  EXPECT_EQ(scenery(), suppressed);

  r = w.cli({"restore"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "Original scenery files have been restored.");
  EXPECT_EQ(scenery(), original);
  EXPECT_FALSE(anyBackup());

  r = w.cli({"restore"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "   (nothing was suppressed)");
}

TEST_F(CliTest, DismissedPackIsLeftAloneAndTakenBack) {
  tl::CliRun r = w.cli({"dismiss", "1"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "KROC: not suppressed.");
  r = w.cli({"packs"});
  EXPECT_GE(r.findPrefix("1\tKROC\tneeds a pick, not suppressed\t"), 0) << r.out();

  const std::string pack = tl::readFile(w.packApt());
  r = w.cli({"suppress"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(tl::readFile(w.packApt()), pack) << "a dismissed pack is not rewritten";
  EXPECT_FALSE(r.has("1 scenery pack(s) need a map picked - taxilume-cli packs lists them.")) << r.out();

  r = w.cli({"undismiss", "1"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "KROC: back on the list.");
  r = w.cli({"suppress"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "1 scenery pack(s) need a map picked - taxilume-cli packs lists them.") << r.out();
}

TEST_F(CliTest, SuppressWithTheServerDown) {
  struct Case {
    bool passFirst;
    std::string verdict;
  };
  for (const Case& c : {Case{false, "Nothing was changed - start X-Plane normally."},
                        Case{true, "Your scenery is left exactly as it is - nothing was touched."}}) {
    tl::CliWorld world;
    ASSERT_EQ(world.error(), "");
    if (c.passFirst) {
      const tl::CliRun first = world.cli({"suppress"});
      ASSERT_EQ(first.status, 0) << first.out();
    }
    const std::string global = tl::readFile(world.globalApt());
    world.server().stop();

    const tl::CliRun r = world.cli({"suppress"});
    EXPECT_EQ(r.status, 1) << r.out();
    const int err = r.find("!! no answer from 127.0.0.1");
    ASSERT_GE(err, 0) << r.out();
    EXPECT_EQ(r.lines.back(), c.verdict) << r.out();
    EXPECT_FALSE(r.has("Restoring any previous pass...")) << r.out();
    EXPECT_EQ(tl::readFile(world.globalApt()), global);
  }
}

// A pass that used taxi networks signs with the maps' revision + "+" + a
// hash; that is still the current map, not an older one.
TEST_F(CliTest, StatusTellsAPassFromAnOlderMap) {
  ASSERT_EQ(w.cli({"suppress"}).status, 0);
  const std::string manifestPath = w.pluginDir() + "/orvel_manifest.json";
  // KROC needs a pick and is left alone: only LZIB in the global file.
  const std::string suppressedRow = "Scenery   Taxilume modified - lights suppressed (1 airports in 1 file(s))";
  for (const auto& [sig, older] : std::vector<std::pair<std::string, bool>>{
           {"r1", false}, {"r1+1600c686a476", false}, {"r0", true}, {"r0+1600c686a476", true}, {"r10", true}}) {
    nlohmann::json m = nlohmann::json::parse(tl::readFile(manifestPath));
    for (auto& row : m) row["sig"] = sig;
    tl::writeFile(manifestPath, m.dump(2));
    const tl::CliRun r = w.cli({"status"});
    EXPECT_TRUE(r.has(suppressedRow + (older ? " from an older map" : ""))) << sig << "\n" << r.out();
  }
}

// A program started from inside the X-Plane folder counts as X-Plane.
TEST_F(CliTest, SceneryIsLockedWhileAProgramRunsFromTheFolder) {
  const std::string sleeper = w.root() + "bin/xp-helper";
  fs::create_directories(w.root() + "bin");
  fs::copy_file("/bin/sleep", sleeper);
  const std::map<std::string, std::string> before = scenery();

  pid_t pid = 0;
  std::string exe = sleeper, secs = "120";
  char* argv[] = {exe.data(), secs.data(), nullptr};
  ASSERT_EQ(posix_spawn(&pid, sleeper.c_str(), nullptr, nullptr, argv, nullptr), 0);
  struct Reap {
    pid_t pid;
    ~Reap() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  } reap{pid};
  // Wait (without a clock) until the helper has really become that program.
  for (int i = 0; i < 2000; ++i) {
    std::error_code ec;
    if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string() == sleeper) break;
    usleep(1000);
  }

  for (const char* cmd : {"suppress", "restore"}) {
    const tl::CliRun r = w.cli({cmd});
    EXPECT_EQ(r.status, 1) << cmd << "\n" << r.out();
    EXPECT_EQ(r.lines.back(), "!! X-Plane is running. Close it first.") << r.out();
  }
  EXPECT_EQ(scenery(), before);
  EXPECT_FALSE(anyBackup());
  const tl::CliRun r = w.cli({"status"});
  EXPECT_TRUE(r.has("Sim       X-Plane is running - scenery is locked")) << r.out();
}

// A real zip made with the system's zip: Taxilume/lin_x64/Taxilume.xpl.
std::string makePluginZip(const tl::TempDir& dir) {
  std::string xpl(4096, '\0');
  unsigned x = 12345;
  for (char& c : xpl) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);  // incompressible
  tl::writeFile(dir / "pkg/Taxilume/lin_x64/Taxilume.xpl", xpl);
  const std::string cmd = "cd '" + dir.path() + "/pkg' && zip -qr ../plugin.zip Taxilume";
  return std::system(cmd.c_str()) == 0 ? dir / "plugin.zip" : std::string();
}

TEST(CliPluginTest, InstallsThePublishedPluginOnlyOnOriginalScenery) {
  tl::TempDir pkg;
  const std::string zip = makePluginZip(pkg);
  ASSERT_NE(zip, "");
  tl::CliWorld w(zip, "1.4.2");
  ASSERT_EQ(w.error(), "");

  tl::CliRun r = w.cli({"status"});
  EXPECT_TRUE(r.has("Plugin    Taxilume is not installed -> 1.4.2 available")) << r.out();

  // A pass in force keeps the plugin as it is.
  ASSERT_EQ(w.cli({"suppress"}).status, 0);
  r = w.cli({"install-plugin"});
  EXPECT_EQ(r.status, 1) << r.out();
  EXPECT_EQ(r.lines.back(), "!! the scenery is still suppressed - restore it before changing the plugin");
  ASSERT_EQ(w.cli({"restore"}).status, 0);

  r = w.cli({"install-plugin"});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "Installed Taxilume 1.4.2.");
  EXPECT_EQ(tl::readFile(w.pluginDir() + "/version.txt"), "1.4.2");
  r = w.cli({"status"});
  EXPECT_TRUE(r.has("Plugin    Taxilume 1.4.2")) << r.out();
}

// The same single-instance lock as the launcher window: while it is held,
// the tool gives up after the lock's retries and runs nothing.
TEST_F(CliTest, WaitsForTheLauncherLockThenGivesUp) {
  const std::string lockPath = w.path("tmp/taxilume-launcher-" + std::to_string(::getuid()) + ".lock");
  const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  const tl::CliRun r = w.cli({"suppress"});
  close(fd);
  EXPECT_EQ(r.status, 1) << r.out();
  EXPECT_EQ(r.err, "Taxilume Launcher is already running.\n");
  EXPECT_TRUE(r.lines.empty()) << r.out();
  EXPECT_FALSE(anyBackup());
}

// ---- launch -------------------------------------------------------------

// A stand-in for X-Plane: records its pid, session and working directory,
// then does what `tail` says.
void writeStandIn(const tl::CliWorld& w, const std::string& tail) {
  const std::string exe = w.root() + "X-Plane-x86_64";
  tl::writeFile(exe,
                "#!/bin/sh\n"
                "set -- $(cat /proc/$$/stat | sed 's/.*) //')\n"  // fields after the command name
                "echo \"$$ $4 $(pwd)\" > \"" + w.path("started.txt") + "\"\n" + tail);
  chmod(exe.c_str(), 0755);
  tl::writeFile(w.pluginDir() + "/lin_x64/Taxilume.xpl", "plugin");
}

struct Started {
  pid_t pid = 0;
  pid_t sid = 0;
  std::string cwd;
};

Started readStarted(const tl::CliWorld& w) {
  Started s;
  FILE* f = std::fopen(w.path("started.txt").c_str(), "r");
  if (!f) return s;
  char cwd[4096] = {0};
  int pid = 0, sid = 0;
  if (std::fscanf(f, "%d %d %4095[^\n]", &pid, &sid, cwd) == 3) s = Started{pid, sid, cwd};
  std::fclose(f);
  return s;
}

void endSession(pid_t sid) {
  if (sid > 0) kill(-sid, SIGKILL);
}

TEST_F(CliTest, LaunchStartsXPlaneInItsOwnSessionAndCloses) {
  fs::copy_file("/bin/sleep", w.root() + "xp-sleep");
  writeStandIn(w, "echo started > Log.txt\nexec ./xp-sleep 300\n");

  const tl::CliRun r = w.cli({"launch"});
  const Started s = readStarted(w);
  endSession(s.sid);
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_GE(summaryOf(r).at, 0) << "the scenery is prepared first\n" << r.out();
  const int starting = r.find("X-Plane is starting - waiting for it to come up...");
  ASSERT_GE(starting, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "X-Plane is running. Closing the launcher.");
  ASSERT_GT(s.pid, 0);
  EXPECT_EQ(s.sid, s.pid) << "started in a session of its own";
  EXPECT_EQ(s.cwd + "/", w.root());
}

TEST_F(CliTest, LaunchWaitEndsOnLogTxtOrTimesOut) {
  struct Case {
    std::string tail;  // what the stand-in does after recording itself
    int status;
    std::string last;
  };
  // The stand-ins stay under /bin/sh, outside the folder, so only Log.txt
  // can tell that they came up.
  const std::vector<Case> cases = {
      {"echo started > Log.txt\nsleep 300\n", 0, "X-Plane is running. Closing the launcher."},
      {"sleep 300\n", 1,
       "!! X-Plane did not come up within three minutes. Run taxilume-cli restore if you are done."},
  };
  for (const Case& c : cases) {
    tl::CliWorld world;
    ASSERT_EQ(world.error(), "");
    writeStandIn(world, c.tail);
    const tl::CliRun r = world.cli({"launch"}, TL_CLI_FASTWAIT);
    endSession(readStarted(world).sid);
    EXPECT_EQ(r.status, c.status) << r.out();
    EXPECT_EQ(r.lines.back(), c.last) << r.out();
  }
}

// A --root that is not an X-Plane 12 folder is refused before anything is
// asked or written, and the folder remembered from before stays remembered.
TEST(CliRootTest, OnlyAnXPlaneFolderIsTaken) {
  tl::TempDir pkg;
  const std::string zip = makePluginZip(pkg);
  ASSERT_NE(zip, "");
  tl::CliWorld w(zip, "1.2.0");  // a published plugin: install-plugin would install it
  ASSERT_EQ(w.error(), "");
  fs::create_directories(w.path("empty"));
  const std::string host = "127.0.0.1:" + std::to_string(w.port());
  const std::string remembered = w.configDir() + "/xproot.txt";
  tl::writeFile(remembered, w.root());

  struct Case {
    std::string given, why;
  };
  const std::vector<Case> refused = {
      {w.path("X-Plane 21"), "there is no such folder."},
      {"~/X-Plane 12", "there is no such folder - a ~ inside quotes is not your home folder; leave it outside the "
                       "quotes."},
      {w.globalApt(), "that is a file, not a folder."},
      {w.path("empty"), "that folder holds no X-Plane 12 (no Resources/version.txt, no X-Plane-x86_64)."},
  };
  const std::string global = tl::readFile(w.globalApt());
  for (const Case& c : refused) {
    for (const char* cmd : {"install-plugin", "suppress"}) {
      w.server().resetCounts();
      const tl::CliRun r = w.run({"--host", host, "--root", c.given, cmd});
      EXPECT_EQ(r.status, 1) << c.given << " " << cmd << "\n" << r.out();
      EXPECT_EQ(r.lines, (std::vector<std::string>{"!! --root " + c.given + ": " + c.why,
                                                   "!! X-Plane 12 was not found. Use --root DIR to point at it."}))
          << r.out();
      EXPECT_EQ(w.server().requests(), 0) << c.given;
    }
  }
  // Nothing was made anywhere: not at the typo, not in a literal ./~, not
  // below the file or in the empty folder; the remembered folder is kept.
  EXPECT_FALSE(fs::exists(w.path("X-Plane 21")));
  EXPECT_FALSE(fs::exists(w.cwd() + "/~"));
  EXPECT_EQ(tl::readFile(w.globalApt()), global);
  EXPECT_TRUE(fs::is_empty(w.path("empty")));
  EXPECT_EQ(tl::readFile(remembered), w.root());

  // The real folder, named without its trailing slash, is taken and remembered.
  tl::writeFile(remembered, "/elsewhere/");
  std::string bare = w.root();
  bare.pop_back();
  const tl::CliRun r = w.run({"--host", host, "--root", bare, "install-plugin"});
  EXPECT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.at(0), "X-Plane: " + w.root());
  EXPECT_TRUE(r.has("Installed Taxilume 1.2.0.")) << r.out();
  EXPECT_EQ(tl::readFile(remembered), w.root());
}

// The options' other forms, and usage errors that stop before anything runs:
// no request, no configuration written.
TEST_F(CliTest, OptionsAndUsageErrors) {
  const std::string host = "127.0.0.1:" + std::to_string(w.port());
  struct Bad {
    std::vector<std::string> args;
    std::string why;  // the line before the usage text
  };
  const std::vector<Bad> bad = {
      {{"--rot", w.root(), "status"}, "taxilume-cli: unknown option --rot"},
      {{"--root"}, "taxilume-cli: --root needs the X-Plane 12 folder"},
      {{"--root=", "status"}, "taxilume-cli: --root needs the X-Plane 12 folder"},
      {{"--host", host, "--root", w.root()}, ""},
      {{"--root", w.root(), "status", "now"}, "taxilume-cli: status takes 0 argument(s)"},
      {{"--root", w.root(), "pick", "x", "Bar Works"},
       "taxilume-cli: ROW must be a row number from `taxilume-cli packs` (1, 2, ...), not \"x\""},
      {{"--root", w.root(), "dismiss", "0"},
       "taxilume-cli: ROW must be a row number from `taxilume-cli packs` (1, 2, ...), not \"0\""},
      {{"--root", w.root(), "undismiss", "-1"},
       "taxilume-cli: ROW must be a row number from `taxilume-cli packs` (1, 2, ...), not \"-1\""},
  };
  for (const Bad& b : bad) {
    std::vector<std::string> args = {"--host", host};
    args.insert(args.end(), b.args.begin(), b.args.end());
    const tl::CliRun r = w.run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(r.lines.empty()) << r.out();
    const std::string usage = "usage: taxilume-cli [--root DIR] [--host HOST[:PORT]] COMMAND [ARGS]\n";
    EXPECT_EQ(r.err.rfind((b.why.empty() ? "" : b.why + "\n") + usage, 0), 0u) << r.err;
  }
  EXPECT_EQ(w.server().requests(), 0);
  EXPECT_FALSE(fs::exists(w.configDir()));

  tl::CliRun r = w.run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.lines, std::vector<std::string>{lumo::kLauncherVersion});
  EXPECT_EQ(r.err, "");
  r = w.run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.lines.at(0), "usage: taxilume-cli [--root DIR] [--host HOST[:PORT]] COMMAND [ARGS]");
  EXPECT_NE(r.out().find("  forget-outdated "), std::string::npos);
  EXPECT_EQ(r.err, "");

  r = w.run({"--root=" + w.root(), "--host=" + host, "status"});
  EXPECT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.at(0), "X-Plane: " + w.root());
  EXPECT_TRUE(r.has("Server    connected")) << r.out();
}

// forget-outdated: the copies of files a scenery update replaced go; the
// scenery itself stays as the update left it.
TEST_F(CliTest, ForgetOutdatedDeletesOnlyTheOldCopies) {
  ASSERT_EQ(w.cli({"suppress"}).status, 0);
  ASSERT_TRUE(fs::exists(w.globalApt() + ".taxilume-orig"));
  // The update: new bytes (the original's bytes again would read as the
  // original itself, with nothing outdated about it).
  const std::string updated = tl::readFile(w.globalApt() + ".taxilume-orig") + "\n";
  tl::writeFile(w.globalApt(), updated);
  fs::last_write_time(w.globalApt(), fs::last_write_time(w.globalApt()) + std::chrono::seconds(2));

  tl::CliRun r = w.cli({"status"});
  EXPECT_TRUE(r.has("Outdated  1 file(s) updated since they were suppressed - taxilume-cli forget-outdated "
                    "deletes Taxilume's old copies"))
      << r.out();
  r = w.cli({"forget-outdated"});
  EXPECT_EQ(r.status, 0) << r.out();
  EXPECT_EQ(r.lines.back(), "Removed 1 outdated copy/copies. Your scenery was not touched.") << r.out();
  EXPECT_FALSE(fs::exists(w.globalApt() + ".taxilume-orig"));
  EXPECT_FALSE(fs::exists(w.globalApt() + ".taxilume-cut"));
  EXPECT_EQ(tl::readFile(w.globalApt()), updated);
  r = w.cli({"status"});
  EXPECT_EQ(r.findPrefix("Outdated"), -1) << r.out();
}

}  // namespace

namespace {

// SIGTERM at several moments of "suppress" (the first, and a second one that
// first undoes the first): the program ends at once while it only reads,
// and otherwise once what it writes is complete. Either way the scenery is
// recorded as it is on disk, status tells it truly, and restore brings every
// byte back.
TEST(CliStopTest, SigtermNeverLeavesAnUnrecordedRewrite) {
  const std::vector<std::pair<bool, std::string>> moments = {
      {false, "Fetching the published maps from "},
      {false, "Matching your scenery packs..."},
      {false, "Rochester Pro/Earth nav data/apt.dat  - "},
      {false, "Global Airports/Earth nav data/apt.dat  - "},  // cut and recorded, the taken record to come
      {true, "Restoring any previous pass..."},
      {true, "   restored  "},
      {true, "Global Airports/Earth nav data/apt.dat  - "},
  };
  for (const auto& [second, moment] : moments) {
    SCOPED_TRACE((second ? "second suppress, at " : "first suppress, at ") + moment);
    tl::CliWorld w;
    ASSERT_EQ(w.error(), "");
    const std::map<std::string, std::string> original = {{w.globalApt(), tl::readFile(w.globalApt())},
                                                         {w.packApt(), tl::readFile(w.packApt())}};
    if (second) {
      ASSERT_EQ(w.cli({"suppress"}).status, 0);
    }
    tl::CliRun r;
    {
#ifdef TL_FAILSHIM
      // The taken record's rename waits a while, so the signal lands while
      // the pass is still writing (the global file cut, its record not yet
      // complete) wherever the moment is before it.
      const tl::Preload shim(TL_FAILSHIM);
      setenv("TL_SHIM_SLOW_RENAME", "tlm_taken.json.taxilume-part:400", 1);
#endif
      r = w.cli({"suppress"}, "", moment);
      unsetenv("TL_SHIM_SLOW_RENAME");
    }
    EXPECT_TRUE(r.status == 143 || r.status == 0) << r.status << "\n" << r.out();
    ASSERT_TRUE(r.findPrefix(moment) >= 0 || r.out().find(moment) != std::string::npos) << r.out();

    bool changed = false;
    for (const auto& [path, bytes] : original) changed = changed || tl::readFile(path) != bytes;
    const std::string manifest = w.pluginDir() + "/orvel_manifest.json";
    if (changed) {
      // Recorded: the manifest names the file and the taken record exists.
      EXPECT_TRUE(fs::exists(manifest) && tl::readFile(manifest).find(w.globalApt()) != std::string::npos)
          << r.out();
      EXPECT_TRUE(fs::exists(w.pluginDir() + "/tlm_taken.json")) << r.out();
    }
    const tl::CliRun status = w.cli({"status"});
    EXPECT_EQ(status.findPrefix("Scenery   Taxilume modified") >= 0, changed) << status.out();

    const tl::CliRun back = w.cli({"restore"});
    EXPECT_EQ(back.status, 0) << back.out();
    for (const auto& [path, bytes] : original) EXPECT_EQ(tl::readFile(path), bytes) << path;
    EXPECT_FALSE(fs::exists(w.globalApt() + ".taxilume-orig"));
  }
}

// The Scenery row follows the files, not the manifest alone: an outdated
// file is not suppressed, and a cut file the manifest lost still is.
TEST(CliStopTest, StatusFollowsTheFiles) {
  tl::CliWorld w;
  ASSERT_EQ(w.error(), "");
  ASSERT_EQ(w.cli({"suppress"}).status, 0);
  const std::string modified = "Scenery   Taxilume modified - lights suppressed (1 airports in 1 file(s))";
  EXPECT_TRUE(w.cli({"status"}).has(modified));

  // The manifest lost: the cut file still counts (its airports are unknown).
  const std::string manifest = w.pluginDir() + "/orvel_manifest.json";
  const std::string rows = tl::readFile(manifest);
  tl::writeFile(manifest, "[]");
  tl::CliRun r = w.cli({"status"});
  // (Which map cut it is unknown without its rows, so it may read as older.)
  EXPECT_GE(r.findPrefix("Scenery   Taxilume modified - lights suppressed (0 airports in 1 file(s))"), 0) << r.out();

  // A scenery update replaced the file: nothing is suppressed there.
  tl::writeFile(manifest, rows);
  tl::writeFile(w.globalApt(), tl::readFile(w.globalApt()) + "\n");
  r = w.cli({"status"});
  EXPECT_TRUE(r.has("Scenery   Original - lights not suppressed")) << r.out();
}

}  // namespace
