#include "pass/preview.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <streambuf>

#include "engine/blocks.h"
#include "engine/claim.h"
#include "scenery/manifest.h"
#include "scenery/state.h"
#include "common/siblings.h"

namespace lumo {

namespace {

// Swallows the rewritten file: the block walk writes its output somewhere,
// and a preview keeps none of it.
class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Which bytes a pass would rewrite: the backup of a file the restore before
// it puts back, else the file itself - unless the rewrite would refuse the
// file as it stands, which it does, with these reasons, for a file changed
// since we cut it and for a file we cut whose backup is gone.
bool sourceOf(const std::string& file, const std::string& pluginDir, const std::set<std::string>& restored,
              std::string& source, std::string& why) {
  const std::string backup = orvel::backupOf(file);
  source = file;
  if (restored.count(file)) {
    source = backup;
    return true;
  }
  const orvel::CutMark mark = pluginDir.empty() ? orvel::readCutMark(file) : orvel::ourMark(pluginDir, file);
  int64_t size = 0, mtime = 0;
  const bool hadBackup = orvel::fileStat(backup, size, mtime);
  if (hadBackup && mark.valid && !orvel::markSays(mark, file)) {
    why = file + " changed since Taxilume cut it (a sim or scenery update?) - the copy at " + backup +
          " is from BEFORE that change. Delete it (or put it back by hand) before suppressing again.";
    return false;
  }
  if (!hadBackup && mark.valid && orvel::markSays(mark, file)) {
    why = "Taxilume already suppressed " + file + " and its backup (" + backup +
          ") is gone - restore the scenery (or reinstall the pack) before suppressing again";
    return false;
  }
  return true;
}

}  // namespace

orvel::OpResult previewFile(const std::string& file, const orveldb::ScopeMap& scopes,
                            const orvel::SuppressScope& base, std::vector<std::string>& touched,
                            orveldb::TakenMap& taken, const std::string& pluginDir,
                            const std::set<std::string>& restored, const BlockPreviewFn& onAirport) {
  orvel::OpResult r;
  r.file = file;
  if (scopes.empty()) {
    r.ok = true;
    r.message = "nothing left to claim";
    return r;
  }
  std::string source;
  if (!sourceOf(file, pluginDir, restored, source, r.message)) return r;
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    r.message = "could not read " + source;
    return r;
  }

  std::vector<std::string> local;
  int splits = 0;
  auto claim = [&](const std::string& code, std::vector<std::string>& rows) {
    const auto it = scopes.find(code);
    if (it == scopes.end()) return false;
    local.push_back(code);
    std::vector<std::string> before;
    if (onAirport) before = rows;
    std::vector<orveldb::TakenRun> runs;
    int n = 0;
    const bool changed = orveldb::claimBlock(rows, it->second, base, &runs, n);
    splits += n;
    if (onAirport) onAirport(BlockPreview{file, code, it->second, before, rows, runs, n, changed});
    if (!runs.empty()) taken[code] = std::move(runs);
    return changed;
  };
  Discard sink;
  std::ostream out(&sink);
  bool changed = false;
  if (!orvel::forEachBlock(in, out, claim, changed, [&](const std::string& code) { return scopes.count(code) > 0; })) {
    r.message = "could not read " + source + " to its end";
    return r;
  }
  touched.insert(touched.end(), local.begin(), local.end());
  r.ok = true;
  r.changed = changed;
  r.exclusions = splits;
  if (changed)
    r.message = std::to_string(local.size()) + " airport(s), " + std::to_string(splits) + " exclusion(s)";
  else
    r.message = local.empty() ? "defines none of them" : "defines " + std::to_string(local.size()) + ", nothing lit to take";
  return r;
}

std::set<std::string> filesRestoreWouldPutBack(const std::string& root, const std::string& pluginDir) {
  // The work list of lumo::restoreAll: the manifest's files, then the
  // orphaned backups.
  std::vector<std::string> work;
  const nlohmann::json manifest = orvel::loadManifest(pluginDir);
  for (const auto& row : manifest) {
    const std::string f = orvel::rowText(row, "file");
    if (!f.empty() && std::find(work.begin(), work.end(), f) == work.end()) work.push_back(f);
  }
  sweepOrphanBackups(root, work, LogFn());
  // Each as orvel::restoreFile decides: our backup goes back over a missing
  // or emptied file, or over the file our mark still describes.
  std::set<std::string> out;
  for (const auto& f : work) {
    int64_t size = 0, mtime = 0;
    if (!orvel::fileStat(orvel::backupOf(f), size, mtime)) continue;
    const bool present = orvel::fileStat(f, size, mtime) && size > 0;
    orvel::CutMark mark = orvel::readCutMark(f);
    if (!mark.valid) mark = orvel::manifestMark(manifest, f);
    if (!present || (mark.valid && orvel::markSays(mark, f))) out.insert(f);
  }
  return out;
}

PassResult previewPass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                       const LogFn& log, const std::string& host, int port, const PackScan& scan,
                       const BlockPreviewFn& onAirport) {
  const std::set<std::string> restored = filesRestoreWouldPutBack(root, pluginDir);
  PassReadOnly readOnly;
  readOnly.rewrite = [&](const std::string& file, const orveldb::ScopeMap& scopes, const orvel::SuppressScope& base,
                         std::vector<std::string>& touched, orveldb::TakenMap& taken) {
    return previewFile(file, scopes, base, touched, taken, pluginDir, restored, onAirport);
  };
  return applyPass(root, pluginDir, maps, log, true, host, port, scan, &readOnly);
}

}  // namespace lumo
