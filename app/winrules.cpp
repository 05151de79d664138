#include "app/winrules.h"

#include "host/selfupdate.h"
#include "server/api.h"

namespace lumo {

bool pluginUpdateAvailable(bool latestKnown, const std::string& installed, const std::string& latest) {
  if (!latestKnown) return false;
  return installed.empty() || verNewer(latest, installed);
}

bool passFromOlderMap(bool suppressed, bool mapsLoaded, const std::string& rev, const std::string& signature) {
  if (!suppressed || !mapsLoaded || rev.empty()) return false;
  const bool current = signature == rev || signature.rfind(rev + "+", 0) == 0;
  return !current;
}

ButtonStates buttonStates(const ButtonInputs& in) {
  ButtonStates s;
  s.suppress = !in.xplaneRunning && !in.busy;
  s.launch = s.suppress && in.rootKnown && in.pluginInstalled;
  s.restore = s.suppress && in.suppressed;
  s.plugin = s.suppress && in.latestKnown;
  s.other = !in.busy;
  return s;
}

LogTone logTone(const std::string& line) {
  if (line.empty()) return LogTone::normal;
  if (line[0] == '!') return LogTone::error;
  if (line[0] == ' ') return LogTone::detail;
  return LogTone::normal;
}

std::vector<std::string> restartArgs(const std::string& self, const std::string& host, int port) {
  std::vector<std::string> args{self};
  if (host != kDefaultHost) {
    args.push_back("--host");
    args.push_back(host + ":" + std::to_string(port));
  }
  return args;
}

int windowHeight(bool haveMonitor, int workAreaHeight) {
  if (haveMonitor && workAreaHeight > 320 && workAreaHeight < kWindowMaxHeight) return workAreaHeight;
  return kWindowMaxHeight;
}

int grownHeight(int request, int currentHeight, int workAreaHeight) {
  if (request <= 0 || request <= currentHeight) return 0;
  int h = request;
  if (workAreaHeight > 0 && h > workAreaHeight) h = workAreaHeight;
  // A work area no taller than the window: the cap would not grow it.
  return h > currentHeight ? h : 0;
}

namespace {

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The offset of the character after the one starting at i.
std::size_t nextChar(const std::string& s, std::size_t i) {
  ++i;
  while (i < s.size() && continuation(s[i])) ++i;
  return i;
}

}  // namespace

std::string middleEllipsis(const std::string& text, float maxWidth, const TextWidth& width) {
  const char* b = text.data();
  if (width(b, b + text.size()) <= maxWidth) return text;
  // Character starts, so the cut never splits a character.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); i = nextChar(text, i)) starts.push_back(i);
  starts.push_back(text.size());
  const std::size_t chars = starts.size() - 1;
  // Keep `keep` characters, split between head and tail; the largest that fits.
  std::string best = "...";
  std::size_t lo = 0, hi = chars;
  while (lo <= hi && hi > 0) {
    const std::size_t keep = (lo + hi) / 2;
    const std::size_t head = (keep + 1) / 2, tail = keep - head;
    const std::string candidate =
        text.substr(0, starts[head]) + "..." + text.substr(starts[chars - tail]);
    if (width(candidate.data(), candidate.data() + candidate.size()) <= maxWidth) {
      best = candidate;
      lo = keep + 1;
    } else {
      if (keep == 0) break;
      hi = keep - 1;
    }
  }
  return best;
}

std::vector<std::size_t> wrapPoints(const std::string& line, float maxWidth, const TextWidth& width) {
  std::vector<std::size_t> breaks;
  const char* b = line.data();
  std::size_t start = 0;
  while (start < line.size()) {
    if (width(b + start, b + line.size()) <= maxWidth) break;
    // Take characters while they fit; remember the last place after a blank or a slash.
    // Widths add up character by character (the window's text has no kerning).
    std::size_t fit = start, lastBreak = std::string::npos;
    float used = 0;
    for (std::size_t i = start; i < line.size();) {
      const std::size_t next = nextChar(line, i);
      used += width(b + i, b + next);
      if (used > maxWidth) break;
      fit = next;
      if (line[i] == ' ' || line[i] == '/') lastBreak = next;
      i = next;
    }
    std::size_t cut = lastBreak != std::string::npos && lastBreak > start ? lastBreak : fit;
    if (cut <= start) cut = nextChar(line, start);  // not even one character fits: one per line
    if (cut >= line.size()) break;
    breaks.push_back(cut);
    start = cut;
  }
  return breaks;
}

}  // namespace lumo
