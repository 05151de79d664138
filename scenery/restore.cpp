#include "scenery/restore.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "scenery/manifest.h"
#include "scenery/order.h"
#include "scenery/state.h"
#include "common/siblings.h"

namespace orvel {

namespace {

// Removes path's rows; false (with the reason) when the manifest could not
// be saved.
bool dropFromManifest(const std::string& pluginDir, const std::string& path, std::string& why) {
  nlohmann::json m = loadManifest(pluginDir);
  if (dropRows(m, path) == 0) return true;
  return saveManifest(pluginDir, m, &why);
}

// The end of every restore of path: backup, then mark, then rows. Each step
// leaves a state the next restore finishes (see the header).
OpResult finish(const std::string& path, const std::string& pluginDir, OpResult r, const std::string& done) {
  const std::string backup = orvel::backupOf(path);
  if (::unlink(backup.c_str()) != 0 && errno != ENOENT) {
    r.message = "the original is back, but its copy could not be removed (" + systemReason() + ")";
    return r;
  }
  if (!clearCutMark(path)) {
    r.message = "the original is back, but the cut mark could not be removed (" + systemReason() + ")";
    return r;
  }
  (void)lumo::fsyncParentDir(path);  // the unlinks are only tidier for it, never wrong without it
  std::string why;
  if (!dropFromManifest(pluginDir, path, why)) {
    r.message = "the original is back, but the manifest could not be updated (" + why + ")";
    return r;
  }
  r.ok = true;
  r.message = done;
  return r;
}

}  // namespace

OpResult restoreFile(const std::string& path, const std::string& pluginDir) {
  OpResult r;
  r.file = path;
  const std::string backup = orvel::backupOf(path);
  CutMark mark = readCutMark(path);
  if (!mark.valid) mark = manifestMark(loadManifest(pluginDir), path);

  switch (judgeFile(path, mark)) {
    case AptState::kCut:
    case AptState::kMissing: {  // a missing or emptied file cannot hold anything worth keeping
      std::string why;
      if (!copyFile(backup, path, &why)) {
        r.message = "restore copy failed (" + why + ")";
        return r;
      }
      return finish(path, pluginDir, r, "restored original apt.dat");
    }
    case AptState::kOriginal:
      // An interrupted restore (or pass) left the original in place already.
      return finish(path, pluginDir, r, "restored original apt.dat (it was already back)");
    case AptState::kChanged:
      if (mark.valid)
        r.message = "the scenery changed since Taxilume cut it (updated or verified?) - our copy is kept at " +
                    backup + "; restore it by hand if that is what you want";
      else
        r.message = "a backup with no record of the cut - the apt.dat beside it may not be ours; "
                    "restore it by hand if it is (" + backup + ")";
      return r;
    case AptState::kGone:
      return finish(path, pluginDir, r, "the pack is gone (uninstalled?) - dropped its record");
    case AptState::kUntouched:
      // No backup and no matching mark: the original was put back before
      // its record went (an interrupted restore); only the record is left.
      return finish(path, pluginDir, r, "already the original - dropped its record");
    case AptState::kCutNoBackup:
      break;
  }
  r.message = "no backup found (" + backup + ")";
  return r;
}

}  // namespace orvel

