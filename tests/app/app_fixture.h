// Shared set-up for the app tests: g_app is one process-wide record, so every
// test starts from a clean copy of it and waits for any job it started.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/check.h"
#include "app/state.h"

namespace tl {

inline void resetApp() {
  waitForIdle();
  setLogEcho(nullptr);
  std::lock_guard<std::mutex> lock(g_app.mtx);
  g_app.root.clear();
  g_app.pluginDir.clear();
  g_app.host = lumo::kDefaultHost;
  g_app.port = 443;
  g_app.launcherUpdated = false;
  g_app.log.clear();
  g_app.jobName.clear();
  g_app.maps = lumo::Geometry{};
  g_app.mapsLoaded = false;
  g_app.suppressed = false;
  g_app.suppressedAirports = 0;
  g_app.suppressedFiles = 0;
  g_app.passSignature.clear();
  g_app.scan = lumo::PackScan{};
  g_app.keepListed.clear();
  g_app.scanning = false;
  g_app.showAllPacks = false;
  g_app.staleCopies.clear();
  g_app.latest = lumo::Release{};
  g_app.latestKnown = false;
  g_app.pluginVersion.clear();
  g_app.xplaneRunning = false;
  g_app.pluginInstalled = false;
  g_app.suppressOnLaunch = true;
  g_app.restoreOnQuit = true;
  g_app.quitRequested = false;
  g_checkSelfUpdate = true;
}

inline std::vector<std::string> logLines() {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  return g_app.log;
}

}  // namespace tl
