// Putting the original apt.dat files back.
//
// restoreAll restores every file the manifest records plus the orphaned
// backups found by sweepOrphanBackups (scenery/state.h); restoreFile does
// one file: it copies P + ".taxilume-orig" back over P (crash-safely), then
// removes the backup, the cut mark and P's manifest rows - in that order, so
// a crash in between leaves a state the next restore or pass understands.
// A file that someone else changed since we cut it is never overwritten.
//
// Failure: restoreFile reports through OpResult (ok, message); restoreAll
// logs one line per file ("   restored  " / "   FAILED    " + path +
// "  - " + message) and counts failures into *failed. The taken record
// (tlm_taken.json) is removed unless a file that could not be restored still
// carries our matching cut mark.
#pragma once

#include <string>

#include "common/log.h"
#include "scenery/files.h"

namespace orvel {

OpResult restoreFile(const std::string& path, const std::string& pluginDir);

}  // namespace orvel

namespace lumo {

// Returns the number of files worked on (0: nothing was suppressed). log may
// be empty; failed may be null.
int restoreAll(const std::string& pluginDir, const LogFn& log, const std::string& root,
               int* failed = nullptr);

}  // namespace lumo
