#include "scenery/restore.h"

#include <unistd.h>

#include <algorithm>
#include <set>

#include "scenery/manifest.h"
#include "scenery/state.h"

namespace orvel {

OpResult restoreFile(const std::string& path, const std::string& pluginDir) {
  OpResult r;
  r.file = path;
  const std::string backup = path + ".taxilume-orig";
  int64_t bsize = 0, btime = 0, size = 0, mtime = 0;
  const bool haveBackup = fileStat(backup, bsize, btime);
  const bool haveFile = fileStat(path, size, mtime);

  if (haveBackup) {
    CutMark mark = readCutMark(path);
    if (!mark.valid) mark = manifestMark(loadManifest(pluginDir), path);
    // A missing or emptied file cannot hold anything worth keeping.
    bool copyBack = !haveFile || size == 0;
    if (!copyBack) {
      if (mark.valid && markSays(mark, path)) {
        copyBack = true;
      } else if (mark.valid) {
        r.message = "the scenery changed since Taxilume cut it (updated or verified?) - our copy is kept at " +
                    backup + "; restore it by hand if that is what you want";
        return r;
      } else {
        r.message = "a backup with no record of the cut - the apt.dat beside it may not be ours; "
                    "restore it by hand if it is (" + backup + ")";
        return r;
      }
    }
    if (!copyFile(backup, path)) {
      r.message = "restore copy failed";
      return r;
    }
    // Backup before mark: a crash between the two leaves a mark with no
    // backup beside the original, which the next pass clears as not ours.
    ::unlink(backup.c_str());
    clearCutMark(path);
    lumo::fsyncParentDir(path);
    nlohmann::json m = loadManifest(pluginDir);
    if (dropRows(m, path) > 0) saveManifest(pluginDir, m);
    r.ok = true;
    r.message = "restored original apt.dat";
    return r;
  }

  if (!haveFile) {
    clearCutMark(path);
    nlohmann::json m = loadManifest(pluginDir);
    if (dropRows(m, path) > 0) saveManifest(pluginDir, m);
    r.ok = true;
    r.message = "the pack is gone (uninstalled?) - dropped its record";
    return r;
  }

  r.message = "no backup found (" + backup + ")";
  return r;
}

}  // namespace orvel

namespace lumo {

int restoreAll(const std::string& pluginDir, const LogFn& log, const std::string& root, int* failed) {
  std::vector<std::string> work;
  {
    std::set<std::string> seen;
    for (const auto& row : orvel::loadManifest(pluginDir)) {
      std::string f = orvel::rowText(row, "file");
      if (!f.empty() && seen.insert(f).second) work.push_back(f);
    }
  }
  sweepOrphanBackups(root, work, log);
  if (work.empty()) {
    if (failed) *failed = 0;
    return 0;
  }
  int failures = 0;
  bool suppressedRemains = false;
  for (const auto& path : work) {
    orvel::OpResult r = orvel::restoreFile(path, pluginDir);
    say(log, (r.ok ? "   restored  " : "   FAILED    ") + path + "  - " + r.message);
    if (!r.ok) {
      ++failures;
      orvel::CutMark m = orvel::readCutMark(path);
      int64_t s = 0, t = 0;
      if (m.valid && orvel::fileStat(path, s, t) && orvel::markSays(m, path)) suppressedRemains = true;
    }
  }
  if (failed) *failed = failures;
  // The plugin puts taken lights back from this record; it must outlive any
  // file that is still suppressed.
  if (!suppressedRemains) ::unlink((pluginDir + "/tlm_taken.json").c_str());
  return static_cast<int>(work.size());
}

}  // namespace lumo
