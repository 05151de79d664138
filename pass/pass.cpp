#include "pass/pass.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/aptfile.h"
#include "engine/scope.h"
#include "engine/taken.h"
#include "pass/choice.h"
#include "scenery/files.h"
#include "scenery/manifest.h"
#include "scenery/order.h"
#include "scenery/restore.h"
#include "server/api.h"
#include "common/siblings.h"

namespace lumo {

namespace {

using orveldb::TakenMap;

// Puts back every file the manifest records (those of this pass included)
// and every orphaned backup, silently. Returns the sentence for the caller's
// error: it says the originals are back only when they are.
std::string rollBack(const std::string& pluginDir, const std::string& root) {
  int failed = 0;
  std::vector<std::string> files;
  (void)restoreAll(pluginDir, LogFn(), root, &failed, &files);
  if (failed == 0) return "the originals were put back";
  return "the originals could NOT all be put back (" + namesWithOlderCopies(files) + ") - press Restore originals";
}

std::string joinStrings(const std::vector<std::string>& v, const std::string& sep) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out += sep;
    out += v[i];
  }
  return out;
}

// Checks the manifest against the disk after the file loop; returns the
// number of mismatches. Rows of files that are gone with their backups (an
// uninstalled pack) are dropped, which is no failure.
int checkRecord(const std::string& pluginDir, int airports, const LogFn& log) {
  nlohmann::json m = orvel::loadManifest(pluginDir);
  nlohmann::json kept = nlohmann::json::array();
  std::set<std::string> checked;
  int failures = 0;
  bool removed = false;
  for (const auto& row : m) {
    const std::string f = orvel::rowText(row, "file");
    if (f.empty()) {
      kept.push_back(row);
      continue;
    }
    int64_t size = 0, mtime = 0, bsize = 0, bmtime = 0;
    const bool exists = orvel::fileStat(f, size, mtime);
    if (!exists && !orvel::fileStat(orvel::backupOf(f), bsize, bmtime)) {
      say(log, "   gone      " + f + " - the pack was uninstalled; dropping its record");
      removed = true;
      continue;
    }
    kept.push_back(row);
    if (!checked.insert(f).second) continue;
    if (!exists || orvel::rowInt(row, "size") != size) {
      say(log, "!! not what we wrote: " + f);
      ++failures;
    }
  }
  std::string why;
  if (removed && !orvel::saveManifest(pluginDir, kept, &why)) {
    say(log, "!! could not save the manifest (" + why + ")");
    ++failures;
  }
  if (checked.empty() && airports > 0) {
    say(log, "!! nothing was recorded - the pass did not take.");
    ++failures;
  }
  return failures;
}

// Works out which networks the file loop below will ask for, by running its
// choices without fetching, and sends those requests side by side ahead of
// it; the loop then reads the answers in its own order, so its log,
// decisions and files are those of asking one by one. A file is assumed to
// define every airport it would claim (true of the packs, whose airports
// the scan read); where that guess is wrong a network is fetched that is
// not needed, or fetched on its own when the loop asks for it.
void planNetworks(const std::vector<std::string>& files, const Geometry& maps, const PackIndex& rows,
                  std::set<std::string> pending, PassShared& shared) {
  if (shared.orvelAirports.empty()) return;
  shared.planning = true;
  for (const std::string& file : files) {
    if (pending.empty()) break;
    const std::string pack = packName(file);
    FileChoice choice;
    for (const std::string& code : pending) chooseAirport(file, pack, code, maps, rows, shared, choice, {});
    for (const auto& s : choice.scopes) pending.erase(s.first);
    for (const auto& c : choice.notSuppressed) pending.erase(c);
  }
  shared.planning = false;
  if (!shared.plannedPaths.empty())
    shared.ahead = std::make_shared<net::Batch>(shared.host, shared.port, std::move(shared.plannedPaths));
}

}  // namespace

