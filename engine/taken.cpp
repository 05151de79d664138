#include "engine/taken.h"

#include <cmath>
#include <string_view>

#include "engine/lightwalk.h"
#include "scenery/files.h"

namespace orveldb {

std::vector<TakenRun> takenByPass(const std::vector<std::string>& rows,
                                  const orvel::SuppressScope& scope) {
  std::vector<std::string_view> views(rows.begin(), rows.end());
  std::vector<TakenRun> out;
  int splits = 0;
  orvel::LightWalk walk;
  walk.walk(views, scope, nullptr, nullptr, splits, &out);
  return out;
}

}  // namespace orveldb

namespace lumo {

namespace {

double round7(double x) {
  const double r = std::round(x * 1e7) / 1e7;
  // Beyond about 9e300 the scaling overflows; such a value is nonsense but
  // must not turn into null in the record.
  return std::isfinite(r) ? r : x;
}

}  // namespace

std::string takenJson(const std::string& rev, const orveldb::TakenMap& taken) {
  nlohmann::json airports = nlohmann::json::object();
  for (const auto& [code, runs] : taken) {
    nlohmann::json arr = nlohmann::json::array();
    for (const orveldb::TakenRun& r : runs) {
      nlohmann::json pts = nlohmann::json::array();
      for (const orvel::Pt& p : r.pts) pts.push_back({round7(p.lat), round7(p.lon)});
      nlohmann::json o = nlohmann::json::object();
      o["c"] = r.code;
      if (r.networkOnly) o["f"] = 1;
      o["p"] = std::move(pts);
      arr.push_back(std::move(o));
    }
    airports[code] = std::move(arr);
  }
  nlohmann::json j = nlohmann::json::object();
  j["airports"] = std::move(airports);
  j["rev"] = rev;
  // dumpJson escapes bytes that are not UTF-8 reversibly and never throws;
  // its keys come out sorted by byte because json objects are std::map.
  return dumpJson(j, -1);
}

bool writeTaken(const std::string& dir, const std::string& rev, const orveldb::TakenMap& taken,
                std::string* err) {
  const std::string path = dir + "/tlm_taken.json";
  if (!writeFileOver(path, takenJson(rev, taken))) {
    if (err) *err = "could not write " + path;
    return false;
  }
  return true;
}

}  // namespace lumo
