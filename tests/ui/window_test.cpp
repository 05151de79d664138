// The real launcher in a real window: Xvfb started here, the local server
// in-process, a temporary X-Plane folder from real airport slices. Clicks go
// through xdotool at the widgets' places as the launcher reports them
// (TAXILUME_UI_MAP); screenshots of each state land in the build folder.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/selfupdate.h"
#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"
#include "xsession.h"

namespace fs = std::filesystem;

namespace {

#ifndef TL_LAUNCHER_BIN
#define TL_LAUNCHER_BIN ""
#endif

const std::string kLauncher = TL_LAUNCHER_BIN;
constexpr int kSlow = 60000;  // generous: a software-rendered window on a shared machine

bool have(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool onPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::stringstream ss(path ? path : "");
  std::string dir;
  while (std::getline(ss, dir, ':'))
    if (access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
  return false;
}

// The header lines of the sample (licence on line 2), the blocks of the
// given airports, and the closing "99".
std::string slice(const std::vector<std::string>& codes) {
  std::ifstream in(tl::testData("sample-global-apt.dat"), std::ios::binary);
  std::string line, out, header;
  bool keep = false;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (n <= 3) {
      out += line + "\n";
      continue;
    }
    std::istringstream ls(line);
    std::string t0, t1, t2, t3, code;
    ls >> t0 >> t1 >> t2 >> t3 >> code;
    if (t0 == "1" || t0 == "16" || t0 == "17") {
      keep = false;
      for (const std::string& c : codes) keep = keep || c == code;
    } else if (t0 == "99") {
      keep = false;
    }
    if (keep) out += line + "\n";
  }
  return out + "99\r\n";
}

// What a fixture's X-Plane folder holds beyond the defaults.
struct FolderSetup {
  std::vector<std::string> packAirports{"KROC"};  // the one add-on pack's airports, each needing a pick
  std::string packName = "Gamma Studio - Rochester";
  std::string xpParent;     // folders between the temporary folder and "X-Plane 12/"
  bool xplaneFonts = true;  // Roboto in Resources/fonts
  int staleCopies = 0;      // packs whose backup copy is outdated (the warning)
};

struct Fixture {
  tl::TempDir tmp;
  std::string xp, packApt, globalApt, originalPack, originalGlobal, serverDir, mapPath, outPath;
  devserver::Server server;

  // false with a reason when the machine cannot run the window
  bool setUp(std::string& why, const FolderSetup& set = FolderSetup()) {
    if (kLauncher.empty() || !have(kLauncher)) return why = "launcher not built", false;
    if (!onPath("xdotool") || !onPath("import")) return why = "xdotool or imagemagick missing", false;

    xp = tmp / (set.xpParent + "X-Plane 12/");
    globalApt = xp + "Global Scenery/Global Airports/Earth nav data/apt.dat";
    packApt = xp + "Custom Scenery/" + set.packName + "/Earth nav data/apt.dat";
    std::vector<std::string> global = set.packAirports;
    global.push_back("LZIB");
    originalGlobal = slice(global);
    originalPack = slice(set.packAirports);
    tl::writeFile(globalApt, originalGlobal);
    tl::writeFile(packApt, originalPack);
    std::string ini = "I\r\n1000 Version\r\nSCENERY\r\n\r\nSCENERY_PACK Custom Scenery/" + set.packName + "/\r\n";
    // Packs updated since a pass: a backup copy and a cut mark that no longer
    // describes the apt.dat beside them. No airports, so no rows in the list.
    for (int i = 0; i < set.staleCopies; ++i) {
      const std::string pack = "Updated Pack " + std::to_string(i + 1);
      const std::string apt = xp + "Custom Scenery/" + pack + "/Earth nav data/apt.dat";
      tl::writeFile(apt, slice({}));
      tl::writeFile(apt + ".taxilume-orig", slice({}));
      tl::writeFile(apt + ".taxilume-cut", "1 1\n");
      ini += "SCENERY_PACK Custom Scenery/" + pack + "/\r\n";
    }
    tl::writeFile(xp + "Custom Scenery/scenery_packs.ini", ini + "SCENERY_PACK *GLOBAL_AIRPORTS*\r\n");
    tl::writeFile(xp + "Resources/version.txt", "12.1.0\n");
    tl::writeFile(xp + "Resources/plugins/Taxilume/lin_x64/Taxilume.xpl", std::string(2048, 'x'));
    tl::writeFile(xp + "Resources/plugins/Taxilume/version.txt", "1.0.0");
    for (const char* f : {"Roboto-Regular.ttf", "Roboto-Bold.ttf"}) {
      const std::string src = std::string("/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/") + f;
      if (set.xplaneFonts && have(src)) {
        fs::create_directories(xp + "Resources/fonts");
        fs::copy_file(src, xp + "Resources/fonts/" + f);
      }
    }

    // Maps for the global airports; two publishers with a map of each pack
    // airport, neither named like the pack, so every row needs a pick.
    const std::string krocApt = tmp / "kroc.dat";
    tl::writeFile(krocApt, originalPack);
    devserver::BuildOptions opt;
    opt.aptDat = globalApt;
    opt.addOns = {{"Alpha Lights", krocApt}, {"Beta Works", krocApt}};
    serverDir = tmp / "server";
    int airports = 0;
    std::string err;
    if (!devserver::buildFolder(opt, serverDir, airports, err)) return why = "server folder: " + err, false;
    tl::writeFile(serverDir + "/releases/xplane.json", R"({"version":"1.0.0","url":"/files/none.zip","notes":""})");
    // The launcher is current: no self-update.
    tl::writeFile(serverDir + "/releases/xplane-launcher-lin.json",
                  R"({"version":"1.0.1","url":"/files/xplane-launcher-lin","notes":""})");
    if (!server.start(serverDir, 0, err)) return why = "server: " + err, false;

    fs::create_directories(tmp / "home");
    fs::create_directories(tmp / "t");
    mapPath = tmp / "ui.map";
    outPath = tmp / "launcher.out";
    return true;
  }

