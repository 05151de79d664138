// Rows and curve geometry of airport files: the one place that knows how a
// row splits into tokens, how a node row decodes, how a curved segment is
// flattened, and how degree differences become metres.
//
// Call order: tok() a row, check token 0, parseNode() the tokens of a node
// row (111-116), then bezSegment() between consecutive nodes. Nothing here
// fails: numbers that do not parse read as 0 (C library leading-number
// rules, always in the C locale whatever the process locale is), and rows
// with too few tokens decode to what they carry.
//
// Distances follow one convention everywhere in the engine: 111320 m per
// degree of latitude, longitude scaled by the cosine of a reference latitude
// that each caller names, pi taken as the literal kPi below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

constexpr double kPi = 3.14159265358979;
constexpr double kMetresPerDeg = 111320.0;

// Latitude then longitude, decimal degrees, exactly as parsed.
struct Pt {
  double lat = 0;
  double lon = 0;
};

// One decoded node row (111-116).
struct Node {
  Pt p;
  Pt ctl;               // Bezier control point; (0, 0) for plain rows
  bool bezier = false;  // 112, 114, 116
  int32_t light = -1;   // last attribute token in 100..199, or -1
  bool ends = false;    // 113, 114, 115, 116
  bool closes = false;  // 113, 114
};

// Tokens of a row, split at space, tab, LF, VT, FF and CR; no empty tokens.
std::vector<std::string> tok(const std::string& row);
// The same split as views into `row`, into `out` (cleared first): the form
// for hot loops, which reuse `out` and so allocate nothing per row.
void tokView(std::string_view row, std::vector<std::string_view>& out);

// Decodes a node row; the caller guarantees >= 3 tokens and token 0 in 111..116.
Node parseNode(const std::vector<std::string>& t);
Node parseNode(const std::string_view* t, std::size_t n);

// Appends the points after a.p up to and including b.p; a curved segment is
// cut into n pieces (nothing is appended for n <= 0), a straight one gives b.p.
void bezSegment(const Node& a, const Node& b, std::vector<Pt>& out, int n);

// Locale-independent C conversions: the leading number, 0 when there is none,
// read exactly as strtod / strtol (base 10) read it in the C locale.
double numC(std::string_view s);
long intC(std::string_view s);

// Metres in one degree of longitude at latitude lat.
double metresPerDegLon(double lat);
// Distance in metres from q to the segment a-b, longitude scaled at q.lat.
double segDist(const Pt& q, const Pt& a, const Pt& b);

// The offset in metres (e east, n north) from q to the point of segment a-b
// nearest to it, mx metres to a degree of longitude: the one formula behind
// segDist and the engine's tolerance tests, inline because those run it for
// every row near a lit line.
inline void segOffset(const Pt& q, const Pt& a, const Pt& b, double mx, double& e, double& n) {
  const double my = kMetresPerDeg;
  const double ae = (a.lon - q.lon) * mx, an = (a.lat - q.lat) * my;
  const double de = (b.lon - q.lon) * mx - ae, dn = (b.lat - q.lat) * my - an;
  const double dd = de * de + dn * dn;
  double t = 0;
  if (!(dd < 1e-9)) {
    t = -(ae * de + an * dn) / dd;
    if (t < 0) t = 0;
    if (t > 1) t = 1;
  }
  e = ae + t * de;
  n = an + t * dn;
}

}  // namespace orvel
