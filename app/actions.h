// The three main actions: suppress, restore, launch.
//
// Each runs as a background job (app/state.h `run`): "suppressing",
// "restoring", "preparing and launching". They report only through the log;
// the result is for front ends that need an exit status (the window ignores
// it, so these are not [[nodiscard]]: every failure is already in the log). Each refuses to touch scenery while X-Plane runs from g_app.root.
//
// installLatestPlugin is the plugin job's body ("installing the plugin" /
// "updating the plugin"): it installs g_app.latest and logs a failure.
#pragma once

#include "pass/pass.h"

// Brings the maps up to date, undoes the previous pass and runs a new one.
// True when a pass ran and succeeded.
bool doSuppress();

// Puts the original scenery files back. True when nothing failed (also when
// nothing was suppressed); false when X-Plane runs or a file stayed changed.
bool doRestore();

// Prepares the scenery as the "Suppress scenery lights" option says, starts
// X-Plane detached in its own session, waits for it, then sets quitRequested.
// True when X-Plane came up.
bool doLaunch();

// Installs the newest known plugin release; logs "!! " + error on failure.
bool installLatestPlugin();

// How long doLaunch waits for X-Plane: `polls` checks `pollMs` apart, and
// Log.txt is looked at from check `logFrom` on. Only test builds change it.
struct LaunchWait {
  int pollMs = 2000;
  int polls = 90;
  int logFrom = 20;
};
extern LaunchWait g_launchWait;

// "clearing old copies" (the window's "Delete the old copies", the command
// line's forget-outdated): drops the backup copies and cut marks of files a
// scenery update replaced, and their manifest rows; the scenery itself is
// not touched. Each failure is a "!! " line; the last line says how many went.
void jobDeleteOldCopies();

// The summary lines of a pass as a suppress logs them ("Suppressed N
// airport(s) across ..." and its detail lines); a preview's say "would".
void sayPassSummary(const lumo::PassResult& r, bool previewOnly);
