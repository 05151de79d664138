// The looking commands through the taxilume-cli binary: `preview` against a
// real `suppress` on the same folder, and `picture` of a real airport.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "support/tmpdir.h"

namespace fs = std::filesystem;

namespace {

// The three numbers of "<prefix>N airport(s) across F file(s), E exclusion(s)."
std::string figures(const tl::CliRun& r, const std::string& prefix) {
  const int at = r.findPrefix(prefix);
  return at < 0 ? "" : r.lines[at].substr(prefix.size());
}

// Runs per airport from the preview's per-airport lines.
std::map<std::string, int> previewRuns(const tl::CliRun& r) {
  std::map<std::string, int> out;
  const std::regex line(R"(   (\S+)  \d+ exclusion\(s\), (\d+) light run\(s\) to record.*)");
  std::smatch m;
  for (const auto& l : r.lines)
    if (std::regex_match(l, m, line)) out[m[1]] += std::stoi(m[2]);
  return out;
}

// A program running from the X-Plane folder, which is how the launcher tells
// that X-Plane runs; killed when the guard goes.
struct RunningProgram {
  pid_t pid = 0;
  explicit RunningProgram(const std::string& root) {
    const std::string exe = root + "bin/xp-helper";
    fs::create_directories(root + "bin");
    fs::copy_file("/bin/sleep", exe);
    std::string a0 = exe, a1 = "120";
    char* argv[] = {a0.data(), a1.data(), nullptr};
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, nullptr) != 0) pid = 0;
    for (int i = 0; pid && i < 2000; ++i) {
      std::error_code ec;
      if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string() == exe) break;
      usleep(1000);
    }
  }
  ~RunningProgram() {
    if (pid) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

}  // namespace

// The preview changes nothing anywhere, and a suppress then reports the same
// figures and records the same runs, airport by airport.
TEST(CliPreview, AgreesWithSuppressAndChangesNothing) {
  tl::CliWorld w;
  ASSERT_EQ(w.error(), "");
  const std::string all = w.path("");
  const auto before = tl::listing(all);
  const tl::CliRun p = w.cli({"preview"});
  ASSERT_EQ(p.status, 0) << p.out();
  EXPECT_EQ(tl::listing(all), before);
  EXPECT_TRUE(p.has("Preview only: no file was written.")) << p.out();
  EXPECT_TRUE(p.has("   KROC not suppressed - Rochester Pro: needs a publisher picked")) << p.out();

  const tl::CliRun s = w.cli({"suppress"});
  ASSERT_EQ(s.status, 0) << s.out();
  EXPECT_EQ(figures(p, "Would suppress "), figures(s, "Suppressed ")) << p.out() << s.out();
  EXPECT_NE(figures(p, "Would suppress "), "");
  const auto taken = nlohmann::json::parse(tl::readFile(w.pluginDir() + "/tlm_taken.json"));
  std::map<std::string, int> recorded;
  for (const auto& a : taken["airports"].items()) recorded[a.key()] = static_cast<int>(a.value().size());
  EXPECT_EQ(previewRuns(p), recorded) << p.out();

  // With the pass in force the preview still tells what a new suppress does.
  const tl::CliRun again = w.cli({"preview"});
  EXPECT_EQ(figures(again, "Would suppress "), figures(s, "Suppressed ")) << again.out();
  EXPECT_EQ(previewRuns(again), recorded);
}

