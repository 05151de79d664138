// Today's block rewrite and taken runs exactly as they stood before the two
// were merged into one walk (engine/lightwalk.h), kept here only so the
// property test can hold the new walk against them. Number reading is the
// C library's, through strtod_l/strtol_l, as it was.
#include "walk_reference.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace ref {

using orvel::Node;
using orvel::Pt;
using orvel::SuppressIndex;
using orvel::SuppressScope;
using orvel::bezSegment;
using orvel::kMetresPerDeg;
using orvel::kPi;
using orvel::metresPerDegLon;
using orvel::tok;

namespace {

locale_t cLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

}  // namespace

double numC(const std::string& s) {
  locale_t loc = cLocale();
  if (loc) return strtod_l(s.c_str(), nullptr, loc);
  return std::strtod(s.c_str(), nullptr);
}

long intC(const std::string& s) {
  locale_t loc = cLocale();
  if (loc) return strtol_l(s.c_str(), nullptr, 10, loc);
  return std::strtol(s.c_str(), nullptr, 10);
}

Node parseNode(const std::vector<std::string>& t) {
  Node n;
  if (t.empty()) return n;
  const std::string& c = t[0];
  n.bezier = c == "112" || c == "114" || c == "116";
  n.ends = c == "113" || c == "114" || c == "115" || c == "116";
  n.closes = c == "113" || c == "114";
  if (t.size() > 1) n.p.lat = numC(t[1]);
  if (t.size() > 2) n.p.lon = numC(t[2]);
  std::size_t from = 3;
  if (n.bezier) {
    if (t.size() <= 4) return n;
    n.ctl.lat = numC(t[3]);
    n.ctl.lon = numC(t[4]);
    from = 5;
  }
  for (std::size_t i = from; i < t.size(); ++i) {
    long v = intC(t[i]);
    if (v >= 100 && v <= 199) n.light = static_cast<int32_t>(v);
  }
  return n;
}


namespace rw {
namespace {

constexpr int kPieces = 8;

bool isNodeCode(const std::string& c) {
  return c.size() == 3 && c[0] == '1' && c[1] == '1' && c[2] >= '1' && c[2] <= '6';
}

bool curvedCode(const std::string& c) { return c == "112" || c == "114"; }

std::string joinTokens(const std::vector<std::string>& t, std::size_t from, std::size_t to) {
  std::string s;
  for (std::size_t i = from; i < to && i < t.size(); ++i) {
    if (!s.empty()) s += ' ';
    s += t[i];
  }
  return s;
}

// The row that ends a stretch at the node where the next stretch starts.
std::string terminator(const std::vector<std::string>& t) {
  if (curvedCode(t[0])) {
    std::string rest = joinTokens(t, 1, 5);
    return rest.empty() ? "116" : "116 " + rest;
  }
  std::string rest = joinTokens(t, 1, 3);
  return rest.empty() ? "115" : "115 " + rest;
}

// The row with its taken light codes left out. Tokens before the attribute
// position are coordinates and are never compared, whatever they read as.
std::string withoutLights(const std::vector<std::string>& t, int flag) {
  const std::size_t from = curvedCode(t[0]) ? 5 : 3;
  std::string s;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const std::string& x = t[i];
    if (i >= from) {
      if (x == "101" || x == "105") continue;
      if ((flag & 1) && (x == "103" || x == "104")) continue;
    }
    if (i) s += ' ';
    s += x;
  }
  return s;
}

double pieceLength(const Pt& a, const Pt& b) {
  return std::hypot((b.lat - a.lat) * kMetresPerDeg, (b.lon - a.lon) * metresPerDegLon(a.lat));
}

struct Feature {
  bool open = false;
  std::string header;
  std::vector<std::string> rows;
  std::vector<std::vector<std::string>> toks;
};

class BlockRewriter {
 public:
  explicit BlockRewriter(const SuppressScope& s) { idx_.build(s); }

  void finish(std::vector<std::string>& out, bool& changed, int& splits) {
    if (!f_.open) {
      for (auto& r : f_.rows) out.push_back(std::move(r));
    } else if (!rewriteFeature(out, splits)) {
      out.push_back(std::move(f_.header));
      for (auto& r : f_.rows) out.push_back(std::move(r));
    } else {
      changed = true;
    }
    f_ = Feature{};
  }

  Feature& feature() { return f_; }

