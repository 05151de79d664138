// taxilume-cli: the launcher without its window, for scripted sim starts,
// machines without a desktop, and end-to-end tests.
//
//   taxilume-cli [--host H[:P]] [--root DIR] COMMAND [ARGS]
//
// Start-up is the launcher's own (lock, discovery, first log line); each
// command then runs the same job the window's button starts, waits for it,
// and every log line goes to standard output as it is appended. The log's
// hints name this program's commands, not the window's buttons. Exit status:
// 0 success, 1 failure (also a --root that is not an X-Plane 12 folder),
// 2 usage error (usage text on standard error). Usage errors are found
// before anything starts: no lock, no request, no file.
// SIGINT and SIGTERM end the program at once unless a job is writing
// scenery, the manifest, the taken record or the plugin; then it ends as
// soon as that writing is complete (status 130 / 143).
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/actions.h"
#include "app/check.h"
#include "app/cmdline.h"
#include "app/packops.h"
#include "app/preview.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/winrules.h"
#include "host/selfupdate.h"
#include "packs/choices.h"
#include "scenery/state.h"

namespace {

const char* const kUsage =
    "usage: taxilume-cli [--root DIR] [--host HOST[:PORT]] COMMAND [ARGS]\n"
    "       taxilume-cli --help | --version\n"
    "\n"
    "options (also as --root=DIR, --host=HOST[:PORT]):\n"
    "  --root DIR           the X-Plane 12 folder; without it the launcher's own search\n"
    "  --host HOST[:PORT]   the Taxilume server (port 443 means HTTPS, any other plain HTTP)\n"
    "\n"
    "commands:\n"
    "  status               the launcher's status rows\n"
    "  check                ask the server and match the scenery packs\n"
    "  packs                list the scenery pack airports, with their ROW numbers\n"
    "  pick ROW PUBLISHER   use PUBLISHER's map for ROW's pack (\"\" for the base map)\n"
    "  dismiss ROW          leave ROW's pack out of suppression\n"
    "  undismiss ROW        take ROW's pack back into suppression\n"
    "  suppress             update the maps and suppress the scenery lights\n"
    "  preview [ICAO...]    what suppress would take out, writing nothing\n"
    "  picture ICAO FILE    draw ICAO as the pass sees it into an SVG file\n"
    "  restore              put the original scenery files back\n"
    "  install-plugin       install or update the Taxilume plugin\n"
    "  launch               prepare the scenery and start X-Plane\n"
    "  forget-outdated      delete Taxilume's copies of scenery files that were updated\n"
    "                       since (your current scenery is not touched)\n"
    "\n"
    "exit status: 0 success, 1 failure, 2 usage error\n";

int usage(const std::string& why) { return lumo::usageError("taxilume-cli", why, kUsage); }

int fail(const std::string& why) {
  std::fprintf(stderr, "taxilume-cli: %s\n", why.c_str());
  return 1;
}

struct Command {
  std::string name;
  std::vector<std::string> args;
};

// Commands that only look: they need no lock and write nothing.
constexpr size_t kAnyCount = static_cast<size_t>(-1);
const std::set<std::string> kLookOnly = {"preview", "picture"};

const std::map<std::string, size_t> kArgCount = {
    {"status", 0}, {"check", 0},   {"packs", 0},          {"pick", 2},  {"dismiss", 1}, {"undismiss", 1},
    {"suppress", 0}, {"restore", 0}, {"install-plugin", 0}, {"launch", 0}, {"forget-outdated", 0},
    {"preview", kAnyCount}, {"picture", 2},
};

// Runs fn as the job `name` and waits for it, refresh included.
void runJob(const char* name, std::function<void()> fn) {
  run(name, std::move(fn));
  waitForIdle();
}

const char* statusWord(const lumo::PackRow& row) {
  switch (row.status) {
    case lumo::kPackPicked: return "picked";
    case lumo::kPackMatched: return "matched";
    case lumo::kPackNeedsPick: return "needs a pick";
    case lumo::kPackNoAddonMap: return "no add-on map";
    default: return "no list";
  }
}

bool hasMap(const lumo::PackRow& row) {
  return row.status == lumo::kPackPicked || row.status == lumo::kPackMatched;
}

std::string joined(const std::vector<std::string>& v) {
  std::string out;
  for (const auto& s : v) out += (out.empty() ? "" : ", ") + s;
  return out;
}

void printStatus() {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  const auto row = [](const char* label, const std::string& text) {
    std::printf("%-10s%s\n", label, text.c_str());
  };
  row("X-Plane", g_app.root.empty() ? "not found" : g_app.root);

  const bool update =
      g_app.latestKnown && (g_app.pluginVersion.empty() || lumo::verNewer(g_app.latest.version, g_app.pluginVersion));
  std::string plugin;
  if (!g_app.pluginInstalled)
    plugin = "Taxilume is not installed";
  else
    plugin = g_app.pluginVersion.empty() ? "Taxilume installed (version unknown)" : "Taxilume " + g_app.pluginVersion;
  if (update) plugin += " -> " + g_app.latest.version + " available";
  row("Plugin", plugin);

  row("Server", g_app.mapsLoaded ? "connected" : "not connected");

  std::string scenery = "Original - lights not suppressed";
  if (g_app.suppressed) {
    scenery = "Taxilume modified - lights suppressed (" + std::to_string(g_app.suppressedAirports) +
              " airports in " + std::to_string(g_app.suppressedFiles) + " file(s))";
    if (lumo::passFromOlderMap(true, g_app.mapsLoaded, g_app.maps.rev, g_app.passSignature))
      scenery += " from an older map";
  }
  row("Scenery", scenery);
  row("Sim", g_app.xplaneRunning ? "X-Plane is running - scenery is locked" : "X-Plane is not running");
  if (!g_app.staleCopies.empty())
    row("Outdated", std::to_string(g_app.staleCopies.size()) +
                        " file(s) updated since they were suppressed - taxilume-cli forget-outdated "
                        "deletes Taxilume's old copies");
  row("Bridge", "xPilot: not detected");
  std::fflush(stdout);
}

void printPacks() {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  if (g_app.scan.rows.empty()) {
    std::printf("no add-on scenery pack defines a published airport\n");
    return;
  }
  std::printf("ROW\tAIRPORT\tSTATUS\tPUBLISHER\tPACK\tOFFERED\n");
  for (size_t i = 0; i < g_app.scan.rows.size(); ++i) {
    const lumo::PackRow& r = g_app.scan.rows[i];
    std::string status = statusWord(r);
    if (r.dismissed) status += ", not suppressed";
    const std::string publisher = hasMap(r) ? (r.publisher.empty() ? "base map" : r.publisher) : "-";
    std::printf("%zu\t%s\t%s\t%s\t%s\t%s\n", i + 1, r.icao.c_str(), status.c_str(), publisher.c_str(),
                r.pack.c_str(), joined(r.publishers).c_str());
  }
  std::fflush(stdout);
}

// Parses a 1-based row number; 0 when it is not one.
size_t rowNumber(const std::string& s) {
  if (s.empty() || s.size() > 9) return 0;
  for (char c : s)
    if (c < '0' || c > '9') return 0;
  return static_cast<size_t>(std::strtoul(s.c_str(), nullptr, 10));
}

bool scanReady(std::string& why) {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  if (g_app.root.empty())
    why = "X-Plane 12 was not found - give its folder with --root";
  else if (!g_app.mapsLoaded)
    why = "no published maps - the scenery packs were not matched";
  return why.empty();
}

// pick / dismiss / undismiss: the pack list's operations on a fresh scan.
int packChoice(const Command& cmd) {
  const size_t row = rowNumber(cmd.args[0]);
  runJob("checking", actionStartup);
  std::string why;
  if (!scanReady(why)) return fail(why);

  std::string key, pluginDir;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    const size_t rows = g_app.scan.rows.size();
    if (row == 0 || row > rows)
      return usage("no row " + cmd.args[0] + " - `packs` lists " + std::to_string(rows) + " row(s)");
    const lumo::PackRow& r = g_app.scan.rows[row - 1];
    if (cmd.name == "pick" && !cmd.args[1].empty()) {
      bool offered = false;
      for (const auto& p : r.publishers) offered = offered || p == cmd.args[1];
      if (!offered)
        return usage("row " + cmd.args[0] + " (" + r.icao + ") offers no map from \"" + cmd.args[1] +
                     "\"; offered: " + (r.publishers.empty() ? "none" : joined(r.publishers)) +
                     "; \"\" picks the base map");
    }
    key = r.packKey;
    pluginDir = g_app.pluginDir;
  }

