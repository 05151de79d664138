#include "engine/aptfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

namespace {

// Whitespace tokens of a row (blank, tab, CR, LF, VT, FF), no empty ones.
std::vector<std::string> tokens(const std::string& row) {
  std::vector<std::string> out;
  size_t i = 0, n = row.size();
  auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  while (i < n) {
    while (i < n && ws(row[i])) ++i;
    size_t s = i;
    while (i < n && !ws(row[i])) ++i;
    if (i > s) out.emplace_back(row, s, i - s);
  }
  return out;
}

// The whole-file reader's row code: the text before the first blank (a tab
// does not end it).
std::string rowCode(const std::string& row) { return row.substr(0, row.find(' ')); }

// The airport code of a block: the 1302 icao_code row when there is one,
// else token 4 of the header.
std::string blockCode(const std::vector<std::string>& rows, const std::vector<std::string>& header) {
  for (const auto& r : rows) {
    if (r.compare(0, 4, "1302") != 0) continue;
    auto t = tokens(r);
    if (t.size() >= 3 && t[1] == "icao_code") return t[2];
  }
  return header.size() >= 5 ? header[4] : std::string();
}

// Buffered writer onto a descriptor that remembers the first failure.
class Out {
 public:
  explicit Out(int fd) : fd_(fd) { buf_.reserve(kChunk + 4096); }
  void row(const std::string& r) {
    buf_ += r;
    buf_ += '\n';
    if (buf_.size() >= kChunk) flush();
  }
  void flush() {
    const char* p = buf_.data();
    size_t n = buf_.size();
    while (ok_ && n > 0) {
      ssize_t w = ::write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok_ = false;
        break;
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
    buf_.clear();
  }
  bool ok() const { return ok_; }

 private:
  static constexpr size_t kChunk = 1 << 20;
  int fd_;
  bool ok_ = true;
  std::string buf_;
};

}  // namespace

namespace orvel {

bool rewriteBlocks(const std::string& path, bool& changed, const BlockFn& fn) {
  changed = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string tmp = path + ".taxilume-tmp";
  struct stat st;
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  // The rewritten file takes the original's permissions.
  ::fchmod(fd, mode);

  Out out(fd);
  std::vector<std::string> block;
  std::vector<std::string> header;
  bool open = false;
  auto finish = [&]() {
    if (!open) return;
    if (fn && fn(blockCode(block, header), block)) changed = true;
    for (const auto& r : block) out.row(r);
    block.clear();
    header.clear();
    open = false;
  };

  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string code = rowCode(line);
    if (code == "1" || code == "16" || code == "17") {
      finish();
      open = true;
      header = tokens(line);
      block.push_back(std::move(line));
    } else if (!open) {
      out.row(line);
    } else if (code == "99") {
      finish();
      out.row(line);
    } else {
      block.push_back(std::move(line));
    }
  }
  // getline ends on a read error as well as at the end of the file; only the
  // end of the file may be taken for the end of the data. (A failing read()
  // shows as badbit, without eofbit.)
  const bool readToEnd = in.eof() && !in.bad();
  if (readToEnd) finish();
  out.flush();
  bool ok = readToEnd && out.ok();
  if (ok && changed && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok || !changed) {
    ::unlink(tmp.c_str());
    if (!ok) changed = false;
    return ok;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    // A rename that failed after losing P: bring the original back.
    const std::string backup = path + ".taxilume-orig";
    int64_t s = 0, t = 0;
    if (!fileStat(path, s, t) && fileStat(backup, s, t)) copyFile(backup, path);
    ::unlink(tmp.c_str());
    changed = false;
    return false;
  }
  lumo::fsyncParentDir(path);
  return true;
}

}  // namespace orvel
