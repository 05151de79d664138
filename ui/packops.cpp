#include "ui/packops.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "app/choices.h"
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

void pickPack(size_t index, const std::string& publisher) {
  std::string icao;
  bool ok = false;
  bool undismissed = true;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    if (index >= g_app.scan.rows.size()) return;
    const lumo::PackRow& row = g_app.scan.rows[index];
    icao = row.icao;
    const std::string key = row.packKey;
    const std::string& dir = g_app.pluginDir;

    auto loaded = lumo::loadPublishers(dir);
    std::map<std::string, std::string> picks(loaded.begin(), loaded.end());
    picks[key] = publisher;
    // A pick takes the pack back into suppression.
    std::set<std::string> dismissed = lumo::loadDismissedPacks(dir);
    undismissed = dismissed.erase(key) == 0 || dir.empty() || lumo::saveDismissedPacks(dir, dismissed);
    ok = savePicks(dir, picks);
    if (ok) lumo::reclassifyPacks(dir, g_app.scan);
    g_app.keepListed.insert(index);
  }
  if (ok)
    g_app.say(icao + " -> " + (publisher.empty() ? std::string("base map") : publisher) + ". Press Update & Suppress.");
  else
    g_app.say("!! could not save that pick - publishers.json was not written.");
  if (ok && !undismissed)
    g_app.say("!! the pick was saved, but launcher_packs.json was not written - the pack is still left out.");
}

void setPackDismissed(size_t index, bool dismissed) {
  std::string icao;
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    if (index >= g_app.scan.rows.size()) return;
    const lumo::PackRow& row = g_app.scan.rows[index];
    icao = row.icao;
    const std::string key = row.packKey;
    const std::string& dir = g_app.pluginDir;

    std::set<std::string> set = lumo::loadDismissedPacks(dir);
    if (dismissed)
      set.insert(key);
    else
      set.erase(key);
    ok = !dir.empty() && lumo::saveDismissedPacks(dir, set);
    if (ok) lumo::reclassifyPacks(dir, g_app.scan);
    g_app.keepListed.insert(index);
  }
  if (ok)
    g_app.say(icao + (dismissed ? ": not suppressed." : ": back on the list."));
  else
    g_app.say("!! could not save that - launcher_packs.json was not written.");
}
