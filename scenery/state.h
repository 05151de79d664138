// Read-mostly views of the backups and the manifest.
//
// staleBackups: apt.dat files replaced (by an update or reinstall) while we
// still keep a backup of their older version - the window offers to delete
// those copies, and the pass refuses such files until then.
// sweepOrphanBackups: extends restore's work list with backups the manifest
// does not know, logging what it adds and what it leaves alone.
// suppressionState: what is in force. With root it follows the disk: a
// file counts when it is a file we cut (orvel::judgeFile), with or without
// a manifest row; rows of outdated, restored or vanished files do not.
//
// None of them writes or copies anything, and none reports errors: missing
// files and an unreadable manifest yield empty results.
#pragma once

#include <string>
#include <vector>

#include "common/log.h"

namespace lumo {

struct SuppressionSummary {
  bool inForce = false;   // at least one file is suppressed
  int airports = 0;       // rows (of suppressed files)
  int files = 0;          // distinct files (suppressed, with or without rows)
  std::string signature;  // first non-empty "sig"
  std::string owner;      // first non-empty "owner" (a row without one: "plugin")
};

// apt.dat paths whose backup is outdated, without repeats: first those found
// through the scenery order (cut mark only), then those only the manifest
// knows.
std::vector<std::string> staleBackups(const std::string& root, const std::string& pluginDir);

// Appends to list the scenery-order files with a backup that are ours or
// hold the original's bytes ("   orphan    "), and the files gone with only
// their backup left ("   MISSING   "); logs "   left      " / "   unknown   "
// and a "!! " line naming the older copy for backups it will not touch.
// Nothing happens when root is empty.
void sweepOrphanBackups(const std::string& root, std::vector<std::string>& list, const LogFn& log);

// The manifest alone.
SuppressionSummary suppressionState(const std::string& pluginDir);
// The disk decides: rows count only for files that are cut now, and cut
// files the manifest lost count as files (the Scenery row, "Restore
// originals"). Reads only marks and stats, never the files' bytes.
SuppressionSummary suppressionState(const std::string& pluginDir, const std::string& root);

}  // namespace lumo