namespace lumo {

int removeTransients(const std::string& pluginDir, const std::string& root, const LogFn& log) {
  std::vector<std::string> files;
  if (!root.empty()) {
    files = orveldb::aptDatFilesInOrder(root);
    for (const auto& p : orveldb::aptDatBackupsInOrder(root)) files.push_back(p);
  }
  for (const auto& row : orvel::loadManifest(pluginDir)) {
    const std::string f = orvel::rowText(row, "file");
    if (!f.empty()) files.push_back(f);
  }
  std::vector<std::string> transient;
  for (const auto& p : files)
    for (const std::string& suffix : {std::string(orvel::kTmpSuffix), std::string(orvel::kPartSuffix),
                                      orvel::partOf(orvel::kBackupSuffix), orvel::partOf(orvel::kMarkSuffix)})
      transient.push_back(p + suffix);
  if (!pluginDir.empty())
    for (const char* name : {"/orvel_manifest.json", "/tlm_taken.json"})
      transient.push_back(orvel::partOf(pluginDir + name));
  std::set<std::string> seen;
  int removed = 0;
  for (const auto& t : transient) {
    if (!seen.insert(t).second) continue;
    int64_t size = 0, mtime = 0;
    if (!orvel::fileStat(t, size, mtime)) continue;
    if (::unlink(t.c_str()) == 0) {
      say(log, "   cleaned   " + t + " - left over from an interrupted run");
      ++removed;
    } else {
      say(log, "!! could not remove " + t + " (" + orvel::systemReason() + ")");
    }
  }
  return removed;
}

int restoreAll(const std::string& pluginDir, const LogFn& log, const std::string& root, int* failed,
               std::vector<std::string>* failedFiles) {
  removeTransients(pluginDir, root, log);
  std::vector<std::string> work;
  {
    std::set<std::string> seen;
    for (const auto& row : orvel::loadManifest(pluginDir)) {
      std::string f = orvel::rowText(row, "file");
      if (!f.empty() && seen.insert(f).second) work.push_back(f);
    }
  }
  sweepOrphanBackups(root, work, log);
  if (failed) *failed = 0;
  const std::string takenPath = pluginDir + "/tlm_taken.json";
  if (work.empty()) {
    // A taken record with nothing suppressed is a left-over of a restore
    // that stopped just before removing it; the plugin would put back
    // lights the original scenery already has.
    int64_t size = 0, mtime = 0;
    if (!root.empty() && orvel::fileStat(takenPath, size, mtime) && !suppressionState(pluginDir, root).inForce &&
        ::unlink(takenPath.c_str()) == 0) {
      say(log, "   cleaned   " + takenPath + " - nothing is suppressed any more");
      (void)fsyncParentDir(takenPath);  // tidier for it; a stale record is removed again next time
    }
    return 0;
  }
  int failures = 0;
  bool suppressedRemains = false;
  for (const auto& path : work) {
    orvel::OpResult r = orvel::restoreFile(path, pluginDir);
    say(log, (r.ok ? "   restored  " : "   FAILED    ") + path + "  - " + r.message);
    if (!r.ok) {
      ++failures;
      if (failedFiles) failedFiles->push_back(path);
      orvel::CutMark m = orvel::readCutMark(path);
      if (!m.valid) m = orvel::manifestMark(orvel::loadManifest(pluginDir), path);
      if (orvel::markSays(m, path)) suppressedRemains = true;
    }
  }
  if (failed) *failed = failures;
  // The plugin puts taken lights back from this record; it must outlive any
  // file that is still suppressed.
  if (!suppressedRemains && ::unlink(takenPath.c_str()) == 0) (void)fsyncParentDir(takenPath);
  return static_cast<int>(work.size());
}

std::string namesWithOlderCopies(const std::vector<std::string>& files) {
  std::string out;
  for (const auto& f : files) {
    out += (out.empty() ? "" : ", ") + f;
    orvel::CutMark m = orvel::readCutMark(f);
    if (orvel::judgeFile(f, m) == orvel::AptState::kChanged)
      out += " (its older copy is kept at " + f + ".taxilume-orig)";
  }
  return out;
}

bool restoreOriginals(const std::string& pluginDir, const std::string& root, const LogFn& log) {
  int failed = 0;
  std::vector<std::string> failedFiles;
  const int n = pluginDir.empty() ? 0 : restoreAll(pluginDir, log, root, &failed, &failedFiles);
  if (n == 0) {
    say(log, "   (nothing was suppressed)");
    return true;
  }
  if (failed > 0) {
    say(log, "!! " + std::to_string(failed) + " file(s) could NOT be put back (" + namesWithOlderCopies(failedFiles) +
                 ") - see the lines above. The scenery is NOT fully restored.");
    return false;
  }
  say(log, "Original scenery files have been restored.");
  return true;
}

}  // namespace lumo
