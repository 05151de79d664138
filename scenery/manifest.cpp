#include "scenery/manifest.h"
#include "common/siblings.h"

#include <fstream>
#include <sstream>

namespace {

std::string manifestPath(const std::string& pluginDir) { return pluginDir + "/orvel_manifest.json"; }

}  // namespace

namespace orvel {

nlohmann::json loadManifest(const std::string& pluginDir) {
  std::ifstream in(manifestPath(pluginDir), std::ios::binary);
  if (!in) return nlohmann::json::array();
  std::ostringstream text;
  text << in.rdbuf();
  nlohmann::json j;
  if (!lumo::parseJson(text.str(), j) || !j.is_array()) return nlohmann::json::array();
  return j;
}

bool saveManifest(const std::string& pluginDir, const nlohmann::json& manifest, std::string* error) {
  return lumo::writeFileOver(manifestPath(pluginDir), lumo::dumpJson(manifest, 1), error);
}

std::string rowText(const nlohmann::json& row, const char* key, const std::string& def) {
  if (!row.is_object()) return def;
  auto it = row.find(key);
  if (it == row.end() || !it->is_string()) return def;
  return it->get<std::string>();
}

int64_t rowInt(const nlohmann::json& row, const char* key, int64_t def) {
  if (!row.is_object()) return def;
  auto it = row.find(key);
  if (it == row.end()) return def;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number_float()) {
    double d = it->get<double>();
    if (d > -9.2e18 && d < 9.2e18) return static_cast<int64_t>(d);
  }
  return def;
}

CutMark manifestMark(const nlohmann::json& manifest, const std::string& aptPath) {
  CutMark m;
  if (!manifest.is_array()) return m;
  for (const auto& row : manifest) {
    if (rowText(row, "file") != aptPath) continue;
    m.size = rowInt(row, "size");
    m.mtime = rowInt(row, "mtime");
    m.valid = m.size > 0;
    return m;
  }
  return m;
}

int dropRows(nlohmann::json& manifest, const std::string& aptPath) {
  if (!manifest.is_array()) return 0;
  nlohmann::json kept = nlohmann::json::array();
  int dropped = 0;
  for (auto& row : manifest) {
    if (row.is_object() && rowText(row, "file") == aptPath) ++dropped;
    else kept.push_back(std::move(row));
  }
  manifest = std::move(kept);
  return dropped;
}

CutMark ourMark(const std::string& pluginDir, const std::string& aptPath) {
  CutMark m = readCutMark(aptPath);
  if (m.valid) return m;
  return manifestMark(loadManifest(pluginDir), aptPath);
}

}  // namespace orvel

namespace orveldb {

bool recordPass(const std::string& pluginDir, const std::string& file,
                const std::vector<std::string>& icaos, const std::string& sig,
                const char* owner, bool quitRestore, std::string* error) {
  int64_t size = 0, mtime = 0;
  if (!orvel::fileStat(file, size, mtime)) size = mtime = 0;
  nlohmann::json m = orvel::loadManifest(pluginDir);
  orvel::dropRows(m, file);
  for (const auto& code : icaos) {
    m.push_back({{"file", file},
                 {"icao", code},
                 {"backup", orvel::backupOf(file)},
                 {"size", size},
                 {"mtime", mtime},
                 {"sig", sig},
                 {"owner", owner ? owner : ""},
                 {"quitrestore", quitRestore}});
  }
  return orvel::saveManifest(pluginDir, m, error);
}

}  // namespace orveldb
