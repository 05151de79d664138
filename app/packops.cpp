#include "app/packops.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "packs/choices.h"
#include "app/state.h"
#include "packs/scan.h"
#include "scenery/files.h"

namespace {

// Picks as publishers.json holds them: one member per pack key, in key order.
bool savePicks(const std::string& pluginDir, const std::map<std::string, std::string>& picks) {
  // With no plugin folder the path would start at "/": refuse instead.
  if (pluginDir.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(pluginDir + "/resources", ec);
  nlohmann::json doc = nlohmann::json::object();
  for (const auto& [key, publisher] : picks) doc[key] = publisher;
  return lumo::writeJsonOver(lumo::publishersPath(pluginDir), doc);
}

}  // namespace

namespace {

// What a pick or a toggle works on, copied under the mutex: the row's code
// and pack key, the plugin folder, and the scan to re-classify.
struct RowWork {
  std::string icao, key, dir;
  lumo::PackScan scan;
  unsigned serial = 0;
};

bool copyRow(size_t index, RowWork& w) {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  if (index >= g_app.scan.rows.size()) return false;
  const lumo::PackRow& row = g_app.scan.rows[index];
  w.icao = row.icao;
  w.key = row.packKey;
  w.dir = g_app.pluginDir;
  w.scan = g_app.scan;
  w.serial = g_app.scanSerial;
  return true;
}

// Stores the re-classified copy (when the files were written) and keeps the
// row listed, unless a new scan replaced the one the index belongs to.
void storeRow(size_t index, RowWork& w, bool ok) {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  if (g_app.scanSerial != w.serial || index >= g_app.scan.rows.size()) return;
  if (ok) g_app.scan.rows = std::move(w.scan.rows);
  g_app.keepListed.insert(index);
}

}  // namespace

// The files are read and written without the mutex, so a job appending to
// the log never waits on the disk; only the main thread (or the one front
// end's own thread) calls these, so two never overlap.
void pickPack(size_t index, const std::string& publisher) {
  RowWork w;
  if (!copyRow(index, w)) return;
  auto loaded = lumo::loadPublishers(w.dir);
  std::map<std::string, std::string> picks(loaded.begin(), loaded.end());
  picks[w.key] = publisher;
  // A pick takes the pack back into suppression.
  std::set<std::string> dismissed = lumo::loadDismissedPacks(w.dir);
  const bool undismissed =
      dismissed.erase(w.key) == 0 || w.dir.empty() || lumo::saveDismissedPacks(w.dir, dismissed);
  const bool ok = savePicks(w.dir, picks);
  if (ok) lumo::reclassifyPacks(w.dir, w.scan);
  storeRow(index, w, ok);
  if (ok)
    g_app.say(w.icao + " -> " + (publisher.empty() ? std::string("base map") : publisher) + ". " + g_words.suppress +
              ".");
  else
    g_app.say("!! could not save that pick - publishers.json was not written.");
  if (ok && !undismissed)
    g_app.say("!! the pick was saved, but launcher_packs.json was not written - the pack is still left out.");
}

void setPackDismissed(size_t index, bool dismissed) {
  RowWork w;
  if (!copyRow(index, w)) return;
  std::set<std::string> set = lumo::loadDismissedPacks(w.dir);
  if (dismissed)
    set.insert(w.key);
  else
    set.erase(w.key);
  const bool ok = !w.dir.empty() && lumo::saveDismissedPacks(w.dir, set);
  if (ok) lumo::reclassifyPacks(w.dir, w.scan);
  storeRow(index, w, ok);
  if (ok)
    g_app.say(w.icao + (dismissed ? ": not suppressed." : ": back on the list."));
  else
    g_app.say("!! could not save that - launcher_packs.json was not written.");
}