  std::vector<std::string> env(const std::string& display) const {
    return {"DISPLAY=" + display, "HOME=" + (tmp / "home"), "XDG_CONFIG_HOME=" + (tmp / "cfg"),
            "TMPDIR=" + (tmp / "t") + "/", "TAXILUME_UI_MAP=" + mapPath, "LC_ALL=C", asanOptions()};
  }
  // In a sanitizer build the OpenGL driver, which libGL loads and unloads at
  // run time, leaves allocations behind that the leak check cannot even name;
  // the launcher's own code is leak-checked by the unit tests.
  static std::string asanOptions() {
    const char* o = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (o && *o ? std::string(o) + ":" : "") + "detect_leaks=0";
  }
  std::vector<std::string> args() const {
    return {kLauncher, "--root", xp, "--host", "127.0.0.1:" + std::to_string(server.port())};
  }
  std::string output() const { return have(outPath) ? tl::readFile(outPath) : ""; }
};

std::string shotPath(const std::string& name) { return tl::buildDir() + "/ui-screenshots/" + name + ".png"; }

bool snap(const tl::XServer& x, const std::string& name) {
  fs::create_directories(tl::buildDir() + "/ui-screenshots");
  // A few frames for ImGui to settle (the log follows new lines one frame late).
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return tl::screenshot(x.display(), shotPath(name));
}

#define NEED_X(xs)                                     \
  std::string why__;                                   \
  if (!xs.start(why__)) GTEST_SKIP() << why__;

// Clicks the named widget once it is there (and enabled: names of disabled
// buttons end in " [off]").
::testing::AssertionResult clickWidget(const tl::XServer& x, unsigned long win, const std::string& map,
                                       const std::string& name) {
  tl::Rect r;
  if (!tl::waitForWidget(map, name, r, kSlow)) return ::testing::AssertionFailure() << "no widget " << name;
  if (!tl::click(x.display(), win, r.cx(), r.cy())) return ::testing::AssertionFailure() << "xdotool failed";
  return ::testing::AssertionSuccess();
}

double idleCpu(pid_t pid, int seconds) {
  const long long a = tl::cpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long long b = tl::cpuTicks(pid);
  return a < 0 || b < 0 ? -1 : 100.0 * double(b - a) / double(sysconf(_SC_CLK_TCK)) / seconds;
}

TEST(Window, SuppressPickRestoreAndCloseInARealWindow) {
  Fixture f;
  std::string why;
  if (!f.setUp(why)) GTEST_SKIP() << why;
  tl::XServer x;
  NEED_X(x);

  tl::Child launcher;
  ASSERT_TRUE(launcher.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << f.output();
  int w = 0, h = 0;
  ASSERT_TRUE(tl::windowSize(x.display(), win, w, h));
  EXPECT_EQ(w, 900);
  EXPECT_EQ(h, 1024);  // the work area of a 1280 x 1024 screen, below the 1093 cap

  // The start-up check fills the rows: folder, server, plugin, scenery, and the pack needing a pick.
  tl::Rect r;
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "pub:KROC", r, kSlow)) << f.output();
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Update & Suppress", r, kSlow));
  const auto m = tl::readUiMap(f.mapPath);
  EXPECT_TRUE(m.count("row:X-Plane:" + f.xp)) << f.output();
  EXPECT_TRUE(m.count("row:Server:connected"));
  EXPECT_TRUE(m.count("row:Plugin:Taxilume 1.0.0"));
  EXPECT_TRUE(m.count("row:Scenery:original"));
  EXPECT_TRUE(m.count("row:Sim:not running"));
  EXPECT_TRUE(m.count("Restore originals [off]"));  // nothing suppressed yet
  EXPECT_TRUE(snap(x, "1-started"));

