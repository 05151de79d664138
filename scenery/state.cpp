#include "scenery/state.h"

#include <algorithm>
#include <set>

#include "scenery/files.h"
#include "scenery/manifest.h"
#include "scenery/order.h"
#include "common/siblings.h"

namespace {

bool exists(const std::string& p) {
  int64_t s = 0, t = 0;
  return orvel::fileStat(p, s, t);
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

namespace lumo {

std::vector<std::string> staleBackups(const std::string& root, const std::string& pluginDir) {
  std::vector<std::string> out;
  if (!root.empty()) {
    for (const auto& p : orveldb::aptDatFilesInOrder(root)) {
      if (!exists(orvel::backupOf(p))) continue;
      orvel::CutMark m = orvel::readCutMark(p);
      if (m.valid && !contains(out, p) && orvel::judgeFile(p, m) == orvel::AptState::kChanged) out.push_back(p);
    }
  }
  const nlohmann::json manifest = orvel::loadManifest(pluginDir);
  for (const auto& row : manifest) {
    std::string f = orvel::rowText(row, "file");
    if (f.empty() || contains(out, f)) continue;
    if (!exists(orvel::backupOf(f)) || !exists(f)) continue;
    orvel::CutMark m = orvel::readCutMark(f);
    if (!m.valid) {
      m = orvel::manifestMark(manifest, f);
      if (!m.valid) continue;
    }
    if (orvel::judgeFile(f, m) == orvel::AptState::kChanged) out.push_back(f);
  }
  return out;
}

void sweepOrphanBackups(const std::string& root, std::vector<std::string>& list, const LogFn& log) {
  if (root.empty()) return;
  for (const auto& p : orveldb::aptDatFilesInOrder(root)) {
    if (contains(list, p) || !exists(orvel::backupOf(p))) continue;
    const orvel::CutMark m = orvel::readCutMark(p);
    const orvel::AptState state = orvel::judgeFile(p, m);
    if (state == orvel::AptState::kCut || state == orvel::AptState::kMissing) {
      say(log, "   orphan    " + p + " - a backup with no manifest row; putting it back");
      list.push_back(p);
    } else if (state == orvel::AptState::kOriginal) {
      say(log, "   orphan    " + p + " - a copy of the original left by an interrupted run; removing it");
      list.push_back(p);
    } else {
      if (m.valid)
        say(log, "   left      " + p + " - changed since we suppressed it; our copy stays at .taxilume-orig");
      else
        say(log, "   unknown   " + p + " - a backup with no suppression mark; restore it by hand if it is ours");
      // Neither ours nor the original: the copy is older than the file and
      // is never put back by itself. Say where it is.
      say(log, "!! an older copy of " + p + " is kept at " + p + ".taxilume-orig - it was not put back");
    }
  }
  for (const auto& p : orveldb::aptDatBackupsInOrder(root)) {
    if (contains(list, p)) continue;
    say(log, "   MISSING   " + p + " - no apt.dat, only our backup; putting it back");
    list.push_back(p);
  }
}

SuppressionSummary suppressionState(const std::string& pluginDir) {
  SuppressionSummary s;
  std::set<std::string> files;
  for (const auto& row : orvel::loadManifest(pluginDir)) {
    ++s.airports;
    files.insert(orvel::rowText(row, "file"));
    if (s.signature.empty()) s.signature = orvel::rowText(row, "sig");
    if (s.owner.empty()) s.owner = orvel::rowText(row, "owner", "plugin");
  }
  s.inForce = s.airports > 0;
  s.files = static_cast<int>(files.size());
  return s;
}

}  // namespace lumo

namespace lumo {

SuppressionSummary suppressionState(const std::string& pluginDir, const std::string& root) {
  SuppressionSummary s;
  const nlohmann::json manifest = orvel::loadManifest(pluginDir);
  // A file is cut exactly when its mark proves it (with or without its
  // backup); telling an original from someone else's file would need the
  // bytes, and neither counts here - so this runs every refresh at the
  // cost of a few stats.
  auto isCut = [&](const std::string& f) {
    orvel::CutMark m = orvel::readCutMark(f);
    if (!m.valid) m = orvel::manifestMark(manifest, f);
    return orvel::markSays(m, f);
  };
  std::set<std::string> files, judged;
  for (const auto& row : manifest) {
    const std::string f = orvel::rowText(row, "file");
    if (judged.insert(f).second && !f.empty() && isCut(f)) files.insert(f);
    if (!files.count(f)) continue;
    ++s.airports;
    if (s.signature.empty()) s.signature = orvel::rowText(row, "sig");
    if (s.owner.empty()) s.owner = orvel::rowText(row, "owner", "plugin");
  }
  // Cut files the manifest does not know (a pass stopped before recording
  // them, or a lost manifest) are modified scenery all the same.
  if (!root.empty())
    for (const auto& p : orveldb::aptDatFilesInOrder(root))
      if (!judged.count(p) && (exists(orvel::backupOf(p)) || exists(orvel::markOf(p))) && isCut(p))
        files.insert(p);
  s.files = static_cast<int>(files.size());
  s.inForce = s.files > 0;
  return s;
}

}  // namespace lumo
