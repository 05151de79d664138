// taxilume-cli: the launcher without its window, for scripted sim starts,
// machines without a desktop, and end-to-end tests.
//
//   taxilume-cli [--host H[:P]] [--root DIR] COMMAND [ARGS]
//
// Start-up is the launcher's own (lock, discovery, first log line); each
// command then runs the same job the window's button starts, waits for it,
// and every log line goes to standard output as it is appended. Exit status:
// 0 success, 1 failure, 2 usage error (usage text on standard error).
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/actions.h"
#include "app/check.h"
#include "packs/choices.h"
#include "app/startup.h"
#include "app/state.h"
#include "host/selfupdate.h"
#include "app/packops.h"
#include "app/winrules.h"

namespace {

const char* const kUsage =
    "usage: taxilume-cli [--host H[:P]] [--root DIR] COMMAND\n"
    "\n"
    "commands:\n"
    "  status               the launcher's status rows\n"
    "  check                ask the server and match the scenery packs\n"
    "  packs                list the scenery pack airports, with their ROW numbers\n"
    "  pick ROW PUBLISHER   use PUBLISHER's map for ROW's pack (\"\" for the base map)\n"
    "  dismiss ROW          leave ROW's pack out of suppression\n"
    "  undismiss ROW        take ROW's pack back into suppression\n"
    "  suppress             update the maps and suppress the scenery lights\n"
    "  restore              put the original scenery files back\n"
    "  install-plugin       install or update the Taxilume plugin\n"
    "  launch               prepare the scenery and start X-Plane\n"
    "\n"
    "exit status: 0 success, 1 failure, 2 usage error\n";

int usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "taxilume-cli: %s\n", why.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

int fail(const std::string& why) {
  std::fprintf(stderr, "taxilume-cli: %s\n", why.c_str());
  return 1;
}

struct Command {
  std::string name;
  std::vector<std::string> args;
};

const std::map<std::string, size_t> kArgCount = {
    {"status", 0}, {"check", 0},   {"packs", 0},          {"pick", 2},  {"dismiss", 1}, {"undismiss", 1},
    {"suppress", 0}, {"restore", 0}, {"install-plugin", 0}, {"launch", 0},
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
  runJob("checking", actionStartup);
  std::string why;
  if (!scanReady(why)) return fail(why);

  const size_t row = rowNumber(cmd.args[0]);
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

  bool ok = false;
  if (c == "suppress") {
    runJob("suppressing", [&ok] { ok = doSuppress(); });
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
  std::vector<std::string> options;  // handed to the launcher's own start-up
  options.push_back(argc > 0 ? argv[0] : "taxilume-cli");
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a != "--host" && a != "--root") break;
    if (i + 1 >= argc) return usage(a + " needs a value");
    options.push_back(a);
    options.push_back(argv[++i]);
  }
  if (i >= argc) return usage("");
  Command cmd{argv[i], {}};
  for (++i; i < argc; ++i) cmd.args.push_back(argv[i]);
  const auto known = kArgCount.find(cmd.name);
  if (known == kArgCount.end()) return usage(cmd.name[0] == '-' ? "unknown option " + cmd.name
                                                                  : "unknown command " + cmd.name);
  if (cmd.args.size() != known->second)
    return usage(cmd.name + " takes " + std::to_string(known->second) + " argument(s)");

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

  std::vector<char*> startArgs;
  for (auto& s : options) startArgs.push_back(s.data());
  startArgs.push_back(nullptr);
  const int rc = startupCore(static_cast<int>(options.size()), startArgs.data());
  if (rc != kStartupGoOn) return 1;  // another launcher holds the lock

  const int status = execute(cmd);
  std::fflush(stdout);
  // A job thread may still be unwinding; leave without running destructors
  // under it.
  std::_Exit(status);
}
