// Reference geometry of one airport and the spatial questions a rewrite asks
// of it: is a point inside a stop-bar box, is it within a tolerance of a
// lead-on line or a taxi-route network line.
//
// Call order: fill an orveldb::AirportScope (from the published map and the
// network), point an orvel::SuppressScope at it for one airport block, then
// SuppressIndex::build(scope) once and query inBar()/within() per point. The
// index holds pointers only: the scope and the geometry behind it must
// outlive it. Nothing fails; null or empty geometry answers false.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/geo.h"

namespace orvel {
using Line = std::vector<Pt>;
using Lines = std::vector<Line>;
// One extent record per bar segment: before, after, left, right (metres).
using BarExtent = std::array<double, 4>;
using BarExtents = std::vector<std::vector<BarExtent>>;
}  // namespace orvel

namespace orveldb {

struct AirportScope {
  orvel::Lines bars;
  orvel::Lines lead;
  orvel::Lines network;
  orvel::BarExtents barx;  // parallel to bars
};

using ScopeMap = std::unordered_map<std::string, AirportScope>;

}  // namespace orveldb

namespace orvel {

struct SuppressScope {
  const Lines* leads = nullptr;
  double leadTol = 8.0;
  const Lines* bars = nullptr;
  double barAlong = 5.0;
  double barAcross = 8.0;
  const BarExtents* barx = nullptr;
  const Lines* network = nullptr;
  double networkTol = 8.0;
};

struct GeoBox {
  double minLat = 0, maxLat = 0, minLon = 0, maxLon = 0;
  bool valid = false;
  void add(const Pt& p);
  void add(const GeoBox& b);
  // True when p lies outside the box grown by r metres (plus one metre),
  // the longitude margin scaled at p's latitude.
  bool outsidePadded(const Pt& p, double r) const;
};

// A coarse grid over the boxes of one group of lines, so that a query looks
// only at the lines near it (a large airport's network has thousands). It
// only narrows the candidates: every line it names is still held against its
// padded box and then its segments, so the answers are exactly those of the
// plain scan over all boxes; queries it cannot narrow fall back to that scan.
struct BoxGrid {
  bool usable = false;
  double minLat = 0, minLon = 0, cell = 0;
  int nLat = 0, nLon = 0;
  std::vector<uint32_t> start;   // per cell, offsets into items (nLat * nLon + 1)
  std::vector<uint32_t> items;   // box indices
  std::vector<uint32_t> always;  // boxes too large or not finite: checked on every query
  mutable std::vector<uint32_t> seen;
  mutable uint32_t stamp = 0;
  void build(const std::vector<GeoBox>& boxes, const GeoBox& all);
};

struct SuppressIndex {
  const SuppressScope* scope = nullptr;
  std::vector<GeoBox> barBoxes;
  std::vector<GeoBox> leadBoxes;
  std::vector<GeoBox> networkBoxes;
  GeoBox barsAll, leadsAll, networkAll;
  double barReach = 0;
  BoxGrid barGrid, leadGrid, networkGrid;

  void build(const SuppressScope& s);
  bool inBar(const Pt& q) const;
  static bool within(const Pt& q, const Lines* lines, const std::vector<GeoBox>& boxes,
                     const GeoBox& all, double tol);
  // The two forms every caller uses.
  bool nearLead(const Pt& q) const;
  bool nearNetwork(const Pt& q) const;
};

}  // namespace orvel
