// The operating-system layer beneath the launcher: path conventions, the
// home, temporary and configuration folders, the single-instance lock, the
// "is X-Plane running" test, quiet spawning of outside programs, and the
// saved restore-on-quit choice.
//
// Paths are plain strings with forward slashes. homeDir and configDir return
// folders without a trailing "/" (empty when unknown); tempDir always ends in
// "/". Roots handed around the launcher end in exactly one "/".
//
// Calling order: start-up calls acquireSingleLock once (it may wait about
// 12 s for a launcher that is closing), then loadQuitRestore; everything else
// may be called from any thread at any time.
//
// Failure: nothing here throws or logs. acquireSingleLock answers false when
// the lock could not be had, with an error text when that was not because
// another launcher holds it; simRunning answers false when /proc cannot be
// read; the run functions report only whether the child could be started
// (and ended by itself), and the caller judges its exit status. An unknown configuration folder means
// nothing is saved and the defaults apply.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lumo {

// s with every backslash replaced by a slash.
std::string slashes(const std::string& s);
// s with "/" appended when s is not empty and does not end in "/".
std::string withSlash(const std::string& s);

// $HOME when set and not empty, else the password database's home of the
// real user, else empty. No trailing "/".
std::string homeDir();
// $TMPDIR when set and not empty, else "/tmp"; always ends in "/".
std::string tempDir();
// $XDG_CONFIG_HOME/Taxilume, else $HOME/.config/Taxilume, else the password
// database's home + "/.config/Taxilume", else empty. Not created here.
std::string configDir();

// The single-instance lock file, one per user: $XDG_RUNTIME_DIR (a folder of
// this user's alone) + "/taxilume-launcher.lock" when that is set, else
// tempDir() + "taxilume-launcher-" + the user id + ".lock". One name for
// everyone in a shared /tmp would let one user's file keep the next out.
std::string lockPath();

// Takes the advisory lock on lockPath(), creating the file 0600: up to 24
// attempts 500 ms apart. True: this process holds it until it ends (the
// descriptor is kept open on purpose). False with `error` empty: another
// launcher of this user holds it. False with `error` set, at once: the file
// cannot be opened, or it belongs to someone else ("could not open the lock
// file ...: <reason>").
[[nodiscard]] bool acquireSingleLock(std::string& error);

// True when another process runs an executable whose path (slashes,
// ASCII-lower-cased) is longer than prefix and starts with it. Callers pass
// the X-Plane root, lower-cased the same way, so any program running from
// inside that folder counts. The calling process never counts.
[[nodiscard]] bool simRunning(const std::string& prefix);

// Runs argv (argv[0] looked up on the search path, no shell) with stdout and
// stderr on /dev/null, and waits for it. False when it could not be started
// (exitCode untouched); otherwise true with its exit status in exitCode, 1
// when a signal ended it.
[[nodiscard]] bool runQuiet(const std::vector<std::string>& argv, int& exitCode);

// runQuiet for a child that writes what it was given (an archive tool): no
// file it writes may grow past maxFileBytes (a write beyond fails as on a
// full disk), and `keepGoing`, when set, is asked every 5 ms while it runs;
// when it answers false the child is killed and its exit status is 1.
[[nodiscard]] bool runQuietCapped(const std::vector<std::string>& argv, unsigned long long maxFileBytes,
                                  const std::function<bool()>& keepGoing, int& exitCode);

// Runs the program at argv[0] (a path; no search) with stdin and stderr on
// /dev/null and collects at most maxOut bytes of its standard output. True
// when it started and ended by itself within timeoutMs, with its exit status
// (1 when a signal ended it) and output; false when it could not be started
// or was killed at the time limit.
[[nodiscard]] bool runOutput(const std::vector<std::string>& argv, int timeoutMs, std::size_t maxOut,
                             std::string& out, int& exitCode);

// Writes all of bytes to a fresh file at path with the given mode, flushed to
// disk. Whatever stood there is removed first and the file is created
// exclusively without following links, so a link planted in a shared folder
// (the temporary folder) is never written through. False on any failure; a
// partial file may then remain and is the caller's to remove.
[[nodiscard]] bool writeFresh(const std::string& path, const std::string& bytes, unsigned mode);

// The saved "Restore original scenery lights on X-Plane quit" choice:
// configDir() + "/restore-on-quit.txt". Only a first line of exactly "0" or
// "false" means unchecked; anything else, or no file, means checked.
bool loadQuitRestore();
// Writes "1" or "0" (no line end) in place, creating the configuration
// folder first. Errors are not reported; the next start falls back to the
// default.
void saveQuitRestore(bool restoreOnQuit);

}  // namespace lumo