 private:
  // Writes the rewritten feature and returns true, or returns false having
  // written nothing when the feature stays as it is.
  bool rewriteFeature(std::vector<std::string>& out, int& splits) {
    const std::size_t n = f_.rows.size();
    if (n < 2) return false;
    std::vector<Node> nodes(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (f_.toks[i].size() <= 2) return false;
      nodes[i] = parseNode(f_.toks[i]);
    }

    // A feature none of whose segments carries a code the plugin draws keeps
    // every decision at 0 whatever the geometry: skip its queries (most
    // features are painted lines).
    {
      bool lit = false;
      int carried = -1;
      for (std::size_t k = 0; k + 1 < n && !lit; ++k) {
        const Node& nd = nodes[k];
        if ((!nd.ends || nd.closes) && nd.light >= 100 && nd.light <= 199) carried = nd.light;
        lit = carried == 101 || carried == 103 || carried == 104 || carried == 105;
      }
      if (!lit) return false;
    }

    std::vector<int> mask(n - 1, 0);
    double total = 0, barLen = 0;
    std::vector<Pt> pts;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      pts.clear();
      pts.push_back(nodes[k].p);
      bezSegment(nodes[k], nodes[k + 1], pts, kPieces);
      int m = 0;
      if (pts.size() == 2) {
        const Pt mid{(pts[0].lat + pts[1].lat) / 2, (pts[0].lon + pts[1].lon) / 2};
        if (idx_.inBar(mid)) m |= 1;
        if (idx_.nearLead(mid) || idx_.nearNetwork(mid)) m |= 2;
      } else {
        int pieces = 0, covered = 0, inBar = 0;
        for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
          const Pt mid{(pts[i].lat + pts[i + 1].lat) / 2, (pts[i].lon + pts[i + 1].lon) / 2};
          ++pieces;
          const bool b = idx_.inBar(mid);
          if (b) ++inBar;
          if (b || idx_.nearLead(mid) || idx_.nearNetwork(mid)) ++covered;
        }
        if (2 * covered > pieces) m |= 2;
        if (2 * inBar > pieces) m |= 1;
      }
      double len = 0;
      for (std::size_t i = 0; i + 1 < pts.size(); ++i) len += pieceLength(pts[i], pts[i + 1]);
      total += len;
      if (m & 1) barLen += len;
      mask[k] = m;
    }
    const bool mostlyBar = total > 0 && 2 * barLen > total;

    std::vector<int> dec(n - 1, 0);
    bool any = false;
    int carried = -1;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const Node& nd = nodes[k];
      if ((!nd.ends || nd.closes) && nd.light >= 100 && nd.light <= 199) carried = nd.light;
      const int m = mask[k];
      int d = 0;
      if (m == 0) {
        d = 0;
      } else if (carried == 103 || carried == 104) {
        d = (m & 1) ? m : 0;
      } else if (carried == 101 || carried == 105) {
        if (m & 2) d = m;
        else if (m & 1) d = mostlyBar ? m : 0;
      }
      dec[k] = d;
      if (d) any = true;
    }
    if (!any) return false;

    out.push_back(f_.header);
    for (std::size_t m = 0; m < n; ++m) {
      int flag;
      if (m == n - 1) {
        flag = dec[n - 2];
      } else if (m == 0) {
        flag = dec[0];
      } else {
        flag = dec[m];
        if (dec[m - 1] != dec[m]) {
          out.push_back(terminator(f_.toks[m]));
          out.push_back(f_.header);
          ++splits;
        }
      }
      if (flag == 0) out.push_back(std::move(f_.rows[m]));
      else out.push_back(withoutLights(f_.toks[m], flag));
    }
    return true;
  }

  SuppressIndex idx_;
  Feature f_;
};

}  // namespace

bool splitBlockLightsImpl(std::vector<std::string>& rows, const SuppressScope& scope, int& splits) {
  splits = 0;
  BlockRewriter rw(scope);
  std::vector<std::string> out;
  out.reserve(rows.size() + 8);
  bool changed = false;
  for (const std::string& row : rows) {
    std::vector<std::string> t = tok(row);
    Feature& f = rw.feature();
    if (t.empty()) {
      rw.finish(out, changed, splits);
      out.push_back(row);
    } else if (t[0] == "120") {
      rw.finish(out, changed, splits);
      rw.feature().open = true;
      rw.feature().header = row;
    } else if (!f.open) {
      out.push_back(row);
    } else if (isNodeCode(t[0])) {
      f.rows.push_back(row);
      f.toks.push_back(std::move(t));
    } else {
      rw.finish(out, changed, splits);
      out.push_back(row);
    }
  }
  rw.finish(out, changed, splits);
  if (changed) rows.swap(out);
  return changed;
}

}  // namespace rw

bool splitBlockLights(std::vector<std::string>& rows, const SuppressScope& scope, int& splits) {
  return rw::splitBlockLightsImpl(rows, scope, splits);
}

namespace tk {
using orveldb::TakenRun;
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
  for (const auto& t : rows) nodes.push_back(ref::parseNode(t));

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

std::vector<TakenRun> takenByPassImpl(const std::vector<std::string>& rows,
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

}  // namespace tk

std::vector<orveldb::TakenRun> takenByPass(const std::vector<std::string>& rows, const SuppressScope& scope) {
  return tk::takenByPassImpl(rows, scope);
}

}  // namespace ref
