// Shared helpers of the engine tests: points placed in metres around a
// reference spot, node rows written from them, a scope over some lines, and
// the checker that holds a rewritten block against the block it came from.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/geo.h"
#include "engine/scope.h"

namespace tle {

// A spot at 47 N, 8 E; east/north offsets in metres by the engine's own
// conversion at that latitude.
constexpr double kLat0 = 47.0, kLon0 = 8.0;
inline orvel::Pt at(double east, double north) {
  return {kLat0 + north / orvel::kMetresPerDeg, kLon0 + east / orvel::metresPerDegLon(kLat0)};
}

// "111 lat lon <attrs>" with real-data-like 8 decimals.
inline std::string nodeRow(const char* code, const orvel::Pt& p, const std::string& attrs = "") {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s %.10f %.10f", code, p.lat, p.lon);
  return attrs.empty() ? std::string(buf) : std::string(buf) + " " + attrs;
}
inline std::string bezRow(const char* code, const orvel::Pt& p, const orvel::Pt& c,
                          const std::string& attrs = "") {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s %.10f %.10f %.10f %.10f", code, p.lat, p.lon, c.lat, c.lon);
  return attrs.empty() ? std::string(buf) : std::string(buf) + " " + attrs;
}

// Geometry owned by the test, and the scope the pass would build over it.
struct Geo {
  orvel::Lines bars, lead, network;
  orvel::BarExtents barx;
  orvel::SuppressScope scope() const {
    orvel::SuppressScope s;
    if (!lead.empty()) s.leads = &lead;
    if (!bars.empty()) s.bars = &bars;
    if (!bars.empty() && barx.size() == bars.size()) s.barx = &barx;
    if (!network.empty()) s.network = &network;
    return s;
  }
};

inline std::string joined(const std::vector<std::string>& t) {
  std::string s;
  for (std::size_t i = 0; i < t.size(); ++i) s += (i ? " " : "") + t[i];
  return s;
}

// Is out the row in with some light tokens (101/105/103/104 at the attribute
// position or later) left out and the rest joined by single spaces?
inline bool rebuiltFrom(const std::string& out, const std::string& in) {
  std::vector<std::string> ti = orvel::tok(in), to = orvel::tok(out);
  if (out != joined(to) || ti.empty()) return false;
  const std::size_t from = (ti[0] == "112" || ti[0] == "114") ? 5 : 3;
  std::size_t j = 0;
  for (std::size_t i = 0; i < ti.size(); ++i) {
    if (j < to.size() && to[j] == ti[i]) {
      ++j;
      continue;
    }
    const std::string& x = ti[i];
    if (i < from || !(x == "101" || x == "105" || x == "103" || x == "104")) return false;
  }
  return j == to.size();
}

inline std::string terminatorFor(const std::string& row) {
  std::vector<std::string> t = orvel::tok(row);
  if (t.empty()) return "";
  const bool curved = t[0] == "112" || t[0] == "114";
  std::vector<std::string> r{curved ? "116" : "115"};
  for (std::size_t i = 1; i < (curved ? 5u : 3u) && i < t.size(); ++i) r.push_back(t[i]);
  return joined(r);
}

// Holds a rewritten block against its input: every input row comes back in
// order, unchanged or rebuilt without light tokens; the only rows added are
// terminator + repeated header pairs, one per split. Returns the number of
// such pairs through `pairs`.
inline ::testing::AssertionResult alignedRewrite(const std::vector<std::string>& in,
                                                 const std::vector<std::string>& out, int& pairs) {
  pairs = 0;
  std::size_t j = 0;
  std::string header;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::string& r = in[i];
    // An inserted pair is a terminator built from r and the feature header,
    // followed by r itself (as it was or rebuilt); a row that happens to
    // read like its own terminator is therefore not taken for one.
    while (j + 2 < out.size() && !header.empty() && out[j] == terminatorFor(r) && out[j + 1] == header &&
           (out[j + 2] == r || rebuiltFrom(out[j + 2], r)) &&
           !(out[j] == r && (out[j + 1] == (i + 1 < in.size() ? in[i + 1] : std::string("\n"))))) {
      ++pairs;
      j += 2;
    }
    if (j >= out.size()) return ::testing::AssertionFailure() << "output ends before input row " << i;
    if (out[j] != r && !rebuiltFrom(out[j], r))
      return ::testing::AssertionFailure() << "input row " << i << " [" << r << "] came back as [" << out[j] << "]";
    std::vector<std::string> t = orvel::tok(r);
    if (!t.empty() && t[0] == "120") header = r;
    else if (t.empty() || !(t[0].size() == 3 && t[0].compare(0, 2, "11") == 0 && t[0][2] >= '1' && t[0][2] <= '6'))
      header.clear();
    ++j;
  }
  if (j != out.size()) return ::testing::AssertionFailure() << (out.size() - j) << " extra rows at the end";
  return ::testing::AssertionSuccess();
}

}  // namespace tle
