#include "packs/scan.h"

#include <fstream>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "packs/choices.h"
#include "engine/geo.h"
#include "net/net.h"
#include "scenery/order.h"
#include "server/api.h"

namespace lumo {

namespace {

const std::string kNavTail = "/Earth nav data/apt.dat";


// The airport codes of one pack's apt.dat, in file order, each once. A 1302
// "icao_code" row replaces the header's code, because the header's token is
// only the identifier the scenery author chose.
std::vector<std::string> airportCodes(const std::string& path) {
  std::vector<std::string> codes;
  std::ifstream in(path, std::ios::binary);
  if (!in) return codes;
  std::unordered_set<std::string> listed;
  auto add = [&](const std::string& c) {
    if (listed.insert(c).second) codes.push_back(c);
  };
  std::string current;
  bool haveCurrent = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Only rows starting with "1" can name an airport; the rest is skipped
    // without splitting, which keeps the scan of big files cheap.
    if (line.empty() || line[0] != '1') continue;
    const std::vector<std::string> t = orvel::tok(line);
    if (t.empty()) continue;
    if (t[0] == "1" || t[0] == "16" || t[0] == "17") {
      if (haveCurrent) add(current);
      current.clear();
      haveCurrent = false;
      if (t.size() >= 5) {
        current = t[4];
        haveCurrent = true;
      }
    } else if (t[0] == "1302" && t.size() >= 3 && t[1] == "icao_code") {
      current = t[2];
      haveCurrent = true;
    }
  }
  if (haveCurrent) add(current);
  return codes;
}

void classify(PackRow& row, const std::unordered_map<std::string, std::string>& picks,
              const std::set<std::string>& dismissed) {
  const auto pick = picks.find(row.packKey);
  if (pick != picks.end()) {
    row.status = kPackPicked;
    row.publisher = pick->second;
  } else {
    row.publisher.clear();
    if (!row.listKnown) {
      row.status = kPackNoList;
    } else if (row.publishers.empty()) {
      row.status = kPackNoAddonMap;
    } else {
      const std::string want = normaliseName(row.namePrefix);
      int matches = 0;
      std::string match;
      for (const auto& p : row.publishers)
        if (normaliseName(p) == want) {
          ++matches;
          match = p;
        }
      if (matches == 1) {
        row.status = kPackMatched;
        row.publisher = match;
      } else {
        row.status = kPackNeedsPick;
      }
    }
  }
  row.dismissed = dismissed.count(row.packKey) > 0;
}

}  // namespace

std::string packName(const std::string& aptPath) {
  std::string p = aptPath;
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p.find("/Global Scenery/") != std::string::npos) return "";
  if (p.size() <= kNavTail.size() || p.compare(p.size() - kNavTail.size(), kNavTail.size(), kNavTail) != 0)
    return "";
  const std::string folder = p.substr(0, p.size() - kNavTail.size());
  const size_t slash = folder.rfind('/');
  return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

std::string packKeyOf(const std::string& pack) { return normaliseName(pack); }

std::string normaliseName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name)
    if (c != ' ') out.push_back(lowerAscii(c));
  return out;
}

std::string namePrefixOf(const std::string& pack) {
  const size_t cut = pack.find(" - ");
  std::string prefix = cut == std::string::npos ? pack : pack.substr(0, cut);
  while (!prefix.empty() && prefix.back() == ' ') prefix.pop_back();
  return prefix.empty() ? pack : prefix;
}

PackScan scanPacks(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                   const std::string& host, int port, const LogFn& log) {
  PackScan scan;
  const auto picks = loadPublishers(pluginDir);
  const auto dismissed = loadDismissedPacks(pluginDir);
  std::unordered_set<std::string> seen;  // codes owned by a pack earlier in scenery order

  for (const std::string& file : orveldb::aptDatFilesInOrder(root)) {
    const std::string pack = packName(file);
    if (pack.empty()) continue;  // the simulator's own airports are not a pack
    for (const std::string& code : airportCodes(file)) {
      if (maps.airports.find(code) == maps.airports.end()) continue;
      if (!seen.insert(code).second) continue;
      PackRow row;
      row.file = file;
      row.pack = pack;
      row.packKey = packKeyOf(pack);
      row.icao = code;
      row.namePrefix = namePrefixOf(pack);
      scan.rows.push_back(std::move(row));
    }
  }

  // The publisher lists go out side by side and are read in row order, so
  // the rows, the note and the log come out as if asked one by one.
  std::vector<std::string> paths;
  paths.reserve(scan.rows.size());
  for (const PackRow& row : scan.rows) paths.push_back(publishersQuery(row.icao));
  net::Batch batch(host, port, std::move(paths));
  std::string body;
  for (std::size_t i = 0; i < scan.rows.size(); ++i) {
    PackRow& row = scan.rows[i];
    std::vector<std::string> list;
    std::string error;
    const bool answered = batch.take(i, body);
    if (readPublishers(answered, body, host, row.icao, list, error)) {
      row.publishers = std::move(list);
      row.listKnown = true;
    } else {
      if (scan.note.empty()) scan.note = error;
      say(log, "!! publishers for " + row.icao + ": " + error);
    }
    classify(row, picks, dismissed);
  }
  return scan;
}

void reclassifyPacks(const std::string& pluginDir, PackScan& scan) {
  const auto picks = loadPublishers(pluginDir);
  const auto dismissed = loadDismissedPacks(pluginDir);
  for (PackRow& row : scan.rows) classify(row, picks, dismissed);
}

}  // namespace lumo
