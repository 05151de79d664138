// Text from outside (server answers, package contents) on its way into a log
// line or onto the window. A server string is never trusted to be one short
// printable line: a line break in a published version or revision would
// start a log line of the server's choosing ("!! Installed ..."), and a
// megabyte of it would bury the log.
//
// printable is the one place that decides what such text looks like: call it
// where the text is put into a message. It never fails.
#pragma once

#include <cstddef>
#include <string>

namespace net {

// Server text embedded in a message is cut to this many bytes.
constexpr std::size_t kShownTextMax = 120;

// text with every control character (bytes 0x00-0x1F and 0x7F, and the C1
// controls U+0080-U+009F) replaced by "?", cut to at most maxBytes bytes
// (never inside a UTF-8 sequence) with "..." after a cut.
std::string printable(const std::string& text, std::size_t maxBytes = kShownTextMax);

}  // namespace net
