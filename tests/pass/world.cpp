#include "world.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/geo.h"
#include "scenery/manifest.h"
#include "server/api.h"

namespace fs = std::filesystem;

namespace tlpass {

namespace {

std::string slicePath(const std::string& code) {
  std::string lc = code;
  for (char& c : lc) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tl::testData("pass/" + lc + ".dat");
}

bool isNode(const std::string& t0) {
  return t0 == "111" || t0 == "112" || t0 == "113" || t0 == "114" || t0 == "115" || t0 == "116";
}

bool isLight(const std::string& t) { return t == "101" || t == "103" || t == "104" || t == "105"; }

// The tokens of a node row `now` equal those of `orig` with some light
// tokens (perhaps none: a rebuilt row loses its spacing) left out, at or
// after the attribute position.
bool lightsTakenOut(const std::vector<std::string>& o, const std::vector<std::string>& n, int& removed) {
  if (o.empty() || !isNode(o[0]) || n.size() > o.size()) return false;
  const size_t attr = (o[0] == "112" || o[0] == "114") ? 5 : 3;
  size_t j = 0;
  int gone = 0;
  for (size_t i = 0; i < o.size(); ++i) {
    if (j < n.size() && n[j] == o[i]) {
      ++j;
      continue;
    }
    if (i < attr || !isLight(o[i])) return false;
    ++gone;
  }
  if (j != n.size()) return false;
  removed += gone;
  return true;
}

}  // namespace

std::string aptDatOf(const std::vector<std::string>& codes) {
  std::string header, body;
  for (const auto& code : codes) {
    const std::string all = tl::readFile(slicePath(code));
    // Slices keep the world file's three header lines (the licence is line
    // 2) and end in "99".
    size_t cut = 0;
    for (int k = 0; k < 3; ++k) cut = all.find('\n', cut) + 1;
    if (header.empty()) header = all.substr(0, cut);
    const size_t end = all.rfind("99\r\n");
    body += all.substr(cut, end - cut);
  }
  return header + body + "99\r\n";
}

std::vector<std::string> lines(const std::string& bytes) {
  std::vector<std::string> out;
  std::istringstream in(bytes);
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(l);
  }
  return out;
}

bool onlyLightsAndSplits(const std::string& origBytes, const std::string& nowBytes, int& removed,
                         int& splits, std::string& why) {
  const auto orig = lines(origBytes), now = lines(nowBytes);
  std::string header;  // the open feature's 120 row
  size_t i = 0, j = 0;
  while (j < now.size()) {
    const auto nt = orvel::tok(now[j]);
    if (i < orig.size()) {
      const auto ot = orvel::tok(orig[i]);
      if (now[j] == orig[i] || lightsTakenOut(ot, nt, removed)) {
        if (!ot.empty() && ot[0] == "120") header = orig[i];
        ++i;
        ++j;
        continue;
      }
      // A split: a terminating row at this node, then the header again.
      if (!nt.empty() && (nt[0] == "115" || nt[0] == "116") && !ot.empty() && isNode(ot[0]) &&
          j + 1 < now.size() && now[j + 1] == header && !header.empty()) {
        const size_t keep = nt[0] == "116" ? 5 : 3;
        bool same = nt.size() == std::min(keep, ot.size());
        for (size_t k = 1; same && k < nt.size(); ++k) same = nt[k] == ot[k];
        if (same) {
          ++splits;
          j += 2;
          continue;
        }
      }
    }
    why = "line " + std::to_string(j + 1) + " \"" + now[j] + "\" against original line " +
          std::to_string(i + 1) + (i < orig.size() ? " \"" + orig[i] + "\"" : " (past the end)");
    return false;
  }
  if (i != orig.size()) {
    why = "original lines from " + std::to_string(i + 1) + " are missing";
    return false;
  }
  return true;
}

World::World() {
  root = dir / "X-Plane 12/";
  plugin = root + "Resources/plugins/Taxilume";
  served = dir / "served";
  fs::create_directories(plugin);
  fs::create_directories(served);
}

void World::build(const std::vector<Pack>& packs, const std::vector<std::string>& global) {
  std::string ini = "I\n1000 Version\nSCENERY\n\n";
  for (const Pack& p : packs) {
    packNames.push_back(p.name);
    tl::writeFile(packFile(p.name), aptDatOf(p.codes));
    ini += "SCENERY_PACK Custom Scenery/" + p.name + "/\n";
  }
  ini += "SCENERY_PACK *GLOBAL_AIRPORTS*\n";
  tl::writeFile(root + "Custom Scenery/scenery_packs.ini", ini);
  if (!global.empty()) tl::writeFile(globalFile(), aptDatOf(global));
}

void World::serve(const std::vector<std::pair<std::string, std::string>>& addOns, bool networks) {
  devserver::BuildOptions o;
  o.aptDat = globalFile();
  for (const auto& a : addOns) o.addOns.push_back({a.first, packFile(a.second)});
  o.rev = "r7";
  o.networks = networks;
  int airports = 0;
  std::string err;
  ASSERT_TRUE(devserver::buildFolder(o, served, airports, err)) << err;
  ASSERT_GT(airports, 0);
}

void World::start() {
  std::string err;
  ASSERT_TRUE(server.start(served, 0, err)) << err;
}

lumo::Geometry World::maps() const {
  lumo::Geometry g;
  const auto doc = nlohmann::json::parse(tl::readFile(served + "/geometry.json"), nullptr, false);
  EXPECT_TRUE(lumo::parseGeometry(doc, g));
  return g;
}

std::string World::packFile(const std::string& name) const {
  return root + "Custom Scenery/" + name + "/Earth nav data/apt.dat";
}
std::string World::globalFile() const { return root + "Global Scenery/Global Airports/Earth nav data/apt.dat"; }

std::vector<std::string> World::aptFiles() const {
  std::vector<std::string> out;
  for (const auto& n : packNames) out.push_back(packFile(n));
  if (fs::exists(globalFile())) out.push_back(globalFile());
  return out;
}

std::map<std::string, std::string> World::snapshot() const {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file()) out[it->path().string()] = tl::readFile(it->path().string());
  return out;
}

lumo::PackScan World::scan(const lumo::Geometry& maps) {
  return lumo::scanPacks(root, plugin, maps, "127.0.0.1", server.port(), {});
}

PassRun World::pass(const lumo::Geometry& maps, const lumo::PackScan& scan,
                    const std::function<void(const std::string&)>& hook, bool quitRestore) {
  PassRun run;
  run.result = lumo::applyPass(
      root, plugin, maps,
      [&](const std::string& l) {
        run.lines.push_back(l);
        if (hook) hook(l);
      },
      quitRestore, "127.0.0.1", server.port(), scan);
  return run;
}

void World::serveFile(const std::string& rel, const std::string& bytes) {
  tl::writeFile(served + "/" + rel, bytes);
}

void expectPristine(const World& w, const std::map<std::string, std::string>& before) {
  const auto now = w.snapshot();
  for (const auto& f : before) {
    const auto it = now.find(f.first);
    if (it == now.end()) {
      ADD_FAILURE() << "gone: " << f.first;
      continue;
    }
    EXPECT_TRUE(it->second == f.second) << "changed: " << f.first;
  }
  for (const auto& f : now)
    if (!before.count(f.first)) {
      const bool emptyManifest = f.first == w.plugin + "/orvel_manifest.json" && manifestOf(w).empty();
      EXPECT_TRUE(emptyManifest) << "left behind: " << f.first;
    }
}

nlohmann::json manifestOf(const World& w) { return orvel::loadManifest(w.plugin); }

}  // namespace tlpass
