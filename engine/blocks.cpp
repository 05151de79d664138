#include "engine/blocks.h"

#include <cstring>
#include <ios>

#include "engine/geo.h"

namespace orvel {

namespace {

// Is the text before the first space exactly `code`? Avoids building a
// string for each of the millions of rows a world file has.
bool codeIs(const char* p, std::size_t n, const char* code) {
  const std::size_t k = std::strlen(code);
  if (n < k || std::memcmp(p, code, k) != 0) return false;
  return n == k || p[k] == ' ';
}

bool isHeader(const char* p, std::size_t n) {
  if (n == 0 || p[0] != '1') return false;
  return codeIs(p, n, "1") || codeIs(p, n, "16") || codeIs(p, n, "17");
}

// One block as it was read: its lines back to back, each ended by LF.
struct BlockBuf {
  std::string bytes;
  std::vector<std::size_t> starts;
  std::size_t count() const { return starts.size(); }
  std::string_view view(std::size_t i) const {
    const std::size_t b = starts[i];
    const std::size_t e = (i + 1 < starts.size() ? starts[i + 1] : bytes.size()) - 1;
    return std::string_view(bytes).substr(b, e - b);
  }
  std::string line(std::size_t i) const { return std::string(view(i)); }
  void add(const char* p, std::size_t n) {
    starts.push_back(bytes.size());
    bytes.append(p, n);
    bytes += '\n';
  }
  void clear() {
    bytes.clear();
    starts.clear();
  }
};

// The airport code (the rule is in blocks.h) without building every row:
// only the header and the 1302 rows are looked at.
std::string codeOf(const BlockBuf& b, std::vector<std::string_view>& t) {
  for (std::size_t i = 0; i < b.count(); ++i) {
    if (b.bytes.compare(b.starts[i], 4, "1302") != 0) continue;
    tokView(b.view(i), t);
    if (t.size() >= 3 && t[1] == "icao_code") return std::string(t[2]);
  }
  if (b.count()) {
    tokView(b.view(0), t);
    if (t.size() >= 5) return std::string(t[4]);
  }
  return "";
}

// Reads the input in large pieces and hands out lines without their LF and
// one trailing CR. Returns false on a read error: the stream buffer reports
// one by throwing (file buffers do so for a failed read), the end of the
// input by delivering nothing.
template <class OnLine>
bool readLines(std::istream& in, OnLine onLine) {
  // A stream that failed to open reads as nothing: that is no empty file.
  std::streambuf* sb = in.rdbuf();
  if (!sb || !in) return false;
  std::vector<char> buf(1 << 20);
  std::string carry;
  auto emit = [&](const char* p, std::size_t n) {
    if (n && p[n - 1] == '\r') --n;
    return onLine(p, n);
  };
  for (;;) {
    std::streamsize got = 0;
    try {
      got = sb->sgetn(buf.data(), static_cast<std::streamsize>(buf.size()));
    } catch (...) {
      in.setstate(std::ios::badbit);
      return false;
    }
    if (got <= 0) break;
    const char* p = buf.data();
    const char* end = p + got;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (!nl) {
        carry.append(p, static_cast<std::size_t>(end - p));
        break;
      }
      if (!carry.empty()) {
        carry.append(p, static_cast<std::size_t>(nl - p));
        if (!emit(carry.data(), carry.size())) return false;
        carry.clear();
      } else if (!emit(p, static_cast<std::size_t>(nl - p))) {
        return false;
      }
      p = nl + 1;
    }
  }
  if (!carry.empty() && !emit(carry.data(), carry.size())) return false;
  in.setstate(std::ios::eofbit);
  return true;
}

// The one cut shared by the writing and the read-only walk. `put` takes a
// row outside any block, `block` a finished block; either returns false to
// stop the walk.
template <class Put, class Block>
bool walk(std::istream& in, Put put, Block block) {
  BlockBuf b;
  bool open = false;
  bool ok = readLines(in, [&](const char* p, std::size_t n) {
    if (isHeader(p, n)) {
      if (open && !block(b)) return false;
      b.clear();
      open = true;
      b.add(p, n);
      return true;
    }
    if (!open) return put(p, n);
    if (codeIs(p, n, "99")) {
      open = false;
      if (!block(b)) return false;
      b.clear();
      return put(p, n);
    }
    b.add(p, n);
    return true;
  });
  if (!ok) return false;
  return !open || block(b);
}

// Output gathered into large writes; the first failure sticks.
class Out {
 public:
  explicit Out(std::ostream& o) : o_(o) { buf_.reserve(kChunk + 4096); }
  bool add(const char* p, std::size_t n) {
    buf_.append(p, n);
    return buf_.size() < kChunk || flush();
  }
  bool line(const std::string& s) {
    buf_.append(s);
    buf_ += '\n';
    return buf_.size() < kChunk || flush();
  }
  // The buffer itself, for a writer that appends to it directly; call
  // flushIfFull after appending.
  std::string& buffer() { return buf_; }
  bool flushIfFull() { return buf_.size() < kChunk || flush(); }
  bool flush() {
    if (!buf_.empty()) o_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    buf_.clear();
    return static_cast<bool>(o_);
  }

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  std::ostream& o_;
  std::string buf_;
};

}  // namespace

