#include "engine/scope.h"

#include <algorithm>
#include <cmath>

namespace orvel {

void GeoBox::add(const Pt& p) {
  if (!valid) {
    minLat = maxLat = p.lat;
    minLon = maxLon = p.lon;
    valid = true;
    return;
  }
  minLat = std::min(minLat, p.lat);
  maxLat = std::max(maxLat, p.lat);
  minLon = std::min(minLon, p.lon);
  maxLon = std::max(maxLon, p.lon);
}

void GeoBox::add(const GeoBox& b) {
  if (!b.valid) return;
  add(Pt{b.minLat, b.minLon});
  add(Pt{b.maxLat, b.maxLon});
}

namespace {

// The padding of a query at one latitude, worked out once per query rather
// than once per box: the cosine is the costly part of the pre-filter.
struct Pad {
  double dLat, dLon;
  Pad(double lat, double r) {
    dLat = (1 + r) / kMetresPerDeg;
    const double c = metresPerDegLon(lat);
    // Near a pole a metre is no longer a usable number of degrees: give up
    // the longitude pre-filter rather than divide by almost nothing.
    dLon = c > 1e-6 ? (1 + r) / c : 1e9;
  }
};

bool outside(const GeoBox& b, const Pt& p, const Pad& pad) {
  return p.lat < b.minLat - pad.dLat || p.lat > b.maxLat + pad.dLat || p.lon < b.minLon - pad.dLon ||
         p.lon > b.maxLon + pad.dLon;
}

// The segment distance of geo.h with the query's longitude scale mx given,
// and a cheap squared-distance rejection first. The rejection margin is far
// above rounding, so the answer is the same as comparing segDist itself.
bool segWithin(const Pt& q, const Pt& a, const Pt& b, double mx, double tol) {
  double e = 0, n = 0;
  segOffset(q, a, b, mx, e, n);
  const double sq = e * e + n * n;
  if (sq > tol * tol * 1.0001 + 1e-6) return false;
  return std::hypot(e, n) <= tol;
}

}  // namespace

bool GeoBox::outsidePadded(const Pt& p, double r) const { return outside(*this, p, Pad(p.lat, r)); }

namespace {

void boxLines(const Lines& lines, std::vector<GeoBox>& boxes, GeoBox& all) {
  boxes.assign(lines.size(), GeoBox{});
  all = GeoBox{};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (const Pt& p : lines[i]) boxes[i].add(p);
    all.add(boxes[i]);
  }
}

bool finiteBox(const GeoBox& b) {
  return std::isfinite(b.minLat) && std::isfinite(b.maxLat) && std::isfinite(b.minLon) && std::isfinite(b.maxLon);
}

// Visits the candidates of a query box once each (f returns true to stop).
// Returns false, having visited nothing, when the grid cannot narrow this
// query; the caller then scans every box.
template <class F>
bool forCandidates(const BoxGrid& g, const Pt& q, const Pad& pad, bool& stopped, F f) {
  stopped = false;
  if (!g.usable || !std::isfinite(q.lat) || !std::isfinite(q.lon)) return false;
  const double la0 = (q.lat - pad.dLat - g.minLat) / g.cell, la1 = (q.lat + pad.dLat - g.minLat) / g.cell;
  const double lo0 = (q.lon - pad.dLon - g.minLon) / g.cell, lo1 = (q.lon + pad.dLon - g.minLon) / g.cell;
  if (!(la1 - la0 < 16 && lo1 - lo0 < 16)) return false;
  if (++g.stamp == 0) {
    std::fill(g.seen.begin(), g.seen.end(), 0);
    g.stamp = 1;
  }
  auto visit = [&](uint32_t i) {
    if (g.seen[i] == g.stamp) return false;
    g.seen[i] = g.stamp;
    return f(i);
  };
  for (uint32_t i : g.always)
    if (visit(i)) return stopped = true;
  // One cell more on each side than the arithmetic says, so that rounding
  // at a cell edge can never hide a box that touches the padded query.
  // Clamped while still doubles: a query far off the grid must not overflow
  // the conversion to a cell number.
  auto cellOf = [](double x, int n) { return static_cast<int>(std::clamp(std::floor(x), -2.0, n + 1.0)); };
  const int a0 = std::max(0, cellOf(la0, g.nLat) - 1);
  const int a1 = std::min(g.nLat - 1, cellOf(la1, g.nLat) + 1);
  const int b0 = std::max(0, cellOf(lo0, g.nLon) - 1);
  const int b1 = std::min(g.nLon - 1, cellOf(lo1, g.nLon) + 1);
  for (int a = a0; a <= a1; ++a)
    for (int b = b0; b <= b1; ++b) {
      const std::size_t c = static_cast<std::size_t>(a) * g.nLon + b;
      for (uint32_t k = g.start[c]; k < g.start[c + 1]; ++k)
        if (visit(g.items[k])) return stopped = true;
    }
  return true;
}

}  // namespace

