#include "scenery/order.h"
#include "common/siblings.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace {

const char* kGlobalRel = "Global Scenery/Global Airports/Earth nav data/apt.dat";
const char* kGlobalWord = "*GLOBAL_AIRPORTS*";

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// The apt.dat path of every enabled entry, in list order, the global entry
// as the global file's path.
std::vector<std::string> listedAptDats(const std::string& root) {
  std::vector<std::string> out;
  std::ifstream in(root + "Custom Scenery/scenery_packs.ini", std::ios::binary);
  if (!in) return out;
  const std::string prefix = "SCENERY_PACK ";
  std::string line;
  // getline stops at the end of the file and at the first read error alike.
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::string entry = line.substr(prefix.size());
    // Backslashes first, so that a Windows-style trailing separator is
    // trimmed like a "/" and the pack gets one spelling of its path.
    std::replace(entry.begin(), entry.end(), '\\', '/');
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '/')) entry.pop_back();
    if (entry.empty()) continue;
    if (entry == kGlobalWord) {
      out.push_back(root + kGlobalRel);
      continue;
    }
    bool absolute = entry.find(':') != std::string::npos || entry[0] == '/';
    out.push_back((absolute ? entry : root + entry) + "/Earth nav data/apt.dat");
  }
  return out;
}

}  // namespace

namespace orveldb {

std::vector<std::string> aptDatFilesInOrder(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& p : listedAptDats(root))
    if (exists(p)) out.push_back(p);
  const std::string global = root + kGlobalRel;
  if (!contains(out, global) && exists(global)) out.push_back(global);
  return out;
}

std::vector<std::string> aptDatBackupsInOrder(const std::string& root) {
  std::vector<std::string> out;
  auto consider = [&](const std::string& p) {
    if (exists(orvel::backupOf(p)) && !exists(p) && !contains(out, p)) out.push_back(p);
  };
  for (const auto& p : listedAptDats(root)) consider(p);
  consider(root + kGlobalRel);
  return out;
}

}  // namespace orveldb
