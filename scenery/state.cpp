#include "scenery/state.h"

#include <algorithm>
#include <set>

#include "scenery/files.h"
#include "scenery/manifest.h"
#include "scenery/order.h"

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
      if (!exists(p + ".taxilume-orig")) continue;
      orvel::CutMark m = orvel::readCutMark(p);
      if (m.valid && !orvel::markSays(m, p) && !contains(out, p)) out.push_back(p);
    }
  }
  const nlohmann::json manifest = orvel::loadManifest(pluginDir);
  for (const auto& row : manifest) {
    std::string f = orvel::rowText(row, "file");
    if (f.empty() || contains(out, f)) continue;
    if (!exists(f + ".taxilume-orig") || !exists(f)) continue;
    orvel::CutMark m = orvel::readCutMark(f);
    if (!m.valid) {
      m = orvel::manifestMark(manifest, f);
      if (!m.valid) continue;
    }
    if (!orvel::markSays(m, f)) out.push_back(f);
  }
  return out;
}

void sweepOrphanBackups(const std::string& root, std::vector<std::string>& list, const LogFn& log) {
  if (root.empty()) return;
  for (const auto& p : orveldb::aptDatFilesInOrder(root)) {
    if (contains(list, p) || !exists(p + ".taxilume-orig")) continue;
    orvel::CutMark m = orvel::readCutMark(p);
    if (m.valid && orvel::markSays(m, p)) {
      say(log, "   orphan    " + p + " - a backup with no manifest row; putting it back");
      list.push_back(p);
    } else if (m.valid) {
      say(log, "   left      " + p + " - changed since we suppressed it; our copy stays at .taxilume-orig");
    } else {
      say(log, "   unknown   " + p + " - a backup with no suppression mark; restore it by hand if it is ours");
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
