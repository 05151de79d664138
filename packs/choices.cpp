#include "packs/choices.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "scenery/files.h"

namespace lumo {

namespace {

std::string resourcesDir(const std::string& pluginDir) { return pluginDir + "/resources"; }

// The whole file parsed, or null when it is missing, unreadable or not JSON.
nlohmann::json readJsonFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return nullptr;
  nlohmann::json j;
  if (!parseJson(ss.str(), j)) return nullptr;
  return j;
}

}  // namespace

std::string publishersPath(const std::string& pluginDir) {
  return resourcesDir(pluginDir) + "/publishers.json";
}

std::string dismissedPacksPath(const std::string& pluginDir) {
  return resourcesDir(pluginDir) + "/launcher_packs.json";
}

std::unordered_map<std::string, std::string> loadPublishers(const std::string& pluginDir) {
  std::unordered_map<std::string, std::string> picks;
  const nlohmann::json j = readJsonFile(publishersPath(pluginDir));
  if (!j.is_object()) return picks;
  for (auto it = j.begin(); it != j.end(); ++it)
    if (it.value().is_string()) picks[it.key()] = it.value().get<std::string>();
  return picks;
}

std::set<std::string> loadDismissedPacks(const std::string& pluginDir) {
  std::set<std::string> keys;
  const nlohmann::json j = readJsonFile(dismissedPacksPath(pluginDir));
  if (!j.is_object()) return keys;
  const auto it = j.find("dismissed");
  if (it == j.end() || !it->is_array()) return keys;
  for (const auto& e : *it)
    if (e.is_string()) keys.insert(e.get<std::string>());
  return keys;
}

bool saveDismissedPacks(const std::string& pluginDir, const std::set<std::string>& dismissed) {
  std::error_code ec;
  std::filesystem::create_directories(resourcesDir(pluginDir), ec);
  // A folder that could not be made shows up as the write failing below.
  nlohmann::json list = nlohmann::json::array();
  for (const auto& k : dismissed) list.push_back(k);  // the set is already ascending
  nlohmann::json doc = nlohmann::json::object();
  doc["dismissed"] = std::move(list);
  return writeJsonOver(dismissedPacksPath(pluginDir), doc);
}

}  // namespace lumo
