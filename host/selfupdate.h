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
// The swap (replaceSelf): write self + ".new", make it executable, rename
// self to self + ".old", rename ".new" to self. Before the first rename self
// is untouched; when the second fails the old file is moved back, so the
// launcher is never left without an executable at self.
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

// The launcher's own executable ("/proc/self/exe", slashes); empty when the
// link cannot be read. Computed once per process; safe from any thread.
std::string selfPath();

// candidate is newer than current: the first three runs of digits compared
// as numbers (missing ones count as 0); anything after the third is ignored.
bool verNewer(const std::string& candidate, const std::string& current);

// A published version text that is safe to put into file names and log
// lines: 1 to 64 of letters, digits, ".", "-", "_", "+", and not "." or "..".
bool plainVersion(const std::string& version);

// Fetches the newest kLauncherProduct release from host:port and installs
// it over selfPath() when newer. updated becomes true only when a new build
// was put in place. True when current or updated.
bool selfUpdate(const std::string& host, int port, const LogFn& log, bool& updated,
                std::string& error);
// The same for the executable at self (selfUpdate passes selfPath()).
bool selfUpdateAt(const std::string& self, const std::string& host, int port, const LogFn& log,
                  bool& updated, std::string& error);

// Puts bytes in place as the launcher executable (the swap above).
bool replaceSelf(const std::string& bytes, std::string& error);
bool replaceSelfAt(const std::string& self, const std::string& bytes, std::string& error);

// Deletes self + ".old", then self + ".old.old" and so on while deletions
// succeed; stops at the first name that is missing or cannot be deleted.
void sweepOldSelf();
void sweepOldSelfAt(const std::string& self);

}  // namespace lumo