  // Unticking "Restore original scenery lights on X-Plane quit" is saved at once.
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Restore original scenery lights on X-Plane quit"));
  const std::string quitFile = f.tmp / "cfg/Taxilume/restore-on-quit.txt";
  EXPECT_TRUE(tl::eventually([&] { return have(quitFile) && tl::readFile(quitFile) == "0"; }, kSlow));

  // A pick in the pack list.
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "pub:KROC"));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "pick:KROC:Beta Works", r, kSlow));
  EXPECT_TRUE(snap(x, "2-pick-open"));
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "pick:KROC:Beta Works"));
  const std::string picks = f.xp + "Resources/plugins/Taxilume/resources/publishers.json";
  ASSERT_TRUE(tl::eventually([&] { return have(picks); }, kSlow));
  EXPECT_EQ(tl::readFile(picks), "{\n  \"gammastudio-rochester\": \"Beta Works\"\n}");
  // The pick changed what the next pass does: the hint says to run it.
  EXPECT_TRUE(tl::waitForWidget(f.mapPath, "hint:picked", r, kSlow));
  EXPECT_TRUE(snap(x, "3-picked"));

  // Update & Suppress rewrites the scenery and keeps the originals beside it.
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Update & Suppress"));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Restore originals", r, 3 * kSlow)) << f.output();
  EXPECT_TRUE(tl::readUiMap(f.mapPath).count("row:Scenery:modified"));
  EXPECT_FALSE(tl::readUiMap(f.mapPath).count("hint:picked"));  // the pass's own scan took the pick in
  EXPECT_NE(tl::readFile(f.globalApt), f.originalGlobal);
  EXPECT_EQ(tl::readFile(f.globalApt + ".taxilume-orig"), f.originalGlobal);
  EXPECT_TRUE(snap(x, "4-suppressed"));

  // Idle cost, measured and printed (a figure, not a pass mark), once the
  // window has had a moment to go idle after the last click.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double normal = idleCpu(launcher.pid(), 10);
  ASSERT_TRUE(tl::setIconic(x.display(), win, true));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double iconic = idleCpu(launcher.pid(), 10);
  ASSERT_TRUE(tl::setIconic(x.display(), win, false));
  std::printf("idle CPU of the launcher under Xvfb: %.1f%% of a core shown, %.1f%% iconified\n", normal, iconic);
  RecordProperty("idle_cpu_percent", std::to_string(normal));
  RecordProperty("iconified_cpu_percent", std::to_string(iconic));
  // A loop that spins draws or polls without pause takes a whole core or more.
  EXPECT_LT(normal, 50.0);
  EXPECT_LT(iconic, 50.0);

  // Restore originals puts every byte back.
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Restore originals"));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Restore originals [off]", r, 3 * kSlow));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Update & Suppress", r, 3 * kSlow));
  EXPECT_TRUE(tl::readUiMap(f.mapPath).count("row:Scenery:original"));
  EXPECT_EQ(tl::readFile(f.globalApt), f.originalGlobal);
  EXPECT_EQ(tl::readFile(f.packApt), f.originalPack);
  EXPECT_FALSE(have(f.globalApt + ".taxilume-orig"));
  EXPECT_TRUE(snap(x, "5-restored"));

  // Closing the window ends the process normally.
  ASSERT_TRUE(tl::requestClose(x.display(), win));
  int status = -1;
  ASSERT_TRUE(launcher.wait(kSlow, status));
  EXPECT_EQ(status, 0) << f.output();
}

