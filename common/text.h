// ASCII case folding, the one rule every layer compares names and paths by:
// only 'A'..'Z' change, every other byte (UTF-8 included) is kept, so the
// answer never depends on the locale.
#pragma once

#include <string>

namespace lumo {

inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string lowerAscii(std::string s) {
  for (char& c : s) c = lowerAscii(c);
  return s;
}

}  // namespace lumo