// While X-Plane runs the preview goes ahead and says so, beside a launcher
// holding the lock, and tries to change nothing at all: under a shim that
// reports every attempt to write, create, rename or remove, it reports none.
TEST(CliPreview, RunsWhileXPlaneRunsAndTriesNoWrite) {
  tl::CliWorld w;
  ASSERT_EQ(w.error(), "");
  RunningProgram xplane(w.root());
  ASSERT_NE(xplane.pid, 0);
  ASSERT_TRUE(fs::exists(TL_WRITELOG));

  // The shim works: a suppress is seen trying.
  tl::CliRun s, p;
  {
    const tl::Preload shim(TL_WRITELOG);
    s = w.cli({"suppress"});
    p = w.cli({"preview", "LZIB"});
  }
  EXPECT_NE(s.err.find("tl-write: "), std::string::npos) << s.err;

  ASSERT_EQ(p.status, 0) << p.out();
  EXPECT_EQ(p.err.find("tl-write: "), std::string::npos) << p.err;
  EXPECT_TRUE(p.has("   X-Plane is running - this only reads the scenery, so it goes ahead.")) << p.out();
  // Only LZIB's lines are listed; the figures stay the whole pass's.
  EXPECT_EQ(p.findPrefix("   KROC"), -1) << p.out();
  EXPECT_NE(p.findPrefix("   LZIB  "), -1) << p.out();
  EXPECT_NE(p.findPrefix("Would suppress 1 airport(s) across 1 file(s), "), -1) << p.out();
}

// The picture of a real airport: well-formed SVG with as many red runs as
// the preview lists for it; an airport no file would claim draws nothing.
TEST(CliPicture, DrawsTheAirportThePreviewLists) {
  tl::CliWorld w;
  ASSERT_EQ(w.error(), "");
  const tl::CliRun p = w.cli({"preview", "LZIB"});
  ASSERT_EQ(p.status, 0) << p.out();
  const int runs = previewRuns(p)["LZIB"];
  ASSERT_GT(runs, 0) << p.out();

  const std::string svg = w.path("lzib.svg");
  const tl::CliRun r = w.cli({"picture", "LZIB", svg});
  ASSERT_EQ(r.status, 0) << r.out();
  EXPECT_NE(r.findPrefix("Picture of LZIB (base map, " + w.globalApt() + "): " + std::to_string(runs) +
                         " run(s) taken in red, "),
            -1)
      << r.out();
  const std::string cmd =
      "python3 -c \"import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); "
      "print(sum(1 for e in r.iter('{http://www.w3.org/2000/svg}polyline') if e.get('class') == 'taken'))\" '" +
      svg + "'";
  FILE* f = popen(cmd.c_str(), "r");
  ASSERT_NE(f, nullptr);
  int red = -1;
  const int got = std::fscanf(f, "%d", &red);
  EXPECT_EQ(pclose(f), 0) << "not well-formed XML";
  ASSERT_EQ(got, 1);
  EXPECT_EQ(red, runs);
  // And a common viewer's renderer draws it.
  const std::string render = "rsvg-convert -o '" + w.path("lzib.png") + "' '" + svg + "' 2>&1";
  EXPECT_EQ(std::system(render.c_str()), 0);
  EXPECT_GT(fs::exists(w.path("lzib.png")) ? fs::file_size(w.path("lzib.png")) : 0u, 1000u);

  const tl::CliRun none = w.cli({"picture", "KROC", w.path("kroc.svg")});
  EXPECT_EQ(none.status, 1) << none.out();
  EXPECT_TRUE(none.has("   KROC not suppressed - Rochester Pro: needs a publisher picked")) << none.out();
  EXPECT_NE(none.findPrefix("!! KROC is not claimed by any file a pass would rewrite"), -1) << none.out();
  EXPECT_FALSE(fs::exists(w.path("kroc.svg")));
}

// Without the server there is nothing to compare against: the preview says
// why and fails, the picture writes no file.
TEST(CliPreview, WithTheServerDownSaysWhy) {
  tl::CliWorld w;
  ASSERT_EQ(w.error(), "");
  w.server().stop();
  const auto before = tl::listing(w.path(""));
  const tl::CliRun p = w.cli({"preview"});
  EXPECT_EQ(p.status, 1) << p.out();
  EXPECT_GE(p.find("!! no answer from 127.0.0.1"), 0) << p.out();
  EXPECT_EQ(p.lines.back(), "!! Nothing to compare without the published maps - nothing was read or written.");
  const tl::CliRun r = w.cli({"picture", "LZIB", w.path("lzib.svg")});
  EXPECT_EQ(r.status, 1) << r.out();
  EXPECT_EQ(tl::listing(w.path("")), before);
}
