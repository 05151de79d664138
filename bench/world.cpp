#include "bench/world.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace bench {

namespace {

constexpr const char* kDebianWorld = "/usr/share/games/flightgear/Airports/apt.dat.gz";
// The real world file unpacked; a made-up one grows to this size.
constexpr long long kWorldBytes = 106'000'000;

bool readable(const std::string& p) { return ::access(p.c_str(), R_OK) == 0; }

long long sizeOf(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Unpacks (.gz) or copies `from` to `to`.
bool unpack(const std::string& from, const std::string& to, std::string& error) {
  const std::string cmd = (endsWith(from, ".gz") ? "gzip -dc " : "cat ") + quoted(from) + " > " + quoted(to);
  if (std::system(cmd.c_str()) != 0 || sizeOf(to) <= 0) {
    error = "cannot read " + from;
    return false;
  }
  return true;
}

// Start of the n-th blank-separated token of `line` (0-based), or npos.
size_t tokenAt(const std::string& line, int n) {
  size_t i = 0;
  for (int t = 0;; ++t) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return std::string::npos;
    if (t == n) return i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
  }
}

bool isHeaderRow(const std::string& line) {
  const size_t end = line.find_first_of(" \t");
  const std::string code = line.substr(0, end);
  return end != std::string::npos && (code == "1" || code == "16" || code == "17");
}

// The sample's header lines, its airport rows, and as many copies of them as
// make a world-size file; copy k renames every airport code C to C + two
// base-36 digits of k, so that no two blocks share a code.
bool synthesise(const std::string& sample, const std::string& to, int& copies, int& airports,
                std::string& error) {
  std::ifstream in(sample, std::ios::binary);
  if (!in) {
    error = "cannot read " + sample;
    return false;
  }
  std::vector<std::string> head, body;
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n < 3)
      head.push_back(line);
    else if (line.rfind("99", 0) != 0 || line.find_first_not_of("9\r") != std::string::npos)
      body.push_back(line);
  }
  long long bodyBytes = 0;
  airports = 0;
  for (const auto& l : body) {
    bodyBytes += static_cast<long long>(l.size()) + 1;
    airports += isHeaderRow(l);
  }
  if (bodyBytes == 0 || airports == 0) {
    error = sample + " holds no airports";
    return false;
  }
  copies = static_cast<int>(kWorldBytes / bodyBytes) + 1;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  for (const auto& l : head) out << l << '\n';
  const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int k = 0; k < copies; ++k) {
    const std::string suffix = {digits[(k / 36) % 36], digits[k % 36]};
    for (const auto& l : body) {
      if (!isHeaderRow(l)) {
        out << l << '\n';
        continue;
      }
      const size_t at = tokenAt(l, 4);
      if (at == std::string::npos) {
        out << l << '\n';
        continue;
      }
      size_t end = l.find_first_of(" \t\r", at);
      if (end == std::string::npos) end = l.size();
      out << l.substr(0, end) << suffix << l.substr(end) << '\n';
    }
  }
  out << "99\r\n";
  out.close();
  airports *= copies;
  if (!out) {
    error = "cannot write " + to;
    return false;
  }
  return true;
}

}  // namespace

World prepareWorld(int argc, char** argv, const std::string& folder) {
  World w;
  w.path = folder + "/apt.dat";
  std::string given, how;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--world") given = argv[i + 1], how = "--world";
  const char* env = std::getenv("TAXILUME_BENCH_WORLD");
  if (given.empty() && env && *env) given = env, how = "TAXILUME_BENCH_WORLD";

  std::string from;
  if (given == "sample") {
    // made up below, on request
  } else if (!given.empty()) {
    if (!readable(given)) {
      w.error = how + " names " + given + ", which cannot be read";
      return w;
    }
    from = given;
    w.source = "world file " + given + " (from " + how + ")";
  } else if (readable(std::string(TL_SHARED_DATA) + "/global-apt.dat.gz")) {
    from = std::string(TL_SHARED_DATA) + "/global-apt.dat.gz";
    w.source = "world file " + from + " (the 2013 world file beside the project)";
  } else if (readable(kDebianWorld)) {
    from = kDebianWorld;
    w.source = std::string("world file ") + kDebianWorld + " (Debian's flightgear-data-base, the 2013 world file)";
  }
  if (!from.empty()) {
    w.real = true;
    w.ok = unpack(from, w.path, w.error);
    return w;
  }

  const std::string sample = std::string(TL_TEST_DATA) + "/sample-global-apt.dat";
  int copies = 0, airports = 0;
  if (!synthesise(sample, w.path, copies, airports, w.error)) return w;
  std::ostringstream s;
  s << "MADE-UP world file: " << copies << " copies of the airports of " << sample
    << " with renamed codes (" << airports << " airports); no world file was found (--world FILE, "
    << "TAXILUME_BENCH_WORLD, " << TL_SHARED_DATA << "/global-apt.dat.gz or " << kDebianWorld
    << "), so the figures are for this file, not for the real world";
  w.source = s.str();
  w.ok = true;
  return w;
}

}  // namespace bench
