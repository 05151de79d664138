#include "engine/taken.h"

#include <cmath>

#include "scenery/files.h"

namespace orveldb {

namespace {

using orvel::Node;
using orvel::Pt;

constexpr int kPieces = 8;

bool isNodeCode(const std::string& c) {
  return c.size() == 3 && c[0] == '1' && c[1] == '1' && c[2] >= '1' && c[2] <= '6';
}

bool takenCode(int c) { return c == 101 || c == 103 || c == 104 || c == 105; }

bool samePt(const Pt& a, const Pt& b) {
  return std::fabs(a.lat - b.lat) < 1e-9 && std::fabs(a.lon - b.lon) < 1e-9;
}

void featureRuns(const std::vector<std::vector<std::string>>& rows, const orvel::SuppressIndex& idx,
                 std::vector<TakenRun>& out) {
  const std::size_t n = rows.size();
  if (n < 2) return;
  for (const auto& t : rows)
    if (t.size() <= 2) return;
  std::vector<Node> nodes;
  nodes.reserve(n);
  for (const auto& t : rows) nodes.push_back(orvel::parseNode(t));

  // Flatten into points P with a code per piece P[i] -> P[i+1].
  std::vector<Pt> P;
  std::vector<int> code;
  std::vector<Pt> seg;
  int carried = -1;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const Node& nd = nodes[k];
    if ((!nd.ends || nd.closes) && nd.light >= 100 && nd.light <= 199) carried = nd.light;
    seg.clear();
    seg.push_back(nd.p);
    orvel::bezSegment(nd, nodes[k + 1], seg, kPieces);
    for (std::size_t i = 0; i + 1 < seg.size(); ++i) {
      P.push_back(seg[i]);
      code.push_back(carried);
    }
  }
  P.push_back(nodes[n - 1].p);
  code.push_back(carried);
  const std::size_t N = P.size();
  // Nothing to take from a feature without a drawn code: skip its queries.
  bool lit = false;
  for (int c : code) lit = lit || takenCode(c);
  if (!lit) return;

  const std::size_t pieces = N - 1;
  std::vector<char> inBar(pieces), takeable(pieces), netOnly(pieces), zero(pieces);
  double total = 0, barLen = 0;
  std::vector<Pt> mids(pieces);
  for (std::size_t i = 0; i < pieces; ++i) {
    const Pt& a = P[i];
    const Pt& b = P[i + 1];
    const double len = std::hypot((b.lat - a.lat) * orvel::kMetresPerDeg,
                                  std::cos(a.lat * orvel::kPi / 180.0) * orvel::kMetresPerDeg * (b.lon - a.lon));
    mids[i] = {(a.lat + b.lat) / 2, (a.lon + b.lon) / 2};
    inBar[i] = idx.inBar(mids[i]);
    total += len;
    if (inBar[i]) barLen += len;
    zero[i] = std::fabs(b.lat - a.lat) < 1e-9 && std::fabs(b.lon - a.lon) < 1e-9;
  }
  const bool mostlyBar = total > 0 && 2 * barLen > total;
  for (std::size_t i = 0; i < pieces; ++i) {
    const int ch = code[i];
    const bool lead = idx.nearLead(mids[i]);
    if (ch == 103 || ch == 104) takeable[i] = inBar[i];
    else if (ch == 101 || ch == 105)
      takeable[i] = lead || idx.nearNetwork(mids[i]) || (mostlyBar && inBar[i]);
    netOnly[i] = !inBar[i] && !lead;
  }

  std::size_t i = 0;
  while (i + 1 < N) {
    if (!takenCode(code[i]) || zero[i] || !takeable[i]) {
      ++i;
      continue;
    }
    TakenRun run;
    run.code = code[i];
    run.networkOnly = netOnly[i];
    run.pts.push_back(P[i]);
    std::size_t b = N - 1;
    for (std::size_t j = i + 1; j < N; ++j) {
      const std::size_t pc = j - 1;
      if (code[pc] != run.code || !takeable[pc] || static_cast<bool>(netOnly[pc]) != run.networkOnly) {
        b = pc;
        break;
      }
      if (!samePt(P[j], run.pts.back())) run.pts.push_back(P[j]);
    }
    if (run.pts.size() >= 2) out.push_back(std::move(run));
    i = b > i ? b : i + 1;
  }
}

}  // namespace

std::vector<TakenRun> takenByPass(const std::vector<std::string>& rows,
                                  const orvel::SuppressScope& scope) {
  orvel::SuppressIndex idx;
  idx.build(scope);
  std::vector<TakenRun> out;
  std::vector<std::vector<std::string>> feature;
  bool open = false;
  for (const std::string& row : rows) {
    std::vector<std::string> t = orvel::tok(row);
    if (!t.empty() && isNodeCode(t[0])) {
      if (open) feature.push_back(std::move(t));
      continue;
    }
    if (open) featureRuns(feature, idx, out);
    feature.clear();
    open = !t.empty() && t[0] == "120";
  }
  if (open) featureRuns(feature, idx, out);
  return out;
}

}  // namespace orveldb

namespace lumo {

namespace {

double round7(double x) {
  const double r = std::round(x * 1e7) / 1e7;
  // Beyond about 9e300 the scaling overflows; such a value is nonsense but
  // must not turn into null in the record.
  return std::isfinite(r) ? r : x;
}

}  // namespace

std::string takenJson(const std::string& rev, const orveldb::TakenMap& taken) {
  nlohmann::json airports = nlohmann::json::object();
  for (const auto& [code, runs] : taken) {
    nlohmann::json arr = nlohmann::json::array();
    for (const orveldb::TakenRun& r : runs) {
      nlohmann::json pts = nlohmann::json::array();
      for (const orvel::Pt& p : r.pts) pts.push_back({round7(p.lat), round7(p.lon)});
      nlohmann::json o = nlohmann::json::object();
      o["c"] = r.code;
      if (r.networkOnly) o["f"] = 1;
      o["p"] = std::move(pts);
      arr.push_back(std::move(o));
    }
    airports[code] = std::move(arr);
  }
  nlohmann::json j = nlohmann::json::object();
  j["airports"] = std::move(airports);
  j["rev"] = rev;
  // dumpJson escapes bytes that are not UTF-8 reversibly and never throws;
  // its keys come out sorted by byte because json objects are std::map.
  return dumpJson(j, -1);
}

bool writeTaken(const std::string& dir, const std::string& rev, const orveldb::TakenMap& taken,
                std::string* err) {
  const std::string path = dir + "/tlm_taken.json";
  if (!writeFileOver(path, takenJson(rev, taken))) {
    if (err) *err = "could not write " + path;
    return false;
  }
  return true;
}

}  // namespace lumo
