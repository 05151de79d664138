// What one frame of the window shows, copied from g_app in one short section
// under its mutex at the start of the frame, so a job changing g_app while
// the frame is drawn never tears it.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "packs/scan.h"

struct WindowSnapshot {
  bool busy = false;
  std::string root;
  std::string jobName;
  bool mapsLoaded = false;
  bool xplaneRunning = false;
  bool pluginInstalled = false;
  bool suppressed = false;
  int suppressedAirports = 0;
  int suppressedFiles = 0;
  std::string passSignature;
  std::vector<std::string> staleCopies;
  std::string mapsRev;
  std::string pluginVersion;
  bool latestKnown = false;
  std::string latestVersion;
  bool suppressOnLaunch = true;
  bool restoreOnQuit = true;
  std::string scanNote;
  bool showAllPacks = false;
  bool scanning = false;
  std::vector<lumo::PackRow> rows;
  std::set<size_t> keepListed;
};

// Takes g_app.mtx; must not be called while holding it.
WindowSnapshot takeSnapshot();
