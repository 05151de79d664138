// Test worlds for the pass: a temporary X-Plane folder assembled from real
// apt.dat slices, a local server folder with maps and networks built from
// the same slices, and the checks a pass's result is held to on disk.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "packs/scan.h"
#include "pass/pass.h"
#include "server/maps.h"
#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"

namespace tlpass {

// An apt.dat made of the airport blocks of the named slices
// (tests/data/pass/<code>.dat), under the slices' file header, ending in "99".
std::string aptDatOf(const std::vector<std::string>& codes);

std::vector<std::string> lines(const std::string& bytes);  // split at "\n", one "\r" removed

// True when `now` is `orig` with light tokens (101, 103, 104, 105) taken out
// of node rows and features split (a 115/116 row plus the feature's header
// again), and nothing else. Adds what it found to the counts; `why` names
// the first difference that is neither.
bool onlyLightsAndSplits(const std::string& orig, const std::string& now, int& removed,
                         int& splits, std::string& why);

struct Pack {
  std::string name;                // folder under Custom Scenery
  std::vector<std::string> codes;  // slices it is made of
};

struct PassRun {
  lumo::PassResult result;
  std::vector<std::string> lines;  // the log, in order
};

// root/ (X-Plane), its plugin folder, a served folder and its server.
class World {
 public:
  World();
  // Writes the packs (listed in this order, before *GLOBAL_AIRPORTS*) and
  // the global file made of `global`.
  void build(const std::vector<Pack>& packs, const std::vector<std::string>& global);
  // Builds the served folder: base maps (and canonical networks) from the
  // global file, own maps (and networks) for each (publisher, pack name).
  void serve(const std::vector<std::pair<std::string, std::string>>& addOns, bool networks = true);
  void start();  // starts the server on the served folder
  lumo::Geometry maps() const;  // the served maps document, read as the launcher does

  std::string packFile(const std::string& name) const;
  std::string globalFile() const;
  std::vector<std::string> aptFiles() const;  // every apt.dat written, packs first

  // Every file under root, path -> bytes.
  std::map<std::string, std::string> snapshot() const;

  lumo::PackScan scan(const lumo::Geometry& maps);
  // The pass, with a log that records its lines and calls `hook` on each.
  PassRun pass(const lumo::Geometry& maps, const lumo::PackScan& scan,
               const std::function<void(const std::string&)>& hook = {}, bool quitRestore = true);

  void serveFile(const std::string& rel, const std::string& bytes);  // served/<rel>

  tl::TempDir dir;
  std::string root, plugin, served;
  devserver::Server server;
  std::vector<std::string> packNames;
};

// Every file under root as in `before`: the apt.dat files byte for byte,
// no backup, mark or temporary left, no manifest rows and no taken record.
void expectPristine(const World& w, const std::map<std::string, std::string>& before);

nlohmann::json manifestOf(const World& w);

}  // namespace tlpass
