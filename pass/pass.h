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

#include <functional>
#include <string>
#include <vector>

#include "common/log.h"
#include "engine/scope.h"
#include "engine/taken.h"
#include "packs/scan.h"
#include "scenery/files.h"
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
//
// readOnly, when given, makes it a pass that writes nothing (pass/preview.h):
// the same walk, claims and choices, with readOnly->rewrite in place of the
// file rewrite; nothing is recorded, checked against the disk, rolled back
// or written to the plugin folder, and the result holds what a pass would
// have reported.
struct PassReadOnly;
[[nodiscard]] PassResult applyPass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                     const LogFn& log, bool quitRestore, const std::string& host, int port,
                     const PackScan& scan, const PassReadOnly* readOnly = nullptr);

// Stands in for orveldb::suppressAll (same arguments and result) and must
// only read.
struct PassReadOnly {
  std::function<orvel::OpResult(const std::string& file, const orveldb::ScopeMap& scopes,
                                const orvel::SuppressScope& base, std::vector<std::string>& touched,
                                orveldb::TakenMap& taken)>
      rewrite;
};

// "Update & Suppress" after the maps are in: logs "Restoring any previous
// pass...", undoes the previous pass (lumo::restoreAll, logged), then scans
// (scan, called only then, after the restore) and runs applyPass. When any
// file could not be put back, no pass runs: `error` names those files and
// the scenery, manifest and taken record stay as the restore left them.
[[nodiscard]] PassResult replacePass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                                     const LogFn& log, bool quitRestore, const std::string& host, int port,
                                     const std::function<PackScan()>& scan);

}  // namespace lumo
