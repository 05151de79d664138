// What the window's own buttons start, apart from the three main actions:
// the job bodies for "Browse..." (choosing the X-Plane folder) and "Install"/
// "Update" (the plugin), and the "Restart now" spawn. "Delete the old
// copies" is shared with the command line (app/actions.h).
//
// The job bodies run on the job thread through run(); they read and write
// g_app under its mutex in short sections, report only through the log
// ("!! " lines) and never throw. restartNow() runs on the main thread and
// reports nothing (a failed spawn leaves the launcher open).
#pragma once

// "choosing the X-Plane folder": picker, check, adopt, remember, rescan.
void jobPickFolder();

// "installing the plugin" / "updating the plugin": the latest release.
void jobPlugin();

// Spawns the launcher's own executable with its host arguments; sets
// g_app.quitRequested when that worked. Returns whether it did.
bool restartNow();
