// Putting the original apt.dat files back.
//
// restoreAll restores every file the manifest records plus the orphaned
// backups found by sweepOrphanBackups (scenery/state.h); restoreFile does
// one file: it copies P + ".taxilume-orig" back over P (crash-safely), then
// removes the backup, the cut mark and P's manifest rows - in that order, so
// a crash in between leaves a state the next restore or pass understands:
// a P that holds its backup's bytes is finished without copying, and a row
// whose file has neither backup nor a matching mark is simply dropped.
// A file that someone else changed since we cut it is never overwritten.
// Before anything else restoreAll removes the transient copies
// (".taxilume-part", ".taxilume-tmp") an interrupted run left behind.
//
// Failure: restoreFile reports through OpResult (ok, message), with the
// system's reason where a file operation failed; restoreAll logs one line
// per file ("   restored  " / "   FAILED    " + path + "  - " + message),
// counts failures into *failed and names them in *failedFiles. The taken
// record (tlm_taken.json) is removed unless a file that could not be
// restored still carries our matching cut mark.
// restoreOriginals is the whole user action: restoreAll plus the closing
// line that says truly whether everything is original now.
#pragma once

#include <string>
#include <vector>

#include "common/log.h"
#include "scenery/files.h"

namespace orvel {

[[nodiscard]] OpResult restoreFile(const std::string& path, const std::string& pluginDir);

}  // namespace orvel

namespace lumo {

// Returns the number of files worked on (0: nothing was suppressed). log may
// be empty; failed and failedFiles may be null.
[[nodiscard]] int restoreAll(const std::string& pluginDir, const LogFn& log, const std::string& root,
                             int* failed = nullptr, std::vector<std::string>* failedFiles = nullptr);

// Removes the launcher's transient files beside every apt.dat of root and
// the manifest's and taken record's part files (never a backup or a mark),
// logging "   cleaned   " + path for each. Returns how many went.
int removeTransients(const std::string& pluginDir, const std::string& root, const LogFn& log);

// The files joined by ", " for a "!! " line; a file whose backup is older
// than it (someone replaced the file since we cut it) is followed by
// " (its older copy is kept at " + backup + ")".
std::string namesWithOlderCopies(const std::vector<std::string>& files);

// "Restore originals": restoreAll, then one closing line - "Original scenery
// files have been restored.", "   (nothing was suppressed)", or "!! " with
// the files that could not be put back. True when nothing failed.
[[nodiscard]] bool restoreOriginals(const std::string& pluginDir, const std::string& root, const LogFn& log);

}  // namespace lumo
