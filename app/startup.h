// The part of start-up that needs no window, shared by the launcher and the
// command-line tool.
//
// startupCore(argc, argv) runs, in order: the command-line scan, the
// single-instance lock, the sweep of ".old" left-overs of a self-update (and
// the sweeper thread when one is still there), the restore-on-quit choice,
// discovery and remembering of the X-Plane folder, refreshLocal(true), and the
// first log line. The window then opens and starts run("checking",
// actionStartup).
//
// Returns kStartupGoOn when the caller should go on; otherwise the exit status
// to end with (0: another launcher holds the lock, after the message
// "Taxilume Launcher is already running.\n" on standard error).
#pragma once

constexpr int kStartupGoOn = -1;

[[nodiscard]] int startupCore(int argc, char** argv);