// A second start from the menu: the running launcher's window comes to the
// front (here: above another program's window) and the second one ends at
// once, long before the lock's wait would be over. With no window to raise
// (the running launcher is on another display) it falls back to waiting for
// the lock, then says so.
TEST(Window, SecondStartRaisesTheFirstOrElseWaitsForTheLock) {
  const struct {
    const char* what;
    bool sameDisplay;
  } cases[] = {{"raised", true}, {"no window to raise", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    std::string why;
    if (!f.setUp(why)) GTEST_SKIP() << why;
    tl::XServer x, other;
    NEED_X(x);
    if (!c.sameDisplay && !other.start(why)) GTEST_SKIP() << why;

    tl::Child first;
    ASSERT_TRUE(first.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
    const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
    ASSERT_NE(win, 0u) << f.output();
    tl::Rect r;
    ASSERT_TRUE(tl::waitForWidget(f.mapPath, "log", r, kSlow));
    tl::Cover cover;
    ASSERT_TRUE(cover.open(x.display()));
    ASSERT_FALSE(tl::stackedAbove(x.display(), win, cover.window()));

    tl::Child second;
    const std::string out2 = f.tmp / "second.out";
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(second.start(f.args(), f.env(c.sameDisplay ? x.display() : other.display()), out2, why)) << why;
    int status = -1;
    ASSERT_TRUE(second.wait(kSlow, status));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(status, 0);
    if (c.sameDisplay) {
      EXPECT_LT(took, 6.0) << "the lock's wait is 12 s; raising takes a moment";
      EXPECT_EQ(tl::readFile(out2), "Taxilume Launcher is already running - its window is now in front.\n");
    } else {
      EXPECT_EQ(tl::readFile(out2), "Taxilume Launcher is already running.\n");
    }
    EXPECT_EQ(tl::stackedAbove(x.display(), win, cover.window()), c.sameDisplay);
    EXPECT_TRUE(first.running());

    ASSERT_TRUE(tl::requestClose(x.display(), win));
    ASSERT_TRUE(first.wait(kSlow, status));
    EXPECT_EQ(status, 0);
  }
}

// The whole self-update road: the server publishes a newer launcher build (a
// copy of this very program), the start-up check puts it in place of the
// running copy, "Restart now" starts it, this launcher closes, the new one
// takes the lock over, sweeps the ".old" file and opens its own window.
TEST(Window, RestartNowHandsOverToTheUpdatedLauncher) {
  Fixture f;
  std::string why;
  if (!f.setUp(why)) GTEST_SKIP() << why;
  const std::string self = f.tmp / "bin/taxilume-launcher";
  fs::create_directories(f.tmp / "bin");
  fs::copy_file(kLauncher, self);
  fs::create_directories(f.serverDir + "/files");
  // The published build is this one with its version text made 9.9.9: it
  // must answer "--version" with the version published before it is put in
  // place, and once running it is current.
  std::string build = tl::readFile(kLauncher);
  const std::string mine = std::string(lumo::kLauncherVersion) + '\0', published = std::string("9.9.9") + '\0';
  for (size_t at = build.find(mine); at != std::string::npos; at = build.find(mine, at + 1))
    build.replace(at, mine.size(), published);
  tl::writeFile(f.serverDir + "/files/xplane-launcher-lin", build);
  tl::writeFile(f.serverDir + "/releases/xplane-launcher-lin.json",
                R"({"version":"9.9.9","url":"/files/xplane-launcher-lin","notes":""})");
  tl::XServer x;
  NEED_X(x);

  std::vector<std::string> args = f.args();
  args[0] = self;
  tl::Child first;
  ASSERT_TRUE(first.start(args, f.env(x.display()), f.outPath, why)) << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << f.output();
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Restart now")) << f.output();
  int status = -1;
  ASSERT_TRUE(first.wait(kSlow, status));
  EXPECT_EQ(status, 0) << f.output();
  std::remove(f.mapPath.c_str());

  // The new launcher: its own window, the server reached with the same host
  // and port, the old build swept away.
  const unsigned long win2 = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win2, 0u) << f.output();
  tl::Rect r;
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "row:Server:connected", r, kSlow)) << f.output();
  EXPECT_TRUE(tl::eventually([&] { return !have(self + ".old"); }, kSlow));
  EXPECT_TRUE(snap(x, "6-restarted"));
  const pid_t pid2 = tl::windowPid(x.display(), win2);
  ASSERT_GT(pid2, 0);
  ASSERT_TRUE(tl::requestClose(x.display(), win2));
  EXPECT_TRUE(tl::eventually([&] { return !tl::processAlive(pid2); }, kSlow));
}

// A server that takes connections and never answers keeps the start-up job
// waiting on the network for seconds: closing the window then must still end
// the process normally, without waiting for the job and without tearing the
// state down under it.
TEST(Window, ClosingWhileAJobRunsEndsNormally) {
  Fixture f;
  std::string why;
  if (!f.setUp(why)) GTEST_SKIP() << why;
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(listen(silent, 8), 0);
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  tl::XServer x;
  NEED_X(x);

  tl::Child launcher;
  ASSERT_TRUE(launcher.start({kLauncher, "--root", f.xp, "--host", "127.0.0.1:" + std::to_string(ntohs(addr.sin_port))},
                             f.env(x.display()), f.outPath, why))
      << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << f.output();
  tl::Rect r;
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "job:checking", r, kSlow));
  // The job's name sits in the middle of the buttons' height.
  tl::Rect button;
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Update & Suppress [off]", button, kSlow));
  EXPECT_NEAR(r.cy(), button.cy(), 1);
  EXPECT_TRUE(snap(x, "7-job-running"));
  ASSERT_TRUE(tl::requestClose(x.display(), win));
  int status = -1;
  ASSERT_TRUE(launcher.wait(kSlow, status));
  EXPECT_EQ(status, 0) << f.output();
  // The job had got no further than its first request: one connection
  // arrived. A loop that waited for the job would have let it time out and
  // try the release and the self-update as well.
  fcntl(silent, F_SETFL, O_NONBLOCK);
  int connections = 0;
  for (int c; (c = accept(silent, nullptr, nullptr)) >= 0; ++connections) close(c);
  EXPECT_EQ(connections, 1);
  close(silent);
}