  // The operations log their own outcome; the files say whether it stuck.
  if (cmd.name == "pick") {
    pickPack(row - 1, cmd.args[1]);
    const auto picks = lumo::loadPublishers(pluginDir);
    const auto it = picks.find(key);
    return it != picks.end() && it->second == cmd.args[1] ? 0 : 1;
  }
  const bool dismiss = cmd.name == "dismiss";
  setPackDismissed(row - 1, dismiss);
  return lumo::loadDismissedPacks(pluginDir).count(key) == (dismiss ? 1u : 0u) ? 0 : 1;
}

// The window's "Delete the old copies": the copies go, the scenery stays.
int forgetOutdated() {
  std::string root, pluginDir;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    if (g_app.root.empty()) return fail("X-Plane 12 was not found - give its folder with --root");
    root = g_app.root;
    pluginDir = g_app.pluginDir;
  }
  runJob("clearing old copies", jobDeleteOldCopies);
  // Success is what the disk says afterwards, not what the job meant to do.
  const std::vector<std::string> left = lumo::staleBackups(root, pluginDir);
  for (const std::string& path : left) std::printf("!! could not delete %s.taxilume-orig\n", path.c_str());
  return left.empty() ? 0 : 1;
}

// SIGINT / SIGTERM: the handler only passes the signal on through a pipe;
// a watcher thread waits for any writing to finish and ends the process.
int g_signalPipe[2] = {-1, -1};

