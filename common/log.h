// The log callback every lower layer reports progress through.
//
// A function object taking one line of text (no trailing newline). Callers
// may pass an empty one; code that logs must test it first (use lumo::say).
// Lines starting "!! " are errors or warnings, lines starting with three
// blanks are details of the line above.
#pragma once

#include <functional>
#include <string>

namespace lumo {

using LogFn = std::function<void(const std::string&)>;

// Calls log with line when log is set; silent otherwise.
inline void say(const LogFn& log, const std::string& line) {
  if (log) log(line);
}

}  // namespace lumo
