#include "engine/lightwalk.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvel {

namespace {

constexpr int kPieces = 8;

bool isNodeCode(std::string_view c) {
  return c.size() == 3 && c[0] == '1' && c[1] == '1' && c[2] >= '1' && c[2] <= '6';
}

bool curvedCode(std::string_view c) { return c == "112" || c == "114"; }

bool takenCode(int c) { return c == 101 || c == 103 || c == 104 || c == 105; }

bool sameBits(const Pt& a, const Pt& b) { return std::memcmp(&a, &b, sizeof(Pt)) == 0; }

bool samePt(const Pt& a, const Pt& b) {
  return std::fabs(a.lat - b.lat) < 1e-9 && std::fabs(a.lon - b.lon) < 1e-9;
}

// A piece's length as the rewrite measures it (longitude scaled at the
// piece's first point through metresPerDegLon).
double rewriteLength(const Pt& a, const Pt& b) {
  return std::hypot((b.lat - a.lat) * kMetresPerDeg, (b.lon - a.lon) * metresPerDegLon(a.lat));
}

// The same length as the taken record measures it. The factors are grouped
// differently from rewriteLength, which can differ in the last bit; each
// result keeps its own.
double takenLength(const Pt& a, const Pt& b) {
  return std::hypot((b.lat - a.lat) * kMetresPerDeg, std::cos(a.lat * kPi / 180.0) * kMetresPerDeg * (b.lon - a.lon));
}

// One point asked of the index; each answer is worked out at most once.
struct Query {
  Pt m;
  int8_t bar = -1, lead = -1, net = -1;
};

}  // namespace

struct LightWalk::Impl {
  SuppressIndex idx;
  std::vector<std::string_view> toks;  // the row being read

  // The open feature: its header and node rows, their tokens back to back.
  bool open = false;
  std::string_view header;
  std::vector<std::string_view> rows;
  std::vector<std::string_view> ftoks;
  std::vector<std::size_t> fstart;

  // The feature worked out: nodes, the light code carried into each
  // segment, and its pieces. Piece i runs from pa[i] to pbR[i] as the
  // rewrite flattens it; the record ends each segment's last piece at the
  // next node's position itself (pbT), which is the same point unless the
  // curve's arithmetic rounded it.
  std::vector<Node> nodes;
  std::vector<int> carried;
  std::vector<std::size_t> segFirst;  // first piece of each segment, then the piece count
  std::vector<Pt> seg, pa, pbR, pbT;
  std::vector<std::uint32_t> pseg;    // the segment of each piece
  std::vector<std::uint32_t> qR, qT;  // the query of each piece's midpoint, per rule
  std::vector<Query> q;
  std::vector<int> mask, dec;
  std::vector<int8_t> takeable;
  std::string scratch;

  // Outputs of the block being walked.
  std::string* out = nullptr;
  std::vector<std::size_t>* ends = nullptr;
  std::vector<orveldb::TakenRun>* runs = nullptr;
  bool changed = false;
  int splits = 0;

  bool bar(std::uint32_t i) {
    Query& x = q[i];
    if (x.bar < 0) x.bar = idx.inBar(x.m);
    return x.bar;
  }
  bool lead(std::uint32_t i) {
    Query& x = q[i];
    if (x.lead < 0) x.lead = idx.nearLead(x.m);
    return x.lead;
  }
  bool net(std::uint32_t i) {
    Query& x = q[i];
    if (x.net < 0) x.net = idx.nearNetwork(x.m);
    return x.net;
  }
  std::uint32_t query(const Pt& a, const Pt& b) {
    q.push_back(Query{{(a.lat + b.lat) / 2, (a.lon + b.lon) / 2}});
    return static_cast<std::uint32_t>(q.size() - 1);
  }

  void emit(std::string_view r) {
    if (!out) return;
    out->append(r.data(), r.size());
    if (ends) ends->push_back(out->size());
    out->push_back('\n');
  }

  const std::string_view* tokensOf(std::size_t m) const { return ftoks.data() + fstart[m]; }
  std::size_t tokenCount(std::size_t m) const {
    return (m + 1 < fstart.size() ? fstart[m + 1] : ftoks.size()) - fstart[m];
  }

  void walk(const std::vector<std::string_view>& block, const SuppressScope& scope) {
    idx.build(scope);
    for (std::string_view row : block) {
      tokView(row, toks);
      if (toks.empty()) {
        finish();
        emit(row);
      } else if (toks[0] == "120") {
        finish();
        open = true;
        header = row;
      } else if (!open) {
        emit(row);
      } else if (isNodeCode(toks[0])) {
        rows.push_back(row);
        fstart.push_back(ftoks.size());
        ftoks.insert(ftoks.end(), toks.begin(), toks.end());
      } else {
        finish();
        emit(row);
      }
    }
    finish();
  }