void BoxGrid::build(const std::vector<GeoBox>& boxes, const GeoBox& all) {
  *this = BoxGrid{};
  // Few lines are scanned faster than looked up.
  if (boxes.size() < 16 || !all.valid || !finiteBox(all)) return;
  const double spanLat = all.maxLat - all.minLat, spanLon = all.maxLon - all.minLon;
  if (!std::isfinite(spanLat) || !std::isfinite(spanLon)) return;
  cell = std::max(0.0005, std::max(spanLat, spanLon) / 256.0);
  minLat = all.minLat;
  minLon = all.minLon;
  nLat = static_cast<int>(spanLat / cell) + 1;
  nLon = static_cast<int>(spanLon / cell) + 1;
  const std::size_t cells = static_cast<std::size_t>(nLat) * nLon;
  std::vector<uint32_t> count(cells + 1, 0);
  auto range = [&](const GeoBox& b, int& a0, int& a1, int& b0, int& b1) {
    a0 = std::clamp(static_cast<int>((b.minLat - minLat) / cell), 0, nLat - 1);
    a1 = std::clamp(static_cast<int>((b.maxLat - minLat) / cell), 0, nLat - 1);
    b0 = std::clamp(static_cast<int>((b.minLon - minLon) / cell), 0, nLon - 1);
    b1 = std::clamp(static_cast<int>((b.maxLon - minLon) / cell), 0, nLon - 1);
    return static_cast<long>(a1 - a0 + 1) * (b1 - b0 + 1) <= 1024;
  };
  std::vector<char> big(boxes.size(), 0);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const GeoBox& b = boxes[i];
    if (!b.valid) continue;  // no points, no segments
    int a0, a1, b0, b1;
    if (!finiteBox(b) || !range(b, a0, a1, b0, b1)) {
      big[i] = 1;
      always.push_back(static_cast<uint32_t>(i));
      continue;
    }
    for (int a = a0; a <= a1; ++a)
      for (int c = b0; c <= b1; ++c) ++count[static_cast<std::size_t>(a) * nLon + c + 1];
  }
  for (std::size_t c = 0; c < cells; ++c) count[c + 1] += count[c];
  start = count;
  items.resize(start[cells]);
  std::vector<uint32_t> fill(start.begin(), start.end() - 1);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (!boxes[i].valid || big[i]) continue;
    int a0, a1, b0, b1;
    range(boxes[i], a0, a1, b0, b1);
    for (int a = a0; a <= a1; ++a)
      for (int c = b0; c <= b1; ++c) items[fill[static_cast<std::size_t>(a) * nLon + c]++] = static_cast<uint32_t>(i);
  }
  seen.assign(boxes.size(), 0);
  usable = true;
}

void SuppressIndex::build(const SuppressScope& s) {
  scope = &s;
  barBoxes.clear();
  leadBoxes.clear();
  networkBoxes.clear();
  barsAll = leadsAll = networkAll = GeoBox{};
  barReach = 0;
  if (s.bars) {
    double along = s.barAlong, across = s.barAcross;
    if (s.barx) {
      for (const auto& perBar : *s.barx)
        for (const BarExtent& r : perBar) {
          along = std::max({along, r[0], r[1]});
          across = std::max({across, r[2], r[3]});
        }
    }
    barReach = std::hypot(along, across);
    boxLines(*s.bars, barBoxes, barsAll);
  }
  if (s.leads) boxLines(*s.leads, leadBoxes, leadsAll);
  if (s.network) boxLines(*s.network, networkBoxes, networkAll);
  barGrid.build(barBoxes, barsAll);
  leadGrid.build(leadBoxes, leadsAll);
  networkGrid.build(networkBoxes, networkAll);
}

