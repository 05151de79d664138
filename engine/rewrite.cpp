#include "engine/rewrite.h"

#include <string_view>

#include "engine/lightwalk.h"

namespace orvel {

bool splitBlockLights(std::vector<std::string>& rows, const SuppressScope& scope, int& splits) {
  std::vector<std::string_view> views(rows.begin(), rows.end());
  std::string text;
  std::vector<std::size_t> ends;
  LightWalk walk;
  if (!walk.walk(views, scope, &text, &ends, splits, nullptr)) return false;
  // The rows are cut at the recorded ends, not at line feeds: a row handed
  // in may itself hold one.
  std::vector<std::string> out;
  out.reserve(ends.size());
  std::size_t from = 0;
  for (std::size_t e : ends) {
    out.emplace_back(text, from, e - from);
    from = e + 1;
  }
  rows.swap(out);
  return true;
}

}  // namespace orvel
