// The part of start-up that needs no window, shared by the launcher and the
// command-line tool.
//
// startupCore(options) runs, in order: taking the --host and --root of the
// command line (read by app/cmdline.h), the single-instance lock, the sweep
// of ".old" left-overs of a self-update (and the sweeper thread when one is
// still there), the restore-on-quit choice, discovery and remembering of the
// X-Plane folder, refreshLocal(true), and the first log line. The window
// then opens and starts run("checking", actionStartup).
//
// A --root folder that does not look like X-Plane 12 is refused: it is not
// used, not remembered and nothing is made in it; the log says why (a "!! "
// line), the probe list names it, and start-up goes on as when no X-Plane
// was found. *rootRefused (when given) tells the caller.
//
// Returns kStartupGoOn when the caller should go on; otherwise the exit status
// to end with (0: another launcher holds the lock, after the message
// "Taxilume Launcher is already running.\n" on standard error; 1: the lock
// file could not be opened, after "Taxilume Launcher cannot start: " and
// the reason).
//
// raiseRunning, when given, is tried right after the command-line scan: a
// front end that can bring an already running launcher to the front returns
// true when it did, and startup ends at once with 0 instead of waiting for
// the lock.
//
// readOnly is for commands that only look (the preview, the picture): they
// run beside a launcher that holds the lock, and neither sweep, lock nor
// remember anything, so they write no file at all.
#pragma once

#include "app/cmdline.h"

constexpr int kStartupGoOn = -1;

[[nodiscard]] int startupCore(const lumo::CommandLine& options, bool* rootRefused = nullptr,
                bool (*raiseRunning)() = nullptr, bool readOnly = false);
