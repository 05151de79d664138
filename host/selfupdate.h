// The launcher keeps itself current: selfUpdate asks the server for the
// newest Linux build and, when it is newer than kLauncherVersion, downloads
// it and puts it in place of the running executable, which keeps running
// from self + ".old" until the user restarts. The next launcher sweeps the
// ".old" files away.
//
// Calling order: start-up calls sweepOldSelf (after taking the lock); the
// start-up check calls selfUpdate on the job thread; "Restart now" starts
// selfPath(). verNewer is the one version rule of the launcher.
//
// The swap (replaceSelf): write self + ".new", make it executable, run it
// with "--version" (it must print exactly the published version and exit 0
// within kSelfCheckMs, or it is deleted and the running build kept), rename
// self to self + ".old", rename ".new" to self. Before the first rename self
// is untouched; when the second fails the old file is moved back, so the
// launcher is never left without an executable at self.
//
// An installation this user cannot replace (a folder owned by root, say)
// is not a failure: selfUpdate says once per process, in a detail line, how
// to update instead, and downloads nothing.
//
// Failure: bool + error text (a short phrase for "!! launcher update: ").
// A published build that is not newer is not a failure. Nothing throws.
#pragma once

#include <cstddef>
#include <string>

#include "common/log.h"

namespace lumo {

constexpr const char* kLauncherVersion = "1.0.1";
constexpr const char* kLauncherProduct = "xplane-launcher-lin";
constexpr std::size_t kMinLauncherBytes = 100000;
// How long a downloaded build may take to answer "--version".
constexpr int kSelfCheckMs = 5000;

// The launcher's own executable ("/proc/self/exe", slashes); empty when the
// link cannot be read. Computed once per process; safe from any thread.
[[nodiscard]] std::string selfPath();

// candidate is newer than current: the first three runs of digits compared
// as numbers (missing ones count as 0); anything after the third is ignored.
[[nodiscard]] bool verNewer(const std::string& candidate, const std::string& current);

// A published version text that is safe to put into file names and log
// lines: 1 to 64 of letters, digits, ".", "-", "_", "+", and not "." or "..".
[[nodiscard]] bool plainVersion(const std::string& version);

// Fetches the newest kLauncherProduct release from host:port and installs
// it over selfPath() when newer. updated becomes true only when a new build
// was put in place. True when current or updated.
[[nodiscard]] bool selfUpdate(const std::string& host, int port, const LogFn& log, bool& updated,
                              std::string& error);
// The same for the executable at self (selfUpdate passes selfPath()).
[[nodiscard]] bool selfUpdateAt(const std::string& self, const std::string& host, int port, const LogFn& log,
                  bool& updated, std::string& error);

// Puts bytes in place as the launcher executable (the swap above) once the
// written file has answered "--version" with version.
[[nodiscard]] bool replaceSelf(const std::string& bytes, const std::string& version, std::string& error);
[[nodiscard]] bool replaceSelfAt(const std::string& self, const std::string& bytes, const std::string& version,
                                 std::string& error);

// Deletes a self + ".new" left by an update that was cut short, then
// self + ".old", then self + ".old.old" and so on while deletions succeed;
// stops at the first name that is missing or cannot be deleted.
void sweepOldSelf();
void sweepOldSelfAt(const std::string& self);

}  // namespace lumo