PassResult applyPass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                     const LogFn& log, bool quitRestore, const std::string& host, int port,
                     const PackScan& scan, const PassReadOnly* readOnly) {
  PassResult res;
  const std::vector<std::string> files = orveldb::aptDatFilesInOrder(root);
  if (files.empty()) {
    res.error = "no apt.dat found under " + root;
    return res;
  }

  const PackIndex rows = indexPackRows(scan);
  std::set<std::string> pending;
  for (const auto& a : maps.airports) pending.insert(a.first);

  PassShared shared;
  shared.host = host;
  shared.port = port;
  {
    std::string error;
    if (!fetchOrvelAirports(host, port, shared.orvelAirports, shared.orvelPairs, error)) {
      say(log, "!! could not read the ORVEL airport list (" + error + ") - taxi networks left lit");
      // A list read half-way is no list: no network is used in this pass.
      shared.orvelAirports.clear();
      shared.orvelPairs.clear();
    }
  }
  shared.hash = kSignatureStart;

  planNetworks(files, maps, rows, pending, shared);

  TakenMap taken;
  // Every block is tested with the engine's default tolerances.
  const orvel::SuppressScope base{};

  for (const std::string& file : files) {
    if (pending.empty()) break;
    const std::string pack = packName(file);
    FileChoice choice;
    std::vector<std::string> touched;
    for (const std::string& code : pending)
      chooseAirport(file, pack, code, maps, rows, shared, choice, log);

    const orvel::OpResult r =
        readOnly ? readOnly->rewrite(file, choice.scopes, base, touched, taken)
                 : orveldb::suppressAll(file, choice.scopes, base, touched, &taken, pluginDir);
    if (!r.ok) {
      res.error = file + ": " + r.message;
      if (!readOnly) {
        const std::string back = rollBack(pluginDir, root);
        if (back != "the originals were put back") res.error += "; " + back;
      }
      return res;
    }
    for (const auto& c : touched) pending.erase(c);
    for (const auto& c : choice.notSuppressed) {
      pending.erase(c);
      ++res.notSuppressed;
    }
    if (r.changed) {
      std::string why;
      if (!readOnly && !orveldb::recordPass(pluginDir, file, touched, passSignature(maps.rev, shared.hash),
                                              "launcher", quitRestore, &why)) {
        // A changed file the manifest does not know could not be restored
        // or checked later: undo the pass rather than report success.
        res.error = file + ": could not record it in the manifest (" + why + ") - " + rollBack(pluginDir, root);
        return res;
      }
      ++res.files;
      res.exclusions += r.exclusions;
    }
    res.airports += static_cast<int>(touched.size());
    if (choice.ownMapAirports > 0) ++res.ownMapPacks;

    std::string line = "   " + file + "  - " + r.message;
    if (choice.ownMapAirports > 0)
      line += "  [" + joinStrings(choice.ownMapPublishers, ", ") + "'s map]";
    else if (!pack.empty())
      line += "  [base map]";
    say(log, line);
  }

  if (readOnly) {
    for (const auto& e : taken) res.takenRuns += static_cast<int>(e.second.size());
    // The one check a pass would fail on scenery it found as it is now; the
    // others compare what it wrote.
    res.ok = !(res.files == 0 && res.airports > 0);
    if (!res.ok) res.error = "nothing would be changed, so a pass would record nothing and stop";
    return res;
  }
  if (checkRecord(pluginDir, res.airports, log) > 0) {
    res.error = "the scenery changed behind us - " + rollBack(pluginDir, root);
    return res;
  }

  for (const auto& e : taken) res.takenRuns += static_cast<int>(e.second.size());
  if (!taken.empty() && !writeTaken(pluginDir, maps.rev, taken))
    say(log, "!! could not record what was darkened - the field will be dark when nobody is controlling");
  res.ok = true;
  return res;
}

PassResult replacePass(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                       const LogFn& log, bool quitRestore, const std::string& host, int port,
                       const std::function<PackScan()>& scan) {
  say(log, "Restoring any previous pass...");
  int failed = 0;
  std::vector<std::string> kept;
  (void)restoreAll(pluginDir, log, root, &failed, &kept);
  if (failed > 0) {
    // A file still cut by the previous pass would read as "nothing lit to
    // take" and lose its runs from the taken record; one whose backup is
    // older than it would be cut again over that backup. Leave everything
    // as it is until the files above are dealt with.
    PassResult res;
    res.error = "the previous pass could not be undone for " + namesWithOlderCopies(kept) +
                " - nothing new was suppressed; see the lines above";
    return res;
  }
  return applyPass(root, pluginDir, maps, log, quitRestore, host, port, scan ? scan() : PackScan{});
}

}  // namespace lumo
