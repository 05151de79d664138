#include "net/text.h"

namespace net {

std::string printable(const std::string& text, std::size_t maxBytes) {
  std::string out;
  out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
  std::size_t i = 0;
  for (; i < text.size() && out.size() < maxBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) {
      out += '?';
    } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // A C1 control in UTF-8; some terminals act on it as an escape.
      out += '?';
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (i < text.size()) {
    // Do not leave half a UTF-8 sequence at the cut.
    std::size_t end = out.size();
    while (end > 0 && (static_cast<unsigned char>(out[end - 1]) & 0xc0) == 0x80) --end;
    if (end > 0 && static_cast<unsigned char>(out[end - 1]) >= 0xc0) --end;
    else end = out.size();
    out.resize(end);
    out += "...";
  }
  return out;
}

}  // namespace net
