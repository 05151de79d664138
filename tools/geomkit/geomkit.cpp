#include "tools/geomkit/geomkit.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>

#include "engine/blocks.h"
#include "engine/geo.h"

namespace geomkit {

namespace {

using orvel::Line;
using orvel::Lines;
using orvel::Node;
using orvel::Pt;

bool isNodeRow(const std::vector<std::string>& t) {
  const std::string& c = t[0];
  return c.size() == 3 && c[0] == '1' && c[1] == '1' && c[2] >= '1' && c[2] <= '6';
}

bool finite(const Pt& p) { return std::isfinite(p.lat) && std::isfinite(p.lon); }

struct Stretch {
  int code;
  Line pts;
};

// Cuts one feature into maximal stretches of pieces that carry the same
// light code, flattened the way the engine flattens them.
void featureStretches(const std::vector<std::vector<std::string>>& rows, std::vector<Stretch>& out) {
  if (rows.size() < 2) return;
  for (const auto& t : rows)
    if (t.size() <= 2) return;
  std::vector<Node> nodes;
  for (const auto& t : rows) nodes.push_back(orvel::parseNode(t));
  int carried = -1;
  Stretch cur{-1, {}};
  auto flush = [&]() {
    if (cur.code > 0 && cur.pts.size() >= 2) out.push_back(cur);
    cur.pts.clear();
  };
  std::vector<Pt> seg;
  for (std::size_t k = 0; k + 1 < nodes.size(); ++k) {
    const Node& nd = nodes[k];
    if ((!nd.ends || nd.closes) && nd.light >= 100 && nd.light <= 199) carried = nd.light;
    seg.clear();
    seg.push_back(nd.p);
    orvel::bezSegment(nd, nodes[k + 1], seg, 8);
    if (carried != cur.code) {
      flush();
      cur.code = carried;
    }
    for (std::size_t i = 0; i + 1 < seg.size(); ++i) {
      if (!finite(seg[i]) || !finite(seg[i + 1])) {
        flush();
        continue;
      }
      if (cur.pts.empty()) cur.pts.push_back(seg[i]);
      cur.pts.push_back(seg[i + 1]);
    }
  }
  flush();
}

bool nearAny(const Line& l, const Lines& bars, double nearM) {
  for (const Pt& p : l)
    for (const Line& b : bars)
      for (std::size_t j = 0; j + 1 < b.size(); ++j)
        if (orvel::segDist(p, b[j], b[j + 1]) <= nearM) return true;
  return false;
}

}  // namespace

long litNodeRows(const std::vector<std::string>& rows) {
  long n = 0;
  for (const std::string& r : rows) {
    if (r.size() < 4 || r[0] != '1' || r[1] != '1') continue;
    std::vector<std::string> t = orvel::tok(r);
    if (t.size() < 3 || !isNodeRow(t)) continue;
    const int light = orvel::parseNode(t).light;
    if (light >= 101 && light <= 108) ++n;
  }
  return n;
}

orveldb::AirportScope deriveBlock(const std::vector<std::string>& rows, double nearM) {
  std::vector<Stretch> stretches;
  std::vector<std::vector<std::string>> feature;
  bool open = false;
  for (const std::string& r : rows) {
    std::vector<std::string> t = orvel::tok(r);
    if (!t.empty() && isNodeRow(t)) {
      if (open) feature.push_back(std::move(t));
      continue;
    }
    if (open) featureStretches(feature, stretches);
    feature.clear();
    open = !t.empty() && t[0] == "120";
  }
  if (open) featureStretches(feature, stretches);

  orveldb::AirportScope s;
  for (const Stretch& st : stretches)
    if (st.code == 103 || st.code == 104) s.bars.push_back(st.pts);
  s.barx.assign(s.bars.size(), {});
  for (const Stretch& st : stretches) {
    if (st.code != 101 && st.code != 105) continue;
    if (nearAny(st.pts, s.bars, nearM)) s.lead.push_back(st.pts);
    else s.network.push_back(st.pts);
  }
  return s;
}

bool deriveFile(const std::string& path, orveldb::ScopeMap& out, std::string& err,
                const std::set<std::string>* only, double nearM) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = "cannot open " + path;
    return false;
  }
  bool ok = orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
    if (only && !only->count(code)) return true;
    orveldb::AirportScope s = deriveBlock(rows, nearM);
    if (!s.bars.empty() || !s.lead.empty() || !s.network.empty()) out[code] = std::move(s);
    return true;
  });
  if (!ok) {
    err = "read error in " + path;
    return false;
  }
  return true;
}

bool rankByLit(const std::string& path, std::vector<std::pair<std::string, long>>& out,
               std::string& err, std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = "cannot open " + path;
    return false;
  }
  std::map<std::string, long> counts;
  bool ok = orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
    const long c = litNodeRows(rows);
    // A code met twice counts as its last block, the one a rewrite would see last.
    if (c > 0) counts[code] = c;
    else counts.erase(code);
    return true;
  });
  if (!ok) {
    err = "read error in " + path;
    return false;
  }
  out.assign(counts.begin(), counts.end());
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (n && out.size() > n) out.resize(n);
  return true;
}

nlohmann::json linesJson(const orvel::Lines& lines) {
  nlohmann::json arr = nlohmann::json::array();
  for (const Line& l : lines) {
    nlohmann::json pts = nlohmann::json::array();
    for (const Pt& p : l) pts.push_back({p.lat, p.lon});
    arr.push_back(std::move(pts));
  }
  return arr;
}

nlohmann::json mapEntryJson(const orveldb::AirportScope& s) {
  nlohmann::json barx = nlohmann::json::array();
  for (std::size_t i = 0; i < s.bars.size(); ++i) {
    nlohmann::json recs = nlohmann::json::array();
    if (i < s.barx.size())
      for (const auto& r : s.barx[i]) recs.push_back({r[0], r[1], r[2], r[3]});
    barx.push_back(std::move(recs));
  }
  return {{"bars", linesJson(s.bars)}, {"barx", std::move(barx)}, {"lead", linesJson(s.lead)}};
}

}  // namespace geomkit
