// Builds a server folder (layout in devserver.h) from real scenery: the
// airports' own lights stand in for the published maps and networks.
#include "tools/devserver/devserver.h"
#include "server/api.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "scenery/files.h"
#include "tools/geomkit/geomkit.h"

namespace devserver {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {


// A code that can name a folder of its own.
bool usableCode(const std::string& code) {
  return !code.empty() && code != "." && code != ".." && code.find('/') == std::string::npos;
}

bool hasMap(const orveldb::AirportScope& s) { return !s.bars.empty() || !s.lead.empty(); }

// A network answer from network lines: line ends become shared nodes (by
// their exact coordinates), inner points the edge's shape.
json networkJson(const orvel::Lines& lines, bool byPublisher, const std::string& rev) {
  json nodes = json::object(), edges = json::array();
  std::map<std::pair<double, double>, std::string> ids;
  auto node = [&](const orvel::Pt& p) {
    auto key = std::make_pair(p.lat, p.lon);
    auto it = ids.find(key);
    if (it != ids.end()) return it->second;
    std::string id = std::to_string(ids.size() + 1);
    ids[key] = id;
    nodes[id] = json::array({p.lat, p.lon});
    return id;
  };
  for (const auto& line : lines) {
    if (line.size() < 2) continue;
    json edge = {{"a", node(line.front())}, {"b", node(line.back())}};
    if (line.size() > 2) {
      json shape = json::array();
      for (size_t i = 1; i + 1 < line.size(); ++i) shape.push_back({line[i].lat, line[i].lon});
      edge["shape"] = shape;
    }
    edges.push_back(edge);
  }
  return {{"available", true},
          {"geom", byPublisher ? "publisher" : "canonical"},
          {"pubRev", rev},
          {"nodes", nodes},
          {"edges", edges}};
}

struct Writer {
  std::string folder;
  std::string& error;
  bool json(const std::string& rel, const nlohmann::json& j) {
    const std::string path = folder + "/" + rel;
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    // Compact: the maps of the whole world are large enough as they are.
    if (ec || !lumo::writeFileOver(path, lumo::dumpJson(j, -1))) {
      error = "could not write " + path;
      return false;
    }
    return true;
  }
};

}  // namespace

bool buildFolder(const BuildOptions& opt, const std::string& folder, int& airports,
                 std::string& error) {
  airports = 0;
  // The launcher only asks "unchanged?" for such revisions.
  bool revOk = !opt.rev.empty() && opt.rev.size() <= 64;
  for (unsigned char c : opt.rev)
    revOk = revOk && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
  if (!revOk) {
    error = "the revision must be 1 to 64 letters and digits";
    return false;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) {
    error = "could not make the folder " + folder;
    return false;
  }
  Writer w{folder, error};

  orveldb::ScopeMap base;
  std::string err;
  if (!geomkit::deriveFile(opt.aptDat, base, err)) {
    error = err;
    return false;
  }
  // Add-on scopes by publisher, then by code.
  std::map<std::string, orveldb::ScopeMap> addOns;
  for (const auto& a : opt.addOns) {
    if (a.publisher.empty()) {
      error = "an add-on needs a publisher name";
      return false;
    }
    if (!geomkit::deriveFile(a.aptDat.empty() ? opt.aptDat : a.aptDat, addOns[a.publisher], err)) {
      error = err;
      return false;
    }
  }

  json doc = {{"rev", opt.rev}, {"airports", json::object()}};
  json orvelList = json::array();
  std::map<std::string, json> publishersOf;
  for (const auto& [code, scope] : base) {
    if (!usableCode(code)) continue;
    if (hasMap(scope)) {
      doc["airports"][code] = geomkit::mapEntryJson(scope);
      ++airports;
    }
    if (opt.networks && !scope.network.empty()) {
      orvelList.push_back({{"icao", code}, {"platform", "xplane"}});
      if (!w.json("orvel/" + code + "/net.json", networkJson(scope.network, false, opt.rev)))
        return false;
    }
  }
  for (const auto& [publisher, scopes] : addOns) {
    for (const auto& [code, scope] : scopes) {
      if (!usableCode(code) || !hasMap(scope)) continue;
      doc["airports"][code]["variants"][publisher] = geomkit::mapEntryJson(scope);
      publishersOf[code].push_back(publisher);
      if (opt.networks && !scope.network.empty()) {
        orvelList.push_back({{"icao", code}, {"platform", "xplane"}, {"publisher", publisher}});
        if (!w.json("orvel/" + code + "/pub/" + lumo::urlEncode(publisher) + ".json",
                    networkJson(scope.network, true, opt.rev)))
          return false;
      }
    }
  }
  for (const auto& [code, list] : publishersOf)
    if (!w.json("publishers/" + code + ".json", {{"publishers", list}})) return false;
  if (!w.json("orvel/airports.json", {{"airports", orvelList}})) return false;

  if (!opt.pluginZip.empty()) {
    std::ifstream in(opt.pluginZip, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
      error = "could not read " + opt.pluginZip;
      return false;
    }
    const std::string name = fs::path(opt.pluginZip).filename().string();
    const std::string target = folder + "/files/" + name;
    fs::create_directories(folder + "/files", ec);
    if (!lumo::writeFileOver(target, bytes.str())) {
      error = "could not write " + target;
      return false;
    }
    if (!w.json("releases/xplane.json", {{"version", opt.pluginVersion},
                                         {"url", "/files/" + lumo::urlEncode(name)},
                                         {"notes", "Built from " + name + "."}}))
      return false;
  }
  // The maps go last: a server reading the folder meanwhile sees the new
  // revision only once everything it refers to is in place.
  return w.json("geometry.json", doc);
}

}  // namespace devserver
