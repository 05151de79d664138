#include "engine/geo.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace orvel {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A user locale with a decimal comma would make strtod read "47.5" as 47;
// scenery is always written with points, so convert in a private C locale.
locale_t cLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

}  // namespace

std::vector<std::string> tok(const std::string& row) {
  std::vector<std::string> out;
  const char* s = row.data();
  const std::size_t n = row.size();
  std::size_t i = 0;
  while (i < n) {
    while (i < n && isBlank(s[i])) ++i;
    if (i >= n) break;
    std::size_t j = i;
    while (j < n && !isBlank(s[j])) ++j;
    out.emplace_back(s + i, j - i);
    i = j;
  }
  return out;
}

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

void bezSegment(const Node& a, const Node& b, std::vector<Pt>& out, int n) {
  if (!a.bezier && !b.bezier) {
    out.push_back(b.p);
    return;
  }
  const Pt p0 = a.p, p3 = b.p;
  const Pt p1 = a.bezier ? a.ctl : p0;
  const Pt p2 = b.bezier ? Pt{2 * b.p.lat - b.ctl.lat, 2 * b.p.lon - b.ctl.lon} : p3;
  if (n <= 0) return;
  for (int k = 1; k <= n; ++k) {
    const double t = static_cast<double>(k) / n, s = 1 - t;
    const double w0 = s * s * s, w1 = 3 * s * s * t, w2 = 3 * s * t * t, w3 = t * t * t;
    out.push_back({w0 * p0.lat + w1 * p1.lat + w2 * p2.lat + w3 * p3.lat,
                   w0 * p0.lon + w1 * p1.lon + w2 * p2.lon + w3 * p3.lon});
  }
}

double metresPerDegLon(double lat) { return kMetresPerDeg * std::cos(lat * kPi / 180.0); }

double segDist(const Pt& q, const Pt& a, const Pt& b) {
  double e = 0, n = 0;
  segOffset(q, a, b, metresPerDegLon(q.lat), e, n);
  return std::hypot(e, n);
}

}  // namespace orvel
