// The suppression pass without its writes: what "Update & Suppress" would
// take out of the scenery as it is now, file by file and airport by airport.
//
// previewPass runs lumo::applyPass itself in its read-only form, so the walk
// in scenery order, the claims, the choice of map and network per airport
// and the block rewrite (orveldb::claimBlock) are the pass's own. Only the
// file rewrite is replaced, by previewFile: it reads the bytes a pass would
// rewrite and hands every claimed block to the same block code, writing
// nothing anywhere. A pass first puts any earlier pass back; the preview
// reads what that restore would put back instead: a file the manifest (or a
// matching mark) says we cut, still as we left it, is read from its backup.
// A deleted apt.dat whose backup alone is left is not seen (the restore
// would bring it back first).
//
// Failure: the result is a PassResult like the pass's (ok false and an error
// where a pass would stop, e.g. a file changed since it was cut). The log
// gets the pass's own lines; onAirport is called once per claimed block.
// Nothing throws, nothing is written.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/log.h"
#include "engine/scope.h"
#include "engine/taken.h"
#include "pass/pass.h"
#include "packs/scan.h"
#include "scenery/files.h"
#include "server/maps.h"

namespace lumo {

// One claimed airport block as the pass would rewrite it.
struct BlockPreview {
  const std::string& file;               // the apt.dat, as the scenery order lists it
  const std::string& code;               // the airport code of the block
  const orveldb::AirportScope& scope;    // the map and network it is held against
  const std::vector<std::string>& before;  // the block's rows as read
  const std::vector<std::string>& after;   // the rows the pass would write
  const std::vector<orveldb::TakenRun>& runs;  // what would be recorded for the plugin
  int splits = 0;                        // features split (the pass's exclusions)
  bool changed = false;
};
using BlockPreviewFn = std::function<void(const BlockPreview&)>;

// The apt.dat files whose backups the restore before a pass would put back
// (lumo::restoreAll, orvel::restoreFile), decided the way they decide.
std::set<std::string> filesRestoreWouldPutBack(const std::string& root, const std::string& pluginDir);

// The read-only stand-in for orveldb::suppressAll: same arguments, result
// and message; blocks go to onAirport as well. pluginDir backs up a missing
// cut mark, as in the rewrite; a file in restored is read from its backup.
orvel::OpResult previewFile(const std::string& file, const orveldb::ScopeMap& scopes,
                            const orvel::SuppressScope& base, std::vector<std::string>& touched,
                            orveldb::TakenMap& taken, const std::string& pluginDir,
                            const std::set<std::string>& restored, const BlockPreviewFn& onAirport);

// The pass's arguments but quitRestore; log and onAirport may be empty.
PassResult previewPass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                       const LogFn& log, const std::string& host, int port, const PackScan& scan,
                       const BlockPreviewFn& onAirport = {});

}  // namespace lumo