// Laptop screens with everything up at once: the outdated-copies warning
// with several files, six packs that need a pick, and a Flatpak-long X-Plane
// path. The three buttons and a five-line log stay inside the window; what
// is above them scrolls, the pack list within its own bounded region.
TEST(Window, SmallScreensKeepTheButtonsAndTheLogInside) {
  const struct {
    int w, h;
  } screens[] = {{1366, 768}, {1280, 720}};
  FolderSetup set;
  set.packAirports = {"KROC", "LOWI", "EDDM", "LZIB", "KSEA", "YSSY"};
  set.staleCopies = 5;
  set.xpParent = "home/pat/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/";
  // ImGui's line with its spacing at the launcher's 17-pixel text, and the
  // log's padding: five lines of log need this much height.
  const int lineH = 17 + 9, fiveLines = 5 * lineH - 9 + 2 * 14;
  const int packRow = lineH + 17 + 2 * 6 + 9;  // text line, combo line

  for (const auto& sc : screens) {
    SCOPED_TRACE(std::to_string(sc.w) + "x" + std::to_string(sc.h));
    Fixture f;
    std::string why;
    if (!f.setUp(why, set)) GTEST_SKIP() << why;
    ASSERT_GE(f.xp.size(), 100u);
    tl::XServer x;
    if (!x.start(why, sc.w, sc.h)) GTEST_SKIP() << why;
    tl::Child launcher;
    ASSERT_TRUE(launcher.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
    const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
    ASSERT_NE(win, 0u) << f.output();
    int w = 0, h = 0;
    ASSERT_TRUE(tl::windowSize(x.display(), win, w, h));
    EXPECT_EQ(h, sc.h);

    // The start-up check over ("Update & Suppress" enabled again).
    tl::Rect r;
    ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Update & Suppress", r, 3 * kSlow)) << f.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto m = tl::readUiMap(f.mapPath);
    for (const char* b : {"Launch X-Plane", "Update & Suppress", "Restore originals [off]", "Copy log", "log"}) {
      ASSERT_TRUE(m.count(b)) << b;
      EXPECT_GE(m[b].y0, 0) << b;
      EXPECT_LE(m[b].y1, h) << b;
    }
    EXPECT_GE(m["log"].y1 - m["log"].y0, fiveLines);
    EXPECT_GE(m["log"].y0, m["Update & Suppress"].y1);

    // The long path stops short of "Browse...".
    const std::string xrow = "row:X-Plane:" + f.xp;
    ASSERT_TRUE(m.count(xrow)) << f.output();
    ASSERT_TRUE(m.count("Browse..."));
    EXPECT_LT(m[xrow].x1, m["Browse..."].x0);
    EXPECT_TRUE(snap(x, "small-" + std::to_string(sc.h) + "-top"));

    // Scrolled down, the pack list shows, bounded, above the buttons.
    ASSERT_TRUE(tl::wheelDown(x.display(), win, 450, m[xrow].cy(), 15));
    ASSERT_TRUE(tl::waitForWidget(f.mapPath, "packs", r, kSlow));
    m = tl::readUiMap(f.mapPath);
    EXPECT_LE(r.y1 - r.y0, 3 * packRow + 2 * 14);
    EXPECT_LE(r.y1, m["Update & Suppress"].y0);
    EXPECT_TRUE(snap(x, "small-" + std::to_string(sc.h) + "-packs"));

    // The whole log goes to the clipboard.
    ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Copy log"));
    const std::string clip = tl::clipboardText(x.display(), 5000);
    EXPECT_EQ(clip.rfind("X-Plane: " + f.xp + "\n", 0), 0u) << clip;
    EXPECT_NE(clip.find("Database: "), std::string::npos) << clip;

    ASSERT_TRUE(tl::requestClose(x.display(), win));
    int status = -1;
    ASSERT_TRUE(launcher.wait(kSlow, status));
    EXPECT_EQ(status, 0) << f.output();
  }
}

// Runs a command; true when it ended with status 0.
bool sh(const std::vector<std::string>& argv) {
  tl::Child c;
  std::string why;
  int status = -1;
  return c.start(argv, {}, "/dev/null", why) && c.wait(kSlow, status) && status == 0;
}

// A grey picture (PGM, as imagemagick writes it), one byte per pixel.
struct Grey {
  int w = 0, h = 0;
  std::vector<unsigned char> px;
};

bool readPgm(const std::string& path, Grey& g) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxv = 0;
  in >> magic >> g.w >> g.h >> maxv;
  in.get();
  if (magic != "P5" || g.w <= 0 || g.h <= 0 || maxv != 255) return false;
  g.px.resize(size_t(g.w) * g.h);
  return bool(in.read(reinterpret_cast<char*>(g.px.data()), std::streamsize(g.px.size())));
}

