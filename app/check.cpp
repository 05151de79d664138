#include "app/check.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "common/text.h"
#include "app/state.h"
#include "host/paths.h"
#include "host/selfupdate.h"
#include "host/xplane.h"
#include "net/text.h"
#include "packs/scan.h"
#include "plugin/install.h"
#include "scenery/state.h"
#include "server/api.h"

namespace fs = std::filesystem;

namespace {

std::string mapsLine(const lumo::Geometry& maps) {
  return "Database: " + std::to_string(maps.airports.size()) + " airport(s), " + std::to_string(maps.barCount) +
         " bar(s), " + std::to_string(maps.variantCount) + " add-on map(s)  [rev " + net::printable(maps.rev, 64) + "]";
}

}  // namespace

bool g_checkSelfUpdate = true;

void actionStartup() {
  actionCheck();
  actionRescan();
}

bool refreshMaps() {
  std::string host, knownRev;
  int port = lumo::kDefaultPort;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    host = g_app.host;
    port = g_app.port;
    if (g_app.mapsLoaded) knownRev = g_app.maps.rev;
  }

  lumo::Geometry fresh;
  std::string error;
  bool notModified = false;
  const bool gotMaps = lumo::fetchGeometry(host, port, fresh, error, knownRev, notModified);
  std::lock_guard<std::mutex> lock(g_app.mtx);
  if (gotMaps) {
    if (!notModified) g_app.maps = std::move(fresh);
    g_app.mapsLoaded = true;
    g_app.sayLocked(mapsLine(g_app.maps));
  } else {
    g_app.mapsLoaded = false;
    g_app.sayLocked("!! " + error);
  }
  return gotMaps;
}

void actionCheck() {
  refreshMaps();
  std::string host;
  int port = 443;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    host = g_app.host;
    port = g_app.port;
  }

  lumo::Release release;
  std::string relError;
  if (lumo::fetchLatest(host, port, release, relError, "xplane")) {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.latest = release;
    g_app.latestKnown = true;
  }
  wakeFrontEnd();

  if (!g_checkSelfUpdate) return;
  bool updated = false;
  std::string upError;
  const bool upOk = lumo::selfUpdate(host, port, LOG, updated, upError);
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    if (upOk)
      g_app.launcherUpdated = updated;
    else
      g_app.sayLocked("!! launcher update: " + upError);
  }
}

void actionRescan() {
  std::string root;
  bool loaded = false;
  lumo::Geometry maps;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    root = g_app.root;
    loaded = g_app.mapsLoaded;
    if (loaded) maps = g_app.maps;
  }
  if (root.empty()) return;
  if (loaded)
    scanIntoApp(maps);
  else
    g_app.say("!! no published maps - scenery packs not matched. " + g_words.suppress + " to try again.");
}

lumo::PackScan scanIntoApp(const lumo::Geometry& maps) {
  std::string root, pluginDir, host;
  int port = lumo::kDefaultPort;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    root = g_app.root;
    pluginDir = g_app.pluginDir;
    host = g_app.host;
    port = g_app.port;
    g_app.scanning = true;
  }
  wakeFrontEnd();
  g_app.say("Matching your scenery packs...");
  lumo::PackScan scan = lumo::scanPacks(root, pluginDir, maps, host, port, LOG);
  if (!scan.rows.empty()) {
    size_t matched = 0;
    for (const auto& row : scan.rows)
      if (!row.dismissed && (row.status == lumo::kPackPicked || row.status == lumo::kPackMatched ||
                             row.status == lumo::kPackNoAddonMap))
        ++matched;
    g_app.say("   " + std::to_string(matched) + " of " + std::to_string(scan.rows.size()) +
              " pack airport(s) matched to a map.");
  }
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.keepListed.clear();
    g_app.showAllPacks = true;
    g_app.scan = scan;
    ++g_app.scanSerial;
    g_app.scanning = false;
  }
  wakeFrontEnd();
  return scan;
}

void refreshLocal(bool full) {
  // The reads (marks, /proc, the plugin folder) run on copies without the
  // mutex, so the window and a job appending to the log never wait on them;
  // only the results are stored under it.
  std::string root, pluginDir;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    root = g_app.root;
    pluginDir = g_app.pluginDir;
  }
  std::vector<std::string> stale;
  if (full && !root.empty() && !pluginDir.empty()) stale = lumo::staleBackups(root, pluginDir);
  // The files decide, not the manifest alone.
  // An empty plugin folder would name files at the file-system root.
  const lumo::SuppressionSummary s =
      pluginDir.empty() ? lumo::SuppressionSummary{} : lumo::suppressionState(pluginDir, root);
  const bool running = lumo::simRunning(lumo::lowerAscii(root));
  std::error_code ec;
  const bool installed = !pluginDir.empty() && fs::exists(lumo::xplPath(pluginDir), ec);
  std::string version = pluginDir.empty() ? std::string() : lumo::installedVersion(pluginDir);
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    // A folder picked meanwhile makes these readings stale; its own refresh follows.
    if (g_app.root != root || g_app.pluginDir != pluginDir) return;
    // The window is only woken for a refresh that found something new.
    changed = g_app.suppressed != s.inForce || g_app.suppressedAirports != s.airports ||
              g_app.suppressedFiles != s.files || g_app.passSignature != s.signature ||
              g_app.xplaneRunning != running || g_app.pluginInstalled != installed ||
              g_app.pluginVersion != version || (full && g_app.staleCopies != stale);
    if (full) g_app.staleCopies = std::move(stale);
    g_app.suppressed = s.inForce;
    g_app.suppressedAirports = s.airports;
    g_app.suppressedFiles = s.files;
    g_app.passSignature = s.signature;
    g_app.xplaneRunning = running;
    g_app.pluginInstalled = installed;
    g_app.pluginVersion = std::move(version);
  }
  if (changed) wakeFrontEnd();
}
