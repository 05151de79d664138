// Published suppression maps: the in-memory form of the maps document and
// its reader.
//
// The server publishes, per airport, a base map (stop bars, their extents,
// lead-on lines) and optional add-on maps ("variants"), one per scenery
// publisher. fetchGeometry (server/api.h) downloads the document and hands
// the parsed JSON to parseGeometry, which fills a Geometry; the launcher then
// copies it whole for a scan or a pass.
//
// Failure: parseGeometry returns false when the document is not an object,
// has no "airports", or yields no airport. Malformed parts the format allows
// to be skipped (containers of the wrong kind, short points and records,
// lines of fewer than two points, empty airports and variants) are dropped
// silently. A value the format cannot stand for (an airport or variant entry
// that is not an object, a non-number or non-finite coordinate, a "rev" that
// is not a string) makes the whole document unreadable: false, `fault` (when
// given) gets a short description, and `geometry` is left as it was.
#pragma once

#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "engine/scope.h"

namespace lumo {

struct AirportGeom {
  orveldb::AirportScope base;
  std::unordered_map<std::string, orveldb::AirportScope> variants;  // by publisher
};

struct Geometry {
  std::unordered_map<std::string, AirportGeom> airports;  // by code as published
  std::string rev;
  int barCount = 0;      // base-map bars over all kept airports
  int leadCount = 0;     // base-map lead-on lines over all kept airports
  int variantCount = 0;  // add-on maps over all kept airports
};

// A publisher name as published, made fit to show (net::printable); every
// reader of server answers stores names through it so that they match.
std::string publisherName(const std::string& published);

// Adds the document's airports to `geometry` (replacing by code) and adds to
// its counts; true when `geometry` then holds at least one airport.
[[nodiscard]] bool parseGeometry(const nlohmann::json& document, Geometry& geometry,
                   std::string* fault = nullptr);

}  // namespace lumo