double meanDifference(const Grey& a, const Grey& b) {
  double sum = 0;
  for (size_t i = 0; i < a.px.size() && i < b.px.size(); ++i) sum += std::abs(int(a.px[i]) - int(b.px[i]));
  return sum / double(std::max<size_t>(1, a.px.size()));
}

// Ink only, trimmed to the text, stretched to one size, so drawings by two
// renderers at two sizes compare shape against shape.
constexpr const char* kNormal = "400x24!";

// Without the X-Plane fonts, a pack name in Greek and Cyrillic letters is
// drawn as itself: the picture of the name in the window looks like a
// drawing of the same text with the system font, not like one where every
// letter is "?".
TEST(Window, NonAsciiPackNameIsDrawnAsItself) {
  const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (!have(font) || !onPath("convert")) GTEST_SKIP() << "no DejaVu Sans or no imagemagick";
  const std::string name = "Ωμέγα Аэропорт Überländ";
  std::string asked;  // the same with every non-ASCII character as "?"
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) asked += char(c);
    else if ((c & 0xC0) != 0x80) asked += '?';
  }
  FolderSetup set;
  set.packName = name;
  set.xplaneFonts = false;
  Fixture f;
  std::string why;
  if (!f.setUp(why, set)) GTEST_SKIP() << why;
  tl::XServer x;
  NEED_X(x);
  tl::Child launcher;
  ASSERT_TRUE(launcher.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << f.output();
  tl::Rect r;
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "pack:KROC", r, kSlow)) << f.output();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "pack:KROC", r, kSlow));

  fs::create_directories(tl::buildDir() + "/ui-screenshots");
  const std::string shot = shotPath("non-ascii-pack"), dir = f.tmp.path() + "/";
  ASSERT_TRUE(tl::screenshotWindow(x.display(), win, shot));
  const std::string crop = std::to_string(r.x1 - r.x0) + "x" + std::to_string(r.y1 - r.y0) + "+" +
                           std::to_string(r.x0) + "+" + std::to_string(r.y0);
  ASSERT_TRUE(sh({"convert", shot, "-crop", crop, "+repage", "-colorspace", "Gray", "-threshold", "40%", "-trim",
                  "+repage", "-resize", kNormal, "-depth", "8", dir + "drawn.pgm"}));
  for (const auto& [text, file] : {std::pair{name, "right.pgm"}, std::pair{asked, "asked.pgm"}})
    ASSERT_TRUE(sh({"convert", "-background", "black", "-fill", "white", "-font", font, "-pointsize", "40",
                    "label:" + text, "-colorspace", "Gray", "-threshold", "40%", "-trim", "+repage", "-resize", kNormal,
                    "-depth", "8", dir + file}));
  fs::copy_file(dir + "right.pgm", tl::buildDir() + "/ui-screenshots/non-ascii-reference.pgm",
                fs::copy_options::overwrite_existing);
  Grey drawn, right, wrong;
  ASSERT_TRUE(readPgm(dir + "drawn.pgm", drawn) && readPgm(dir + "right.pgm", right) && readPgm(dir + "asked.pgm", wrong));
  const double toRight = meanDifference(drawn, right), toWrong = meanDifference(drawn, wrong);
  std::printf("pack name against the reference drawing: %.1f, against question marks: %.1f\n", toRight, toWrong);
  EXPECT_LT(toRight, toWrong * 0.7);

  ASSERT_TRUE(tl::requestClose(x.display(), win));
  int status = -1;
  ASSERT_TRUE(launcher.wait(kSlow, status));
}

