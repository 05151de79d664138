// What one frame of the window shows, copied from g_app in one short section
// under its mutex at the start of the frame (the log included), so a job
// changing g_app while the frame is drawn never tears it and never waits
// for the drawing.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "packs/scan.h"

struct WindowSnapshot {
  bool busy = false;
  bool launcherUpdated = false;
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
  unsigned scanSerial = 0;
  std::set<size_t> keepListed;
  std::vector<std::string> log;
};

// Takes g_app.mtx; must not be called while holding it.
WindowSnapshot takeSnapshot();
