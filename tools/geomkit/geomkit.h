// Reference geometry derived from real scenery, for tests, benchmarks, the
// local development server and the demo (never part of the launcher).
//
// An airport's own lights stand in for its published map: bars are the
// polylines of linear features whose nodes carry 103/104; lead-on lines are
// the stretches of 101/105 features that come within `nearM` metres of a bar;
// the network is every other 101/105 stretch. Curved segments are flattened
// with the engine's own bezSegment (8 pieces), so the geometry lies exactly
// under the lights it came from.
//
// Call order: deriveBlock() on the rows of one airport block, or deriveFile()
// on a whole apt.dat (optionally only for some codes); rankByLit() lists the
// airports by their number of lit node rows. File functions return false and
// an error text when the file cannot be read; nothing throws.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/scope.h"

namespace geomkit {

constexpr double kNearBarM = 15.0;

// Node rows (111-116) carrying a lighting code 101..108.
long litNodeRows(const std::vector<std::string>& rows);

// Geometry of one block (barx left empty per bar: the default extents apply).
orveldb::AirportScope deriveBlock(const std::vector<std::string>& rows, double nearM = kNearBarM);

// Every airport of the file (or only the codes in `only` when given) with any
// derived geometry. A later block with the same code replaces an earlier one.
bool deriveFile(const std::string& path, orveldb::ScopeMap& out, std::string& err,
                const std::set<std::string>* only = nullptr, double nearM = kNearBarM);

// Airport codes with their lit node row counts, most first (ties by code);
// airports with none are left out. n = 0 keeps all.
bool rankByLit(const std::string& path, std::vector<std::pair<std::string, long>>& out,
               std::string& err, std::size_t n = 0);

// The published-map entry of a scope: {"bars": [...], "barx": [[]...], "lead": [...]},
// points as [lat, lon]; and a list of lines in the same point form.
nlohmann::json mapEntryJson(const orveldb::AirportScope& s);
nlohmann::json linesJson(const orvel::Lines& lines);

}  // namespace geomkit
