// Keeping g_app in step with the world: the server check, the pack rescan and
// the local refresh.
//
// Calling order: the start-up job runs actionStartup (= actionCheck, then
// actionRescan). doSuppress (app/actions.h) runs actionCheck and scanIntoApp
// itself. refreshLocal(false) runs from the frame loop every 2 s while idle;
// refreshLocal(true) at start-up, after a folder pick and at the end of every
// job (the job runner calls it).
//
// None of these returns an error: failures go to the log with "!! " in front,
// and g_app keeps its previous maps / release / launcher flag.
// The network calls and the scan run without g_app.mtx; results are stored
// under it. refreshLocal holds the mutex for its local reads.
#pragma once

#include "packs/scan.h"
#include "server/maps.h"

// Whether actionCheck also looks for a newer launcher build. Front ends that
// are not that build (the command-line tool) switch it off, so the check can
// never put the window launcher in their place.
extern bool g_checkSelfUpdate;

void actionStartup();
void actionCheck();
// The maps part of actionCheck alone (fetched unless unchanged, logged);
// true when g_app then holds published maps.
bool refreshMaps();
void actionRescan();

// Scans the packs against `maps`, stores the scan in g_app (emptying
// keepListed, showing all rows) and returns it.
lumo::PackScan scanIntoApp(const lumo::Geometry& maps);

// Re-reads the suppression state, whether X-Plane runs, the plugin file and
// its version; with `full` also the outdated backup copies.
void refreshLocal(bool full);