// Closing the window at several moments after "Update & Suppress": the
// launcher lets the job finish what it writes before it ends, so whatever
// is rewritten is recorded (manifest and taken record), the next start
// says so, and restore brings every byte back.
TEST(Window, ClosingDuringSuppressLeavesNoUnrecordedRewrite) {
  for (int delayMs : {0, 30, 120, 400}) {
    SCOPED_TRACE("closed " + std::to_string(delayMs) + " ms after the click");
    Fixture f;
    std::string why;
    if (!f.setUp(why)) GTEST_SKIP() << why;
    tl::XServer x;
    NEED_X(x);
    tl::Child launcher;
    ASSERT_TRUE(launcher.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
    const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
    ASSERT_NE(win, 0u) << f.output();
    tl::Rect r;
    ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Update & Suppress", r, kSlow)) << f.output();
    ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Update & Suppress"));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ASSERT_TRUE(tl::requestClose(x.display(), win));
    int status = -1;
    ASSERT_TRUE(launcher.wait(kSlow, status));
    EXPECT_EQ(status, 0) << f.output();

    const bool changed = tl::readFile(f.globalApt) != f.originalGlobal || tl::readFile(f.packApt) != f.originalPack;
    const std::string plugin = f.xp + "Resources/plugins/Taxilume";
    if (changed) {
      const std::string manifest = plugin + "/orvel_manifest.json";
      EXPECT_TRUE(have(manifest) && tl::readFile(manifest).find(f.globalApt) != std::string::npos);
      EXPECT_TRUE(have(plugin + "/tlm_taken.json"));
    }
    EXPECT_FALSE(have(f.globalApt + ".taxilume-tmp"));

    // The next start tells the state as it is, and restores it.
    tl::Child again;
    ASSERT_TRUE(again.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
    const unsigned long win2 = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
    ASSERT_NE(win2, 0u);
    ASSERT_TRUE(tl::waitForWidget(f.mapPath, changed ? "row:Scenery:modified" : "row:Scenery:original", r, kSlow))
        << f.output();
    if (changed) {
      // The layout still moves while the start-up scan lists the packs, and
      // a click on a disabled button does nothing: click the enabled button
      // until the restore has put the files back (restoring twice is
      // harmless).
      auto original = [&] {
        return tl::readFile(f.globalApt) == f.originalGlobal && tl::readFile(f.packApt) == f.originalPack;
      };
      for (int attempt = 0; attempt < 6 && !original(); ++attempt) {
        if (tl::waitForWidget(f.mapPath, "Restore originals", r, kSlow)) {
          ASSERT_TRUE(clickWidget(x, win2, f.mapPath, "Restore originals"));
        }
        for (int t = 0; t < 150 && !original(); ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Restore originals [off]", r, 3 * kSlow)) << f.output();
    }
    EXPECT_EQ(tl::readFile(f.globalApt), f.originalGlobal);
    EXPECT_EQ(tl::readFile(f.packApt), f.originalPack);
    ASSERT_TRUE(tl::requestClose(x.display(), win2));
    ASSERT_TRUE(again.wait(kSlow, status));
  }
}

TEST(Window, WithoutADisplayTheLauncherSaysSoAndFails) {
  if (kLauncher.empty() || !have(kLauncher)) GTEST_SKIP() << "launcher not built";
  tl::TempDir tmp;
  tl::Child c;
  std::string why;
  const std::string out = tmp / "out";
  // DISPLAY pointing nowhere, and no Wayland either.
  ASSERT_TRUE(c.start({kLauncher, "--root", tmp / "nowhere"},
                      {"DISPLAY=:59999", "WAYLAND_DISPLAY=", "HOME=" + tmp.path(), "XDG_CONFIG_HOME=" + (tmp / "cfg"),
                       "TMPDIR=" + tmp.path() + "/", Fixture::asanOptions()},
                      out, why))
      << why;
  int status = -1;
  ASSERT_TRUE(c.wait(kSlow, status));
  EXPECT_EQ(status, 1);
  const std::string text = tl::readFile(out);
  EXPECT_NE(text.find("Taxilume Launcher: no display - GLFW would not start.\n"), std::string::npos) << text;
}

// What the command line answers by itself never needs a display: no window
// is tried (that would fail here with "no display").
TEST(Window, HelpVersionAndUsageErrorsOpenNoWindow) {
  if (kLauncher.empty() || !have(kLauncher)) GTEST_SKIP() << "launcher not built";
  tl::TempDir tmp;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string start;  // what the output starts with
  };
  const std::string usage = "usage: taxilume-launcher [--root DIR] [--host HOST[:PORT]]\n";
  const std::vector<Case> cases = {
      {{"--version"}, 0, std::string(lumo::kLauncherVersion) + "\n"},
      {{"--help"}, 0, usage},
      {{"-h", "--root", tmp / "nowhere"}, 0, usage},
      {{"--rot", tmp.path()}, 2, "taxilume-launcher: unknown option --rot\n" + usage},
      {{"--root"}, 2, "taxilume-launcher: --root needs the X-Plane 12 folder\n" + usage},
      {{"--host=127.0.0.1:1", "scenery"}, 2, "taxilume-launcher: unexpected argument scenery\n" + usage},
  };
  int n = 0;
  for (const Case& c : cases) {
    tl::Child child;
    std::string why;
    const std::string out = tmp / ("out" + std::to_string(++n));
    std::vector<std::string> argv = {kLauncher};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ASSERT_TRUE(child.start(argv,
                            {"DISPLAY=:59999", "WAYLAND_DISPLAY=", "HOME=" + tmp.path(),
                             "XDG_CONFIG_HOME=" + (tmp / "cfg"), "TMPDIR=" + tmp.path() + "/", Fixture::asanOptions()},
                            out, why))
        << why;
    int status = -1;
    ASSERT_TRUE(child.wait(kSlow, status));
    const std::string text = tl::readFile(out);
    EXPECT_EQ(status, c.status) << c.args[0] << "\n" << text;
    EXPECT_EQ(text.rfind(c.start, 0), 0u) << c.args[0] << "\n" << text;
    if (c.args[0] == "--version") {
      EXPECT_EQ(text, c.start) << "the version and nothing else";
    }
  }
  EXPECT_FALSE(fs::exists(tmp / "cfg")) << "nothing started: no configuration written";
}

// A --root that is not X-Plane: the window opens as when X-Plane was not
// found, offers Browse, and neither makes that folder nor remembers it.
TEST(Window, ARootThatIsNotXPlaneOpensAsNotFound) {
  if (kLauncher.empty() || !have(kLauncher)) GTEST_SKIP() << "launcher not built";
  tl::XServer x;
  NEED_X(x);
  tl::TempDir tmp;
  const std::string typo = tmp / "X-Plane 21";
  const std::string map = tmp / "ui.map", out = tmp / "out";
  fs::create_directories(tmp / "home");
  fs::create_directories(tmp / "t");
  tl::Child launcher;
  std::string why;
  // Port 1 on loopback: the start-up check fails at once, as with no server.
  ASSERT_TRUE(launcher.start({kLauncher, "--root", typo, "--host", "127.0.0.1:1"},
                             {"DISPLAY=" + x.display(), "HOME=" + (tmp / "home"), "XDG_CONFIG_HOME=" + (tmp / "cfg"),
                              "TMPDIR=" + (tmp / "t") + "/", "TAXILUME_UI_MAP=" + map, "LC_ALL=C",
                              Fixture::asanOptions()},
                             out, why))
      << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << tl::readFile(out);
  tl::Rect r;
  EXPECT_TRUE(tl::waitForWidget(map, "row:X-Plane:not found", r, kSlow)) << tl::readFile(out);
  EXPECT_TRUE(tl::waitForWidget(map, "Browse...", r, kSlow));
  ASSERT_TRUE(tl::requestClose(x.display(), win));
  int status = -1;
  ASSERT_TRUE(launcher.wait(kSlow, status));
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(fs::exists(typo));
  EXPECT_FALSE(fs::exists(tmp / "cfg/Taxilume/xproot.txt"));
}

}  // namespace

// "Preview" lists what a pass would take without touching the scenery; "Show"
// opens the airport's picture, drawn with the draw list; the wheel zooms it
// and Escape closes it.
TEST(Window, PreviewShowsAnAirportAndEscapeClosesIt) {
  Fixture f;
  std::string why;
  if (!f.setUp(why)) GTEST_SKIP() << why;
  tl::XServer x;
  NEED_X(x);

  tl::Child launcher;
  ASSERT_TRUE(launcher.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << f.output();
  tl::Rect r;
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "pub:KROC", r, kSlow)) << f.output();

  // KROC's pack needs a pick, so the global file claims only LZIB.
  // The button is off while the start-up check runs, and the layout still
  // moves while the scan lists the packs: click the enabled button until the
  // preview has listed its airports (a second preview changes nothing).
  bool listed = false;
  for (int attempt = 0; attempt < 4 && !listed; ++attempt) {
    if (tl::waitForWidget(f.mapPath, "Preview", r, kSlow)) {
      ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Preview"));
    }
    listed = tl::waitForWidget(f.mapPath, "show:LZIB", r, kSlow);
  }
  ASSERT_TRUE(listed) << f.output();
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Preview", r, 3 * kSlow));
  EXPECT_FALSE(tl::readUiMap(f.mapPath).count("show:KROC"));
  EXPECT_EQ(tl::readFile(f.globalApt), f.originalGlobal);
  EXPECT_EQ(tl::readFile(f.packApt), f.originalPack);
  EXPECT_FALSE(have(f.globalApt + ".taxilume-orig"));
  EXPECT_FALSE(have(f.xp + "Resources/plugins/Taxilume/orvel_manifest.json"));
  EXPECT_TRUE(snap(x, "preview-1-listed"));

  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "show:LZIB"));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "panel:LZIB", r, kSlow));
  EXPECT_TRUE(snap(x, "preview-2-panel"));
  // Two wheel steps up over the middle of the picture.
  const std::string display = "DISPLAY=" + x.display() + " ";
  const std::string wheel = display + "xdotool mousemove --window " + std::to_string(win) + " " +
                            std::to_string(r.cx()) + " " + std::to_string(r.cy()) + " click 4 click 4";
  EXPECT_EQ(std::system(wheel.c_str()), 0);
  EXPECT_TRUE(snap(x, "preview-3-zoomed"));

  const std::string escape = display + "xdotool key --window " + std::to_string(win) + " Escape";
  EXPECT_EQ(std::system(escape.c_str()), 0);
  EXPECT_TRUE(tl::eventually([&] { return tl::readUiMap(f.mapPath).count("panel:LZIB") == 0; }, kSlow));

  ASSERT_TRUE(tl::requestClose(x.display(), win));
  int status = -1;
  ASSERT_TRUE(launcher.wait(kSlow, status));
  EXPECT_EQ(status, 0) << f.output();
}
