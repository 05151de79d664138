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

bool GeoBox::outsidePadded(const Pt& p, double r) const {
  const double dLat = (1 + r) / kMetresPerDeg;
  const double c = metresPerDegLon(p.lat);
  // Near a pole a metre is no longer a usable number of degrees: give up
  // the longitude pre-filter rather than divide by almost nothing.
  const double dLon = c > 1e-6 ? (1 + r) / c : 1e9;
  return p.lat < minLat - dLat || p.lat > maxLat + dLat || p.lon < minLon - dLon ||
         p.lon > maxLon + dLon;
}

namespace {

void boxLines(const Lines& lines, std::vector<GeoBox>& boxes, GeoBox& all) {
  boxes.assign(lines.size(), GeoBox{});
  all = GeoBox{};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (const Pt& p : lines[i]) boxes[i].add(p);
    all.add(boxes[i]);
  }
}

}  // namespace

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
}

bool SuppressIndex::within(const Pt& q, const Lines* lines, const std::vector<GeoBox>& boxes,
                           const GeoBox& all, double tol) {
  if (!lines || lines->empty()) return false;
  if (all.valid && all.outsidePadded(q, tol)) return false;
  for (std::size_t i = 0; i < lines->size(); ++i) {
    if (i < boxes.size() && boxes[i].valid && boxes[i].outsidePadded(q, tol)) continue;
    const Line& l = (*lines)[i];
    for (std::size_t j = 0; j + 1 < l.size(); ++j)
      if (segDist(q, l[j], l[j + 1]) <= tol) return true;
  }
  return false;
}

bool SuppressIndex::inBar(const Pt& q) const {
  if (!scope || !scope->bars || scope->bars->empty()) return false;
  if (barsAll.valid && barsAll.outsidePadded(q, barReach)) return false;
  const Lines& bars = *scope->bars;
  const double c = metresPerDegLon(q.lat);
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (i < barBoxes.size() && barBoxes[i].valid && barBoxes[i].outsidePadded(q, barReach)) continue;
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
  }
  return false;
}

bool SuppressIndex::nearLead(const Pt& q) const {
  return scope && within(q, scope->leads, leadBoxes, leadsAll, scope->leadTol);
}

bool SuppressIndex::nearNetwork(const Pt& q) const {
  return scope && within(q, scope->network, networkBoxes, networkAll, scope->networkTol);
}

}  // namespace orvel
