#include "server/maps.h"

#include <cmath>
#include <utility>

#include "net/text.h"

namespace lumo {

using nlohmann::json;

std::string publisherName(const std::string& published) { return net::printable(published); }

namespace {

// Walks one document. A fault is a value the format cannot stand for; the
// first one found stops the reading and is reported.
struct Reader {
  std::string fault;
  std::string where;  // the airport being read, for the fault text

  bool fail(const std::string& what) {
    if (fault.empty()) fault = what + (where.empty() ? "" : " at " + where);
    return false;
  }

  // A coordinate: read as a number, so anything else is unreadable. Huge
  // literals can parse to infinity, which no distance test survives.
  bool coord(const json& v, double& out) {
    if (!v.is_number()) return fail("a coordinate is not a number");
    out = v.get<double>();
    if (!std::isfinite(out)) return fail("a coordinate is not finite");
    return true;
  }

  // Adds the point a member stands for, when it stands for one. False only
  // on a fault.
  bool addPoint(const json& m, std::vector<orvel::Pt>& line) {
    if (!m.is_array() || m.size() < 2) return true;  // skipped
    double lat = 0, lon = 0;
    if (!coord(m[0], lat) || !coord(m[1], lon)) return false;
    line.push_back(orvel::Pt{lat, lon});
    return true;
  }

  bool fill(const json& entry, orveldb::AirportScope& scope) {
    using Rec = std::decay_t<decltype(scope.barx)>::value_type::value_type;
    auto bars = entry.find("bars");
    auto barx = entry.find("barx");
    if (bars != entry.end() && bars->is_array()) {
      const json* extents = (barx != entry.end() && barx->is_array()) ? &*barx : nullptr;
      for (size_t i = 0; i < bars->size(); ++i) {
        const json& bar = (*bars)[i];
        if (!bar.is_array()) continue;
        std::vector<orvel::Pt> pts;
        for (const json& m : bar)
          if (!addPoint(m, pts)) return false;
        if (pts.size() < 2) continue;  // dropped with its extents, so indexes stay paired
        std::vector<Rec> recs;
        if (extents && extents->size() > i && (*extents)[i].is_array()) {
          for (const json& r : (*extents)[i]) {
            if (!r.is_array() || r.size() < 4) continue;
            bool numbers = true;
            double v[4];
            for (int k = 0; k < 4 && numbers; ++k) {
              numbers = r[k].is_number();
              if (numbers) v[k] = r[k].get<double>();
              if (numbers && !std::isfinite(v[k])) numbers = false;
            }
            if (numbers) recs.push_back(Rec{v[0], v[1], v[2], v[3]});
          }
        }
        scope.bars.push_back(std::move(pts));
        scope.barx.push_back(std::move(recs));
      }
    }
    auto lead = entry.find("lead");
    if (lead != entry.end() && lead->is_array()) {
      for (const json& line : *lead) {
        std::vector<orvel::Pt> pts;
        // An array's elements, or an object's member values in key order.
        if (line.is_array() || line.is_object())
          for (const json& m : line)
            if (!addPoint(m, pts)) return false;
        if (pts.size() >= 2) scope.lead.push_back(std::move(pts));
      }
    }
    return true;
  }
};

}  // namespace

bool parseGeometry(const json& document, Geometry& geometry, std::string* fault) {
  if (!document.is_object()) return false;
  auto airports = document.find("airports");
  if (airports == document.end()) return false;

  Reader rd;
  std::string rev;
  if (auto r = document.find("rev"); r != document.end()) {
    if (!r->is_string()) {
      if (fault) *fault = "the revision is not a string";
      return false;
    }
    rev = r->get<std::string>();
  }

  // Read into a scratch copy so that an unreadable document leaves the
  // caller's maps as they were.
  std::vector<std::pair<std::string, AirportGeom>> kept;
  int bars = 0, leads = 0, variants = 0;
  if (airports->is_object()) {
    for (auto it = airports->begin(); it != airports->end(); ++it) {
      rd.where = "airport " + it.key();
      if (!it->is_object()) {
        rd.fail("an airport entry is not an object");
        break;
      }
      AirportGeom g;
      if (!rd.fill(*it, g.base)) break;
      auto vars = it->find("variants");
      if (vars != it->end() && vars->is_object()) {
        for (auto v = vars->begin(); v != vars->end(); ++v) {
          if (!v->is_object()) {
            rd.fail("the variant " + v.key() + " is not an object");
            break;
          }
          orveldb::AirportScope scope;
          if (!rd.fill(*v, scope)) break;
          if (scope.bars.empty() && scope.lead.empty()) continue;
          g.variants[publisherName(v.key())] = std::move(scope);
        }
        if (!rd.fault.empty()) break;
      }
      if (g.base.bars.empty() && g.base.lead.empty() && g.variants.empty()) continue;
      variants += static_cast<int>(g.variants.size());
      bars += static_cast<int>(g.base.bars.size());
      leads += static_cast<int>(g.base.lead.size());
      kept.emplace_back(it.key(), std::move(g));
    }
  }
  if (!rd.fault.empty()) {
    if (fault) *fault = rd.fault;
    return false;
  }

  geometry.rev = std::move(rev);
  for (auto& [code, g] : kept) geometry.airports[code] = std::move(g);
  geometry.barCount += bars;
  geometry.leadCount += leads;
  geometry.variantCount += variants;
  return !geometry.airports.empty();
}

}  // namespace lumo