namespace {

bool withinLines(const Pt& q, const Lines* lines, const std::vector<GeoBox>& boxes, const GeoBox& all,
                 double tol, const BoxGrid* grid) {
  if (!lines || lines->empty()) return false;
  const Pad pad(q.lat, tol);
  if (all.valid && outside(all, q, pad)) return false;
  const double mx = metresPerDegLon(q.lat);
  auto near = [&](std::size_t i) {
    if (i < boxes.size() && boxes[i].valid && outside(boxes[i], q, pad)) return false;
    const Line& l = (*lines)[i];
    // Long lines pass their box often; most of their segments lie a padding
    // (a metre more than the tolerance) away on one side and cannot answer.
    const double la0 = q.lat - pad.dLat, la1 = q.lat + pad.dLat;
    const double lo0 = q.lon - pad.dLon, lo1 = q.lon + pad.dLon;
    for (std::size_t j = 0; j + 1 < l.size(); ++j) {
      const Pt& a = l[j];
      const Pt& b = l[j + 1];
      if ((a.lat < la0 && b.lat < la0) || (a.lat > la1 && b.lat > la1) || (a.lon < lo0 && b.lon < lo0) ||
          (a.lon > lo1 && b.lon > lo1))
        continue;
      if (segWithin(q, a, b, mx, tol)) return true;
    }
    return false;
  };
  bool found = false;
  if (grid && grid->seen.size() == lines->size() && forCandidates(*grid, q, pad, found, near)) return found;
  for (std::size_t i = 0; i < lines->size(); ++i)
    if (near(i)) return true;
  return false;
}

}  // namespace

bool SuppressIndex::within(const Pt& q, const Lines* lines, const std::vector<GeoBox>& boxes,
                           const GeoBox& all, double tol) {
  return withinLines(q, lines, boxes, all, tol, nullptr);
}

bool SuppressIndex::inBar(const Pt& q) const {
  if (!scope || !scope->bars || scope->bars->empty()) return false;
  const Pad pad(q.lat, barReach);
  if (barsAll.valid && outside(barsAll, q, pad)) return false;
  const Lines& bars = *scope->bars;
  const double c = metresPerDegLon(q.lat);
  auto hit = [&](std::size_t i) {
    if (i < barBoxes.size() && barBoxes[i].valid && outside(barBoxes[i], q, pad)) return false;
    const Line& bar = bars[i];
    const std::vector<BarExtent>* ext =
        scope->barx && i < scope->barx->size() ? &(*scope->barx)[i] : nullptr;
    for (std::size_t j = 0; j + 1 < bar.size(); ++j) {
      const double se = (bar[j].lon - q.lon) * c, sn = (bar[j].lat - q.lat) * kMetresPerDeg;
      const double ee = (bar[j + 1].lon - q.lon) * c, en = (bar[j + 1].lat - q.lat) * kMetresPerDeg;
      const double L = std::hypot(ee - se, en - sn);
      if (!(L >= 1e-6)) continue;
      const double ue = (ee - se) / L, un = (en - sn) / L;
      const double re = -se, rn = -sn;  // Q - S, with Q at the origin
      const double along = re * ue + rn * un;
      const double across = re * un - rn * ue;  // positive to the right of travel
      double before = scope->barAlong, after = scope->barAlong;
      double left = scope->barAcross, right = scope->barAcross;
      if (ext && j < ext->size()) {
        const BarExtent& r = (*ext)[j];
        before = r[0];
        after = r[1];
        left = r[2];
        right = r[3];
      }
      if (-before <= along && along <= L + after && -left <= across && across <= right) return true;
    }
    return false;
  };
  bool found = false;
  if (barGrid.seen.size() == bars.size() && forCandidates(barGrid, q, pad, found, hit)) return found;
  for (std::size_t i = 0; i < bars.size(); ++i)
    if (hit(i)) return true;
  return false;
}

bool SuppressIndex::nearLead(const Pt& q) const {
  return scope && withinLines(q, scope->leads, leadBoxes, leadsAll, scope->leadTol, &leadGrid);
}

bool SuppressIndex::nearNetwork(const Pt& q) const {
  return scope && withinLines(q, scope->network, networkBoxes, networkAll, scope->networkTol, &networkGrid);
}

}  // namespace orvel
