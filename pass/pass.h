// The suppression pass behind "Update & Suppress".
//
// applyPass walks the apt.dat files in scenery order; each file claims the
// published airports it defines that no earlier file claimed, is rewritten
// against the maps chosen for them (pass/choice.h, engine/aptfile.h) and, when
// changed, recorded in the manifest. After the last file the manifest is
// checked against the disk; only then is the taken record written for the
// plugin. The caller restores any earlier pass and scans the packs first
// (lumo::restoreAll, lumo::scanPacks) and logs the summary.
//
// Failure: the result's `ok` is false and `error` says why (the caller logs
// "!! " + error). A file that cannot be rewritten, a changed file that
// cannot be recorded in the manifest, or a manifest that does not match the
// disk rolls back every file of the pass (lumo::restoreAll), so no
// half-suppressed scenery is left behind. With no apt.dat at all
// nothing is touched. Missing ORVEL lists or networks only cost the pass its
// networks. Nothing throws.
#pragma once

#include <string>

#include "common/log.h"
#include "packs/scan.h"
#include "server/maps.h"

namespace lumo {

struct PassResult {
  bool ok = false;        // the pass completed and its record checked out
  int airports = 0;       // airports claimed by the files processed
  int files = 0;          // files changed and recorded
  int exclusions = 0;     // feature splits over the changed files
  int ownMapPacks = 0;    // files in which some airport used a publisher's own map
  int takenRuns = 0;      // light runs in the taken record
  int notSuppressed = 0;  // airports left alone with a logged reason
  std::string error;      // why the pass failed; "" on success
};

// root ends in "/"; pluginDir holds the manifest and the taken record; maps
// and scan are the pass's own copies; log may be empty; quitRestore goes
// into the manifest rows; host and port serve the ORVEL lists and networks.
PassResult applyPass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                     const LogFn& log, bool quitRestore, const std::string& host, int port,
                     const PackScan& scan);

}  // namespace lumo