void onStopSignal(int sig) {
  const unsigned char b = static_cast<unsigned char>(sig);
  const int saved = errno;
  (void)!::write(g_signalPipe[1], &b, 1);
  errno = saved;
}

void watchStopSignals() {
  if (::pipe2(g_signalPipe, O_CLOEXEC) != 0) return;  // then the default handling stays
  std::thread([] {
    unsigned char sig = 0;
    while (::read(g_signalPipe[0], &sig, 1) < 0 && errno == EINTR) {
    }
    if (writingNow()) g_app.say("Stopping as soon as the files being written are complete...");
    holdWrites();
    std::fflush(stdout);
    std::_Exit(128 + sig);
  }).detach();
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int execute(const Command& cmd) {
  const std::string& c = cmd.name;
  if (c == "status") {
    runJob("checking", actionCheck);
    printStatus();
    return 0;
  }
  if (c == "check" || c == "packs") {
    runJob("checking", actionStartup);
    std::string why;
    if (!scanReady(why)) return fail(why);
    if (c == "packs") printPacks();
    return 0;
  }
  if (c == "pick" || c == "dismiss" || c == "undismiss") return packChoice(cmd);
  if (c == "forget-outdated") return forgetOutdated();

  bool ok = false;
  if (c == "suppress") {
    runJob("suppressing", [&ok] { ok = doSuppress(); });
    return ok ? 0 : 1;
  }
  if (c == "preview") {
    runJob("previewing", [&ok, &cmd] { ok = doPreview(cmd.args); });
    return ok ? 0 : 1;
  }
  if (c == "picture") {
    runJob("drawing", [&ok, &cmd] { ok = doPicture(cmd.args[0], cmd.args[1]); });
    return ok ? 0 : 1;
  }
  if (c == "restore") {
    runJob("restoring", [&ok] { ok = doRestore(); });
    return ok ? 0 : 1;
  }
  if (c == "install-plugin") {
    runJob("checking", actionCheck);
    bool installed = false;
    {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      if (g_app.root.empty()) return fail("X-Plane 12 was not found - give its folder with --root");
      if (!g_app.latestKnown) return fail("the server did not say which plugin release is current");
      installed = g_app.pluginInstalled;
    }
    runJob(installed ? "updating the plugin" : "installing the plugin", [&ok] { ok = installLatestPlugin(); });
    return ok ? 0 : 1;
  }
  // launch: the window offers it only with a folder, the plugin, and no sim.
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    if (g_app.root.empty()) return fail("X-Plane 12 was not found - give its folder with --root");
    if (!g_app.pluginInstalled) return fail("the Taxilume plugin is not installed - run install-plugin first");
    if (g_app.xplaneRunning) {
      g_app.sayLocked("!! X-Plane is running. Close it first.");
      return 1;
    }
  }
  runJob("preparing and launching", [&ok] { ok = doLaunch(); });
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const lumo::CommandLine options = lumo::readCommandLine(argc, argv);
  const int answered = lumo::frontEndAnswer(options, "taxilume-cli", kUsage);
  if (answered != lumo::kCarryOn) return answered;
  if (options.words.empty()) return usage("");
  Command cmd{options.words[0], {options.words.begin() + 1, options.words.end()}};
  const auto known = kArgCount.find(cmd.name);
  if (known == kArgCount.end()) return usage("unknown command " + cmd.name);
  if (known->second != kAnyCount && cmd.args.size() != known->second)
    return usage(cmd.name + " takes " + std::to_string(known->second) + " argument(s)");
  // A row is a number whatever the scan finds; a malformed one is turned
  // away before the server is asked anything.
  if ((cmd.name == "pick" || cmd.name == "dismiss" || cmd.name == "undismiss") && rowNumber(cmd.args[0]) == 0)
    return usage("ROW must be a row number from `taxilume-cli packs` (1, 2, ...), not \"" + cmd.args[0] + "\"");

  // Every line, as it is appended and in order, past the log's cap too.
  setLogEcho([](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  });
  // This program is not the launcher build the server publishes.
  g_checkSelfUpdate = false;
#ifdef TL_TEST_LAUNCH_POLL_MS
  // Test builds only: the launch wait's time-out path in seconds, not minutes.
  g_launchWait.pollMs = TL_TEST_LAUNCH_POLL_MS;
#endif

  // The log's hints name this program's commands, not the window's buttons.
  g_words.pointAtRoot = "Use --root DIR to point at it.";
  g_words.packList = "taxilume-cli packs lists them";
  g_words.suppress = "Run taxilume-cli suppress";
  g_words.restore = "Run taxilume-cli restore";

  watchStopSignals();
  bool rootRefused = false;
  const int rc = startupCore(options, &rootRefused, nullptr, kLookOnly.count(cmd.name) > 0);
  if (rc != kStartupGoOn) return 1;  // another launcher holds the lock
  if (rootRefused) {
    std::fflush(stdout);
    std::_Exit(1);
  }

  const int status = execute(cmd);
  std::fflush(stdout);
  // A job thread may still be unwinding; leave without running destructors
  // under it.
  std::_Exit(status);
}
