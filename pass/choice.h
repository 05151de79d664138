// The choice, for one apt.dat file and one published airport, of the map the
// pass holds against the airport there (its base map, a publisher's own map,
// or none) and of the ORVEL taxi-route network that goes with it.
//
// The pass makes one PassShared for the whole pass (the ORVEL lists, the
// network cache and the signature hash), one FileChoice per file, and calls
// chooseAirport for every still unclaimed code of the file in ascending
// order; the file's scope table then goes to the rewrite. Pack rows come from
// the scan through indexPackRows, looked up by file + kUnitSep + code.
//
// Failure: nothing fails here. A network that cannot be fetched is logged
// ("!! ORVEL network <code>: <error>") and the airport goes on against its
// map alone; choices the user or the server forced are logged and listed in
// notSuppressed. Lines are logged only when a log callback is given.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/log.h"
#include "engine/scope.h"
#include "net/net.h"
#include "packs/scan.h"
#include "server/api.h"
#include "server/maps.h"

namespace lumo {

// The running hash of the networks a pass applied, starting value.
constexpr uint64_t kSignatureStart = 0x14650fb0739d0383ULL;

// Feeds the bytes of `text` into `hash` (FNV-1a step, 64 bits).
void hashBytes(uint64_t& hash, const std::string& text);

// The manifest signature: rev alone while the hash is at its start, else
// rev + "+" + the low 48 bits of the hash as twelve lower-case hex digits.
std::string passSignature(const std::string& rev, uint64_t hash);

// file + kUnitSep + icao -> the row (pointers into `scan`, which must outlive
// the index).
using PackIndex = std::unordered_map<std::string, const PackRow*>;
PackIndex indexPackRows(const PackScan& scan);

// State shared by every file of one pass.
struct PassShared {
  std::string host;
  int port = 0;
  std::set<std::string> orvelAirports;  // codes with any published network
  std::set<std::string> orvelPairs;     // code + kUnitSep + publisher ("" = canonical)
  std::unordered_map<std::string, OrvelNet> netCache;  // code + kUnitSep + publisher
  uint64_t hash = kSignatureStart;

  // Fetching ahead. While `planning` is set, chooseAirport decides as usual
  // but neither fetches, logs nor copies geometry: it only notes in `planned`
  // (key -> index, in order of first need) the networks it would fetch.
  // When `ahead` holds a batch of those requests, chooseAirport takes a
  // planned network's answer from it instead of asking on its own; anything
  // not planned is fetched as before.
  bool planning = false;
  std::unordered_map<std::string, std::size_t> planned;
  std::vector<std::string> plannedPaths;
  std::shared_ptr<net::Batch> ahead;
};

// What one file's airports came to; emptied before each file.
struct FileChoice {
  std::unordered_map<std::string, orveldb::AirportScope> scopes;  // for the rewrite
  std::vector<std::string> notSuppressed;   // left alone because of a choice or the server
  std::vector<std::string> ownMapPublishers;  // distinct, in order of first use
  int ownMapAirports = 0;
};

// One step of the pass: file F (exactly as the scenery order listed it), its
// pack name K (packName(F)), airport code C (a key of maps.airports).
void chooseAirport(const std::string& file, const std::string& pack, const std::string& icao,
                   const Geometry& maps, const PackIndex& rows, PassShared& shared,
                   FileChoice& out, const LogFn& log);

}  // namespace lumo