bool forEachBlock(std::istream& in, std::ostream& out, const BlockFn& fn, bool& changed,
                  const CodeFilter& wants) {
  changed = false;
  Out o(out);
  std::vector<std::string> rows;
  std::vector<std::string_view> t;
  auto put = [&](const char* p, std::size_t n) {
    o.add(p, n);
    return o.add("\n", 1);
  };
  auto block = [&](const BlockBuf& b) {
    if (!fn) return o.add(b.bytes.data(), b.bytes.size());
    const std::string code = codeOf(b, t);
    // Blocks nobody asked for go out as the bytes they came in as, without
    // being cut into rows: most of a world file is such blocks.
    if (wants && !wants(code)) return o.add(b.bytes.data(), b.bytes.size());
    rows.resize(b.count());
    for (std::size_t i = 0; i < b.count(); ++i) rows[i] = b.line(i);
    if (fn(code, rows)) changed = true;
    for (const std::string& r : rows)
      if (!o.line(r)) return false;
    return true;
  };
  if (!walk(in, put, block)) return false;
  if (!o.flush()) return false;
  out.flush();
  return static_cast<bool>(out);
}

bool forEachBlockText(std::istream& in, std::ostream& out, const BlockTextFn& fn, bool& changed,
                      const CodeFilter& wants) {
  changed = false;
  Out o(out);
  std::vector<std::string_view> t, views;
  auto put = [&](const char* p, std::size_t n) {
    o.add(p, n);
    return o.add("\n", 1);
  };
  auto block = [&](const BlockBuf& b) {
    if (!fn) return o.add(b.bytes.data(), b.bytes.size());
    const std::string code = codeOf(b, t);
    if (wants && !wants(code)) return o.add(b.bytes.data(), b.bytes.size());
    views.resize(b.count());
    for (std::size_t i = 0; i < b.count(); ++i) views[i] = b.view(i);
    std::string& text = o.buffer();
    const std::size_t before = text.size();
    if (fn(code, views, text)) {
      changed = true;
      return o.flushIfFull();
    }
    text.resize(before);
    return o.add(b.bytes.data(), b.bytes.size());
  };
  if (!walk(in, put, block)) return false;
  if (!o.flush()) return false;
  out.flush();
  return static_cast<bool>(out);
}

bool visitBlocks(std::istream& in, const BlockVisit& fn) {
  std::vector<std::string> rows;
  std::vector<std::string_view> t;
  auto put = [](const char*, std::size_t) { return true; };
  auto block = [&](const BlockBuf& b) {
    if (!fn) return true;
    rows.resize(b.count());
    for (std::size_t i = 0; i < b.count(); ++i) rows[i] = b.line(i);
    return fn(codeOf(b, t), rows);
  };
  return walk(in, put, block);
}

}  // namespace orvel
