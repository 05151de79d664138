#include "engine/blocks.h"

#include <cstring>

#include "engine/geo.h"

namespace orvel {

namespace {

// Is the text before the first space exactly `code`? Avoids building a
// string for each of the millions of rows a world file has.
bool codeIs(const std::string& line, const char* code) {
  const std::size_t n = std::strlen(code);
  if (line.size() < n || line.compare(0, n, code) != 0) return false;
  return line.size() == n || line[n] == ' ';
}

bool isHeader(const std::string& line) {
  if (line.empty() || line[0] != '1') return false;
  return codeIs(line, "1") || codeIs(line, "16") || codeIs(line, "17");
}

// The one cut shared by the writing and the read-only walk. `put` writes a
// row outside any block, `block` takes a finished block and returns false to
// stop the walk. Rows are moved in and out of a reused vector so that a
// world file costs no allocation per line once the first blocks are read.
template <class Put, class Block>
bool walk(std::istream& in, Put put, Block block) {
  std::string line;
  std::vector<std::string> rows;
  std::size_t used = 0;
  bool open = false;
  auto finish = [&]() -> bool {
    if (!open) return true;
    open = false;
    rows.resize(used);
    used = 0;
    return block(rows);
  };
  auto add = [&]() {
    if (used < rows.size()) rows[used].swap(line);
    else rows.push_back(std::move(line));
    ++used;
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (isHeader(line)) {
      if (!finish()) return false;
      open = true;
      add();
    } else if (!open) {
      if (!put(line)) return false;
    } else if (codeIs(line, "99")) {
      if (!finish() || !put(line)) return false;
    } else {
      add();
    }
  }
  // getline stops at the end of the input and on a read error alike; only
  // the first is a complete file.
  if (in.bad() || !in.eof()) return false;
  return finish();
}

}  // namespace

std::string rowCode(const std::string& line) {
  const std::size_t sp = line.find(' ');
  return sp == std::string::npos ? line : line.substr(0, sp);
}

std::string blockCode(const std::vector<std::string>& rows) {
  for (const std::string& r : rows) {
    if (r.compare(0, 4, "1302") != 0) continue;
    std::vector<std::string> t = tok(r);
    if (t.size() >= 3 && t[1] == "icao_code") return t[2];
  }
  if (!rows.empty()) {
    std::vector<std::string> h = tok(rows[0]);
    if (h.size() >= 5) return h[4];
  }
  return "";
}

bool forEachBlock(std::istream& in, std::ostream& out, const BlockFn& fn, bool& changed) {
  changed = false;
  auto put = [&](const std::string& s) {
    out.write(s.data(), static_cast<std::streamsize>(s.size()));
    out.put('\n');
    return static_cast<bool>(out);
  };
  auto block = [&](std::vector<std::string>& rows) {
    if (fn && fn(blockCode(rows), rows)) changed = true;
    for (const std::string& r : rows)
      if (!put(r)) return false;
    return true;
  };
  if (!walk(in, put, block)) return false;
  out.flush();
  return static_cast<bool>(out);
}

bool visitBlocks(std::istream& in, const BlockVisit& fn) {
  auto put = [](const std::string&) { return true; };
  auto block = [&](std::vector<std::string>& rows) { return !fn || fn(blockCode(rows), rows); };
  return walk(in, put, block);
}

}  // namespace orvel
