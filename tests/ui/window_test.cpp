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

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

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
  std::ifstream in(tl::sharedData("sample-global-apt.dat"), std::ios::binary);
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

struct Fixture {
  tl::TempDir tmp;
  std::string xp, packApt, globalApt, originalPack, originalGlobal, serverDir, mapPath, outPath;
  devserver::Server server;

  // false with a reason when the machine cannot run the window
  bool setUp(std::string& why) {
    if (kLauncher.empty() || !have(kLauncher)) return why = "launcher not built", false;
    if (!have(tl::sharedData("sample-global-apt.dat"))) return why = "no sample airport data", false;
    if (!onPath("xdotool") || !onPath("import")) return why = "xdotool or imagemagick missing", false;

    xp = tmp / "X-Plane 12/";
    globalApt = xp + "Global Scenery/Global Airports/Earth nav data/apt.dat";
    packApt = xp + "Custom Scenery/Gamma Studio - Rochester/Earth nav data/apt.dat";
    originalGlobal = slice({"KROC", "LZIB"});
    originalPack = slice({"KROC"});
    tl::writeFile(globalApt, originalGlobal);
    tl::writeFile(packApt, originalPack);
    tl::writeFile(xp + "Custom Scenery/scenery_packs.ini",
                  "I\r\n1000 Version\r\nSCENERY\r\n\r\nSCENERY_PACK Custom Scenery/Gamma Studio - Rochester/\r\n"
                  "SCENERY_PACK *GLOBAL_AIRPORTS*\r\n");
    tl::writeFile(xp + "Resources/version.txt", "12.1.0\n");
    tl::writeFile(xp + "Resources/plugins/Taxilume/lin_x64/Taxilume.xpl", std::string(2048, 'x'));
    tl::writeFile(xp + "Resources/plugins/Taxilume/version.txt", "1.0.0");
    for (const char* f : {"Roboto-Regular.ttf", "Roboto-Bold.ttf"}) {
      const std::string src = std::string("/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/") + f;
      if (have(src)) {
        fs::create_directories(xp + "Resources/fonts");
        fs::copy_file(src, xp + "Resources/fonts/" + f);
      }
    }

    // Maps for the global airports; two publishers with a map of KROC, neither
    // named like the pack, so the pack needs a pick.
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
  EXPECT_TRUE(snap(x, "3-picked"));

  // Update & Suppress rewrites the scenery and keeps the originals beside it.
  ASSERT_TRUE(clickWidget(x, win, f.mapPath, "Update & Suppress"));
  ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Restore originals", r, 3 * kSlow)) << f.output();
  EXPECT_TRUE(tl::readUiMap(f.mapPath).count("row:Scenery:modified"));
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

TEST(Window, SecondInstanceSaysSoAndLeavesTheFirstAlone) {
  Fixture f;
  std::string why;
  if (!f.setUp(why)) GTEST_SKIP() << why;
  tl::XServer x;
  NEED_X(x);

  tl::Child first;
  ASSERT_TRUE(first.start(f.args(), f.env(x.display()), f.outPath, why)) << why;
  const unsigned long win = tl::findWindow(x.display(), "Taxilume Launcher", kSlow);
  ASSERT_NE(win, 0u) << f.output();

  tl::Child second;
  const std::string out2 = f.tmp / "second.out";
  ASSERT_TRUE(second.start(f.args(), f.env(x.display()), out2, why)) << why;
  int status = -1;
  ASSERT_TRUE(second.wait(kSlow, status));  // it retries the lock for about 12 seconds first
  EXPECT_EQ(status, 0);
  EXPECT_EQ(tl::readFile(out2), "Taxilume Launcher is already running.\n");
  EXPECT_TRUE(first.running());

  ASSERT_TRUE(tl::requestClose(x.display(), win));
  ASSERT_TRUE(first.wait(kSlow, status));
  EXPECT_EQ(status, 0);
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
  fs::copy_file(kLauncher, f.serverDir + "/files/xplane-launcher-lin", fs::copy_options::overwrite_existing);
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
      ASSERT_TRUE(clickWidget(x, win2, f.mapPath, "Restore originals"));
      ASSERT_TRUE(tl::waitForWidget(f.mapPath, "Restore originals [off]", r, 3 * kSlow));
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

}  // namespace
