#include "scenery/files.h"
#include "common/siblings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {


bool writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;  // no progress: treat as a full disk
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// fsync, then close; both must succeed. The descriptor is closed either way.
bool syncAndClose(int fd) {
  bool ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  return ok;
}

// The part file is renamed over path and the folder flushed. A failing
// folder flush is not reported: the rename has happened, and saying
// otherwise would describe a state that is not on disk. Some file systems
// cannot flush folders at all.
bool renameOver(const std::string& part, const std::string& path, std::string* error) {
  if (std::rename(part.c_str(), path.c_str()) != 0) {
    if (error) *error = orvel::systemReason();
    ::unlink(part.c_str());
    return false;
  }
  (void)lumo::fsyncParentDir(path);  // see above: the rename has happened
  return true;
}

// Fills error with the reason for the call that just failed.
void noteReason(std::string* error) {
  if (error) *error = orvel::systemReason();
}

// --- reversible JSON text -------------------------------------------------

const uint32_t kEscBase = 0x10FF00;  // + byte 0x80..0xFF

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 if none.
size_t utf8At(const std::string& s, size_t i, uint32_t& cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  size_t left = s.size() - i;
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  auto cont = [&](size_t k) { return k < s.size() && (b(k) & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) {
    if (left < 2 || !cont(i + 1)) return 0;
    cp = ((c & 0x1Fu) << 6) | (b(i + 1) & 0x3Fu);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    if (left < 3 || !cont(i + 1) || !cont(i + 2)) return 0;
    unsigned char c1 = b(i + 1);
    if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
    if (c == 0xED && c1 > 0x9F) return 0;   // surrogate
    cp = ((c & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (b(i + 2) & 0x3Fu);
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (left < 4 || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
    unsigned char c1 = b(i + 1);
    if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
    if (c == 0xF4 && c1 > 0x8F) return 0;   // beyond U+10FFFF
    cp = ((c & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((b(i + 2) & 0x3Fu) << 6) |
         (b(i + 3) & 0x3Fu);
    return 4;
  }
  return 0;
}

void putUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool isEscape(uint32_t cp) { return cp >= kEscBase + 0x80 && cp <= kEscBase + 0xFF; }

template <class F>
nlohmann::json mapStrings(const nlohmann::json& j, F f) {
  if (j.is_string()) return f(j.get_ref<const std::string&>());
  if (j.is_array()) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& e : j) out.push_back(mapStrings(e, f));
    return out;
  }
  if (j.is_object()) {
    nlohmann::json out = nlohmann::json::object();
    for (auto it = j.begin(); it != j.end(); ++it) out[f(it.key())] = mapStrings(it.value(), f);
    return out;
  }
  return j;
}

}  // namespace

namespace lumo {

bool fsyncParentDir(const std::string& path) {
  std::string dir;
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) dir = ".";
  else if (slash == 0) dir = "/";
  else dir = path.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool writeFileOver(const std::string& path, const std::string& bytes, std::string* error) {
  const std::string part = orvel::partOf(path);
  int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    noteReason(error);
    return false;
  }
  bool ok = writeAll(fd, bytes.data(), bytes.size());
  if (!ok) noteReason(error);
  // A file whose data may not have reached the disk must not be renamed
  // over a good one: after a power cut it could come back empty.
  if (!syncAndClose(fd) && ok) {
    noteReason(error);
    ok = false;
  }
  if (!ok) {
    ::unlink(part.c_str());
    return false;
  }
  return renameOver(part, path, error);
}

std::string textForJson(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    uint32_t cp = 0;
    size_t n = utf8At(bytes, i, cp);
    if (n > 0 && !isEscape(cp)) {
      out.append(bytes, i, n);
      i += n;
    } else {
      putUtf8(out, kEscBase + static_cast<unsigned char>(bytes[i]));
      ++i;
    }
  }
  return out;
}

std::string textFromJson(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = 0;
    size_t n = utf8At(text, i, cp);
    if (n == 0) {  // not from our encoder: keep the byte as it is
      out += text[i++];
    } else if (isEscape(cp)) {
      out += static_cast<char>(cp - kEscBase);
      i += n;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

nlohmann::json jsonForText(const nlohmann::json& j) {
  return mapStrings(j, [](const std::string& s) { return textForJson(s); });
}

nlohmann::json jsonFromText(const nlohmann::json& j) {
  return mapStrings(j, [](const std::string& s) { return textFromJson(s); });
}

std::string dumpJson(const nlohmann::json& j, int indent) {
  try {
    return jsonForText(j).dump(indent);
  } catch (const std::exception&) {
    // Cannot happen after jsonForText; kept so that no caller ever sees a throw.
    return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

bool parseJson(const std::string& text, nlohmann::json& j) {
  try {
    j = jsonFromText(nlohmann::json::parse(text));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool writeJsonOver(const std::string& path, const nlohmann::json& json, std::string* error) {
  return writeFileOver(path, dumpJson(json, 2), error);
}

}  // namespace lumo

namespace orvel {

bool fileStat(const std::string& path, int64_t& size, int64_t& mtime) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  size = static_cast<int64_t>(st.st_size);
  mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  return true;
}

bool copyFile(const std::string& src, const std::string& dst, std::string* error) {
  int64_t srcSize = 0, srcTime = 0;
  if (!fileStat(src, srcSize, srcTime)) {
    noteReason(error);
    return false;
  }
  int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    noteReason(error);
    return false;
  }
  const std::string part = orvel::partOf(dst);
  int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    noteReason(error);
    ::close(in);
    return false;
  }
  bool ok = true;
  static thread_local char buf[1 << 16];
  for (;;) {
    ssize_t r = ::read(in, buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      noteReason(error);
      ok = false;
      break;
    }
    if (r == 0) break;
    if (!writeAll(out, buf, static_cast<size_t>(r))) {
      noteReason(error);
      ok = false;
      break;
    }
  }
  ::close(in);
  if (!syncAndClose(out) && ok) {
    noteReason(error);
    ok = false;
  }
  int64_t partSize = -1, partTime = 0;
  if (ok && (!fileStat(part, partSize, partTime) || partSize != srcSize)) {
    if (error) *error = "the copy came out short";
    ok = false;
  }
  if (!ok) {
    ::unlink(part.c_str());
    return false;
  }
  return renameOver(part, dst, error);
}

bool sameBytes(const std::string& a, const std::string& b) {
  int64_t sa = 0, ta = 0, sb = 0, tb = 0;
  if (!fileStat(a, sa, ta) || !fileStat(b, sb, tb) || sa != sb) return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  static thread_local char ba[1 << 16], bb[1 << 16];
  for (;;) {
    fa.read(ba, sizeof ba);
    fb.read(bb, sizeof bb);
    const std::streamsize na = fa.gcount(), nb = fb.gcount();
    if (na != nb || std::memcmp(ba, bb, static_cast<size_t>(na)) != 0) return false;
    if (na == 0) return fa.eof() && fb.eof() && !fa.bad() && !fb.bad();
  }
}

CutMark readCutMark(const std::string& aptPath) {
  CutMark m;
  int fd = ::open(orvel::markOf(aptPath).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return m;
  char buf[256];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return m;
  buf[n] = '\0';
  // strtoll skips leading white space and is not swayed by the user's locale.
  auto number = [](char*& p, long long& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(p, &end, 10);
    if (end == p || errno == ERANGE) return false;
    p = end;
    return true;
  };
  char* p = buf;
  long long size = 0, mtime = 0;
  if (!number(p, size) || !number(p, mtime)) return m;
  m.size = size;
  m.mtime = mtime;
  m.valid = true;
  // Evidence after the two numbers; anything else there is ignored.
  while (*p == ' ' || *p == '\t') ++p;
  long long nextSize = 0, nextTime = 0;
  if (size < 0 && std::strncmp(p, "next", 4) == 0) {
    p += 4;
    if (number(p, nextSize) && number(p, nextTime) && nextSize >= 0) {
      m.hasNext = true;
      m.nextSize = nextSize;
      m.nextMtime = nextTime;
    }
  }
  return m;
}

bool writeMark(const std::string& aptPath, int64_t size, int64_t mtime, std::string* error) {
  char text[64];
  std::snprintf(text, sizeof text, "%" PRId64 " %" PRId64 "\n", size, mtime);
  // Through the replace helper: a mark torn by a crash could read as a
  // different, valid but wrong mark and lock the file out of restore.
  return lumo::writeFileOver(orvel::markOf(aptPath), text, error);
}

bool writeNextMark(const std::string& aptPath, int64_t nextSize, int64_t nextMtime, std::string* error) {
  char text[96];
  std::snprintf(text, sizeof text, "-1 0 next %" PRId64 " %" PRId64 "\n", nextSize, nextMtime);
  return lumo::writeFileOver(orvel::markOf(aptPath), text, error);
}

bool clearCutMark(const std::string& aptPath) {
  const std::string mark = orvel::markOf(aptPath);
  return ::unlink(mark.c_str()) == 0 || errno == ENOENT;
}

bool markSays(const CutMark& mark, const std::string& aptPath) {
  if (!mark.valid) return false;
  int64_t size = 0, mtime = 0;
  if (!fileStat(aptPath, size, mtime)) return false;
  if (mark.size >= 0) return size == mark.size && mtime == mark.mtime;
  // A provisional mark proves only the rewrite it names. Without that the
  // file is the original or someone else's - judgeFile compares the bytes.
  return mark.hasNext && size == mark.nextSize && mtime == mark.nextMtime;
}

AptState judgeFile(const std::string& aptPath, const CutMark& expected) {
  const std::string backup = orvel::backupOf(aptPath);
  int64_t bsize = 0, btime = 0, size = 0, mtime = 0;
  const bool haveBackup = fileStat(backup, bsize, btime);
  const bool haveFile = fileStat(aptPath, size, mtime);
  if (!haveBackup) {
    if (!haveFile) return AptState::kGone;
    return markSays(expected, aptPath) ? AptState::kCutNoBackup : AptState::kUntouched;
  }
  if (!haveFile || size == 0) return AptState::kMissing;
  if (markSays(expected, aptPath)) return AptState::kCut;
  if (size == bsize && sameBytes(aptPath, backup)) return AptState::kOriginal;
  return AptState::kChanged;
}

std::string systemReason() {
  const int e = errno;
  return e ? std::strerror(e) : "unknown error";
}

}  // namespace orvel
