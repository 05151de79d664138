#include "engine/geo.h"

#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <system_error>

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
  std::vector<std::string_view> v;
  tokView(row, v);
  return std::vector<std::string>(v.begin(), v.end());
}

void tokView(std::string_view row, std::vector<std::string_view>& out) {
  out.clear();
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
}

namespace {

// strtod on a copy that ends in NUL, for the spellings from_chars reads
// differently: a leading '+' or blank, hexadecimal ("0x1p3"), inf and nan
// (with a payload), and values beyond the range of a double (strtod gives
// the rounded infinity or the underflowed value, from_chars an error).
double slowNum(std::string_view s) {
  char small[64];
  std::string big;
  const char* z;
  if (s.size() < sizeof small) {
    std::memcpy(small, s.data(), s.size());
    small[s.size()] = '\0';
    z = small;
  } else {
    big.assign(s);
    z = big.c_str();
  }
  locale_t loc = cLocale();
  if (loc) return strtod_l(z, nullptr, loc);
  return std::strtod(z, nullptr);
}

}  // namespace

// Scenery numbers are almost always plain decimals; from_chars reads those
// without a locale and rounds them exactly as strtod does (both round
// correctly). Everything else goes the slow way so the result never differs.
double numC(std::string_view s) {
  if (s.empty()) return 0;
  const char c = s[0];
  // A leading '+', blanks, or letters (inf, nan) are strtod's to read.
  if (!(c == '-' || c == '.' || (c >= '0' && c <= '9'))) return slowNum(s);
  const char* b = s.data();
  const char* e = b + s.size();
  for (const char* p = b; p < e && p < b + 3; ++p)
    if (*p == 'x' || *p == 'X' || *p == 'i' || *p == 'I' || *p == 'n' || *p == 'N') return slowNum(s);
  double v = 0;
  const auto r = std::from_chars(b, e, v, std::chars_format::general);
  if (r.ec == std::errc()) return v;
  if (r.ec == std::errc::result_out_of_range) return slowNum(s);
  return 0;  // no number at all ("-", ".", "-.e5")
}

long intC(std::string_view s) {
  if (!s.empty() && isBlank(s[0])) {
    // Leading blanks (which no token has) are left to strtol itself.
    const std::string z(s);
    locale_t loc = cLocale();
    return loc ? strtol_l(z.c_str(), nullptr, 10, loc) : std::strtol(z.c_str(), nullptr, 10);
  }
  const char* b = s.data();
  const char* e = b + s.size();
  bool neg = false;
  if (b < e && (*b == '+' || *b == '-')) {
    neg = *b == '-';
    ++b;
  }
  if (b == e || *b < '0' || *b > '9') return 0;
  // The digits are read without their sign so that "+5" reads as strtol
  // reads it; a value too large for a long saturates as strtol's does.
  unsigned long u = 0;
  const auto r = std::from_chars(b, e, u, 10);
  if (r.ec == std::errc::result_out_of_range) return neg ? LONG_MIN : LONG_MAX;
  if (neg) return u > static_cast<unsigned long>(LONG_MAX) + 1 ? LONG_MIN : static_cast<long>(0 - u);
  return u > static_cast<unsigned long>(LONG_MAX) ? LONG_MAX : static_cast<long>(u);
}

Node parseNode(const std::string_view* t, std::size_t size) {
  Node n;
  if (size == 0) return n;
  const std::string_view c = t[0];
  n.bezier = c == "112" || c == "114" || c == "116";
  n.ends = c == "113" || c == "114" || c == "115" || c == "116";
  n.closes = c == "113" || c == "114";
  if (size > 1) n.p.lat = numC(t[1]);
  if (size > 2) n.p.lon = numC(t[2]);
  std::size_t from = 3;
  if (n.bezier) {
    if (size <= 4) return n;
    n.ctl.lat = numC(t[3]);
    n.ctl.lon = numC(t[4]);
    from = 5;
  }
  for (std::size_t i = from; i < size; ++i) {
    long v = intC(t[i]);
    if (v >= 100 && v <= 199) n.light = static_cast<int32_t>(v);
  }
  return n;
}

Node parseNode(const std::vector<std::string>& t) {
  std::vector<std::string_view> v(t.begin(), t.end());
  return parseNode(v.data(), v.size());
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
