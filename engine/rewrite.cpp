#include "engine/rewrite.h"

#include <cmath>

namespace orvel {

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

bool splitBlockLights(std::vector<std::string>& rows, const SuppressScope& scope, int& splits) {
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

}  // namespace orvel