  void finish() {
    if (open && !feature()) {
      emit(header);
      for (std::string_view r : rows) emit(r);
    }
    open = false;
    rows.clear();
    ftoks.clear();
    fstart.clear();
  }

  // Works out the open feature. Returns true when it wrote the feature
  // rewritten; false leaves writing it as it was to the caller.
  bool feature() {
    const std::size_t n = rows.size();
    if (n < 2) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (tokenCount(i) <= 2) return false;
    nodes.resize(n);
    for (std::size_t i = 0; i < n; ++i) nodes[i] = parseNode(tokensOf(i), tokenCount(i));

    // The light code each segment carries: a node's own code is picked up
    // unless the node ends the line (a closing node passes its code on). A
    // feature none of whose segments carries a code the plugin draws has
    // nothing to take whatever the geometry: skip its queries (most
    // features are painted lines).
    carried.resize(n - 1);
    bool lit = false;
    int c = -1;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const Node& nd = nodes[k];
      if ((!nd.ends || nd.closes) && nd.light >= 100 && nd.light <= 199) c = nd.light;
      carried[k] = c;
      lit = lit || takenCode(c);
    }
    if (!lit) return false;

    // Pieces: a straight segment is one, a curved one eight.
    pa.clear();
    pbR.clear();
    pbT.clear();
    qR.clear();
    qT.clear();
    pseg.clear();
    q.clear();
    segFirst.clear();
    for (std::size_t k = 0; k + 1 < n; ++k) {
      segFirst.push_back(pa.size());
      seg.clear();
      seg.push_back(nodes[k].p);
      bezSegment(nodes[k], nodes[k + 1], seg, kPieces);
      const std::size_t m = seg.size() - 1;
      for (std::size_t j = 0; j < m; ++j) {
        const Pt& a = seg[j];
        const Pt& bR = seg[j + 1];
        const Pt& bT = j + 1 < m ? seg[j + 1] : nodes[k + 1].p;
        pa.push_back(a);
        pbR.push_back(bR);
        pbT.push_back(bT);
        pseg.push_back(static_cast<std::uint32_t>(k));
        const std::uint32_t r = query(a, bR);
        qR.push_back(r);
        qT.push_back(sameBits(bR, bT) ? r : query(a, bT));
      }
    }
    segFirst.push_back(pa.size());

