// Random mutations of real rows with a fixed seed, shared by the fuzz test
// and the property test that holds the block walk against its predecessor.
#pragma once

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/geo.h"
#include "fixture.h"

namespace tle {

inline const char* const kGarbage[] = {"nan", "-nan", "inf", "-inf", "1e309", "-1e309", "-", "+", ".", "0x1p3",
                          "101", "103", "104", "105", "101.0", "120", "111", "112", "113", "114",
                          "115", "116", "99", "1302", "icao_code", "\t", "   ", "9999999999999999999999",
                          "4.9e-324", "-0", "1e-400"};

inline std::string randomBytes(std::mt19937& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    char c = static_cast<char>(rng() % 256);
    if (c == '\n') c = ' ';
    s += c;
  }
  return s;
}

inline void mutate(std::vector<std::string>& rows, std::mt19937& rng) {
  if (rows.size() < 2) return;
  const std::size_t i = 1 + rng() % (rows.size() - 1);  // keep the header row
  std::vector<std::string> t = orvel::tok(rows[i]);
  switch (rng() % 10) {
    case 0:
    case 1:
      if (!t.empty()) {
        t[rng() % t.size()] = kGarbage[rng() % (sizeof kGarbage / sizeof *kGarbage)];
        rows[i] = tle::joined(t);
      }
      break;
    case 2:
      if (!t.empty()) {
        t.erase(t.begin() + rng() % t.size());
        rows[i] = tle::joined(t);
      }
      break;
    case 3: rows.erase(rows.begin() + i); break;
    case 4: rows.insert(rows.begin() + i, rows[i]); break;
    case 5: rows.insert(rows.begin() + i, rng() % 2 ? " \t \r" : ""); break;
    case 6: std::swap(rows[i], rows[1 + rng() % (rows.size() - 1)]); break;
    case 7: rows[i] = randomBytes(rng, rng() % 40); break;
    case 8:
      if (t.size() > 2) rows[i] = t[0] + " " + t[1];
      break;
    case 9:
      if (!t.empty()) {
        t[rng() % t.size()] = std::string(1 + rng() % 20000, "19.e-"[rng() % 5]);
        rows[i] = tle::joined(t);
      }
      break;
  }
}

}  // namespace tle