    if (runs) takenRuns();
    return out ? rewrite() : false;
  }

  // The segment-wise rewrite: one decision per segment, the feature split
  // wherever the decision changes.
  bool rewrite() {
    const std::size_t n = rows.size();
    mask.assign(n - 1, 0);
    double total = 0, barLen = 0;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const std::size_t p0 = segFirst[k], p1 = segFirst[k + 1];
      int m = 0;
      if (p1 - p0 == 1) {
        if (bar(qR[p0])) m |= 1;
        if (lead(qR[p0]) || net(qR[p0])) m |= 2;
      } else {
        // A curved segment goes by the majority of its pieces; a piece in
        // a bar box counts as covered too.
        int pieces = 0, covered = 0, inBar = 0;
        for (std::size_t i = p0; i < p1; ++i) {
          ++pieces;
          const bool b = bar(qR[i]);
          if (b) ++inBar;
          if (b || lead(qR[i]) || net(qR[i])) ++covered;
        }
        if (2 * covered > pieces) m |= 2;
        if (2 * inBar > pieces) m |= 1;
      }
      double len = 0;
      for (std::size_t i = p0; i < p1; ++i) len += rewriteLength(pa[i], pbR[i]);
      total += len;
      if (m & 1) barLen += len;
      mask[k] = m;
    }
    // Mostly bar, by segment: the length of the segments whose bar bit is set.
    const bool mostlyBar = total > 0 && 2 * barLen > total;

    dec.assign(n - 1, 0);
    bool any = false;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const int m = mask[k];
      const int ch = carried[k];
      int d = 0;
      if (m == 0) {
        d = 0;
      } else if (ch == 103 || ch == 104) {
        d = (m & 1) ? m : 0;
      } else if (ch == 101 || ch == 105) {
        if (m & 2) d = m;
        else if (m & 1) d = mostlyBar ? m : 0;
      }
      dec[k] = d;
      if (d) any = true;
    }
    if (!any) return false;

    changed = true;
    emit(header);
    for (std::size_t m = 0; m < n; ++m) {
      int flag;
      if (m == n - 1) {
        flag = dec[n - 2];
      } else if (m == 0) {
        flag = dec[0];
      } else {
        flag = dec[m];
        if (dec[m - 1] != dec[m]) {
          emitTerminator(m);
          emit(header);
          ++splits;
        }
      }
      if (flag == 0) emit(rows[m]);
      else emitWithoutLights(m, flag);
    }
    return true;
  }

  // The row that ends a stretch at the node where the next stretch starts.
  void emitTerminator(std::size_t m) {
    const std::string_view* t = tokensOf(m);
    const std::size_t size = tokenCount(m);
    const bool curved = curvedCode(t[0]);
    const std::size_t to = curved ? 5 : 3;
    scratch.assign(curved ? "116" : "115");
    for (std::size_t i = 1; i < to && i < size; ++i) {
      scratch += ' ';
      scratch.append(t[i].data(), t[i].size());
    }
    emit(scratch);
  }

  // The row with its taken light codes left out. Tokens before the
  // attribute position are coordinates and are never compared, whatever
  // they read as.
  void emitWithoutLights(std::size_t m, int flag) {
    const std::string_view* t = tokensOf(m);
    const std::size_t size = tokenCount(m);
    const std::size_t from = curvedCode(t[0]) ? 5 : 3;
    scratch.clear();
    for (std::size_t i = 0; i < size; ++i) {
      const std::string_view x = t[i];
      if (i >= from) {
        if (x == "101" || x == "105") continue;
        if ((flag & 1) && (x == "103" || x == "104")) continue;
      }
      if (i) scratch += ' ';
      scratch.append(x.data(), x.size());
    }
    emit(scratch);
  }

  // The piece-wise record: stretches of pieces with the same code, each
  // piece taken on its own, split where the code, the takeability or the
  // network-only value changes.
  bool takeableAt(std::size_t i, bool mostlyBar) {
    if (takeable[i] < 0) {
      const int ch = codeAt(i);
      bool t = false;
      if (ch == 103 || ch == 104) t = bar(qT[i]);
      else if (ch == 101 || ch == 105) t = lead(qT[i]) || net(qT[i]) || (mostlyBar && bar(qT[i]));
      takeable[i] = t;
    }
    return takeable[i];
  }
  bool netOnlyAt(std::size_t i) { return !bar(qT[i]) && !lead(qT[i]); }
  int codeAt(std::size_t i) const { return carried[pseg[i]]; }
  // Point j of the record's flattened feature.
  const Pt& point(std::size_t j) const { return j < pa.size() ? pa[j] : nodes.back().p; }

  void takenRuns() {
    const std::size_t pieces = pa.size();
    const std::size_t N = pieces + 1;
    // Mostly bar, by piece: the length of the pieces whose midpoint is in a box.
    double total = 0, barLen = 0;
    for (std::size_t i = 0; i < pieces; ++i) {
      const double len = takenLength(pa[i], pbT[i]);
      total += len;
      if (bar(qT[i])) barLen += len;
    }
    const bool mostlyBar = total > 0 && 2 * barLen > total;
    takeable.assign(pieces, -1);

    std::size_t i = 0;
    while (i + 1 < N) {
      const bool zero = std::fabs(pbT[i].lat - pa[i].lat) < 1e-9 && std::fabs(pbT[i].lon - pa[i].lon) < 1e-9;
      if (!takenCode(codeAt(i)) || zero || !takeableAt(i, mostlyBar)) {
        ++i;
        continue;
      }
      orveldb::TakenRun run;
      run.code = codeAt(i);
      run.networkOnly = netOnlyAt(i);
      run.pts.push_back(point(i));
      std::size_t b = N - 1;
      for (std::size_t j = i + 1; j < N; ++j) {
        const std::size_t pc = j - 1;
        if (codeAt(pc) != run.code || !takeableAt(pc, mostlyBar) || netOnlyAt(pc) != run.networkOnly) {
          b = pc;
          break;
        }
        if (!samePt(point(j), run.pts.back())) run.pts.push_back(point(j));
      }
      if (run.pts.size() >= 2) runs->push_back(std::move(run));
      i = b > i ? b : i + 1;
    }
  }
};

LightWalk::LightWalk() : impl_(new Impl) {}
LightWalk::~LightWalk() { delete impl_; }

bool LightWalk::walk(const std::vector<std::string_view>& rows, const SuppressScope& scope, std::string* out,
                     std::vector<std::size_t>* ends, int& splits, std::vector<orveldb::TakenRun>* runs) {
  Impl& w = *impl_;
  const std::size_t outSize = out ? out->size() : 0;
  const std::size_t endsSize = ends ? ends->size() : 0;
  w.out = out;
  w.ends = out ? ends : nullptr;
  w.runs = runs;
  w.changed = false;
  w.splits = 0;
  w.open = false;
  w.rows.clear();
  w.ftoks.clear();
  w.fstart.clear();
  w.walk(rows, scope);
  splits = w.splits;
  if (out && !w.changed) {
    out->resize(outSize);
    if (ends) ends->resize(endsSize);
  }
  const bool changed = w.changed;
  w.out = nullptr;
  w.ends = nullptr;
  w.runs = nullptr;
  return changed;
}

}  // namespace orvel
