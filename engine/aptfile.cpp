#include "engine/aptfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <streambuf>

#include "engine/lightwalk.h"
#include "engine/rewrite.h"
#include "scenery/manifest.h"

namespace {

// An output buffer straight onto a descriptor, so that the rewrite can fsync
// the very descriptor it wrote (a file stream hides it). The first failing
// write sticks: later output is dropped and reported as failed.
class FdBuf : public std::streambuf {
 public:
  explicit FdBuf(int fd) : fd_(fd), buf_(1 << 20) { setp(buf_.data(), buf_.data() + buf_.size()); }
  ~FdBuf() override = default;
  bool ok() const { return ok_; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const char* p = pbase();
    size_t n = static_cast<size_t>(pptr() - pbase());
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
    setp(buf_.data(), buf_.data() + buf_.size());
    return ok_;
  }
  int fd_;
  bool ok_ = true;
  std::vector<char> buf_;
};

// The per-block work of one file: look the block's airport up, point a copy
// of the base scope at its geometry, then record what will be taken and
// split the lights in one walk over the rows as read.
struct ClaimBlocks {
  const orveldb::ScopeMap& scopes;
  const orvel::SuppressScope& base;
  std::vector<std::string>& touched;
  orveldb::TakenMap* taken;
  int splits = 0;
  orvel::LightWalk walk;
  std::vector<orveldb::TakenRun> runs;

  bool operator()(const std::string& code, const std::vector<std::string_view>& rows, std::string& text) {
    auto it = scopes.find(code);
    if (it == scopes.end()) return false;
    touched.push_back(code);
    const orveldb::AirportScope& a = it->second;
    orvel::SuppressScope s = base;
    s.leads = a.lead.empty() ? nullptr : &a.lead;
    s.bars = a.bars.empty() ? nullptr : &a.bars;
    s.barx = (s.bars && a.barx.size() == a.bars.size()) ? &a.barx : nullptr;
    s.network = a.network.empty() ? nullptr : &a.network;
    if (!s.leads && !s.bars && !s.network) return false;
    runs.clear();
    int n = 0;
    const bool changed = walk.walk(rows, s, &text, nullptr, n, taken ? &runs : nullptr);
    // A block with runs replaces an earlier block's entry for the same code;
    // one without leaves it alone.
    if (taken && !runs.empty()) (*taken)[code] = std::move(runs);
    splits += n;
    return changed;
  }
};

// The read-rewrite-replace of rewriteBlocks around any of the block walks.
template <class Walk>
bool rewriteWith(const std::string& path, bool& changed, const std::function<bool()>& beforeReplace,
                 Walk walkBlocks) {
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

  bool ok;
  {
    FdBuf buf(fd);
    std::ostream out(&buf);
    // The walks fail on a read error before the end of the input, so a
    // file cut short by one can never be renamed over the whole one.
    ok = walkBlocks(in, out, changed);
    out.flush();
    ok = ok && out.good() && buf.ok();
  }
  if (ok && changed && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && changed && beforeReplace && !beforeReplace()) ok = false;
  if (!ok || !changed) {
    ::unlink(tmp.c_str());
    if (!ok) changed = false;
    return ok;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    // A rename that failed after losing P: bring the original back.
    const std::string backup = path + ".taxilume-orig";
    int64_t s = 0, t = 0;
    if (!orvel::fileStat(path, s, t) && orvel::fileStat(backup, s, t)) orvel::copyFile(backup, path);
    ::unlink(tmp.c_str());
    changed = false;
    return false;
  }
  lumo::fsyncParentDir(path);
  return true;
}

}  // namespace

namespace orvel {

bool rewriteBlocks(const std::string& path, bool& changed, const BlockFn& fn,
                   const std::function<bool()>& beforeReplace, const CodeFilter& wants) {
  return rewriteWith(path, changed, beforeReplace, [&](std::istream& in, std::ostream& out, bool& ch) {
    return forEachBlock(in, out, fn, ch, wants);
  });
}

bool rewriteBlocksText(const std::string& path, bool& changed, const BlockTextFn& fn,
                       const std::function<bool()>& beforeReplace, const CodeFilter& wants) {
  return rewriteWith(path, changed, beforeReplace, [&](std::istream& in, std::ostream& out, bool& ch) {
    return forEachBlockText(in, out, fn, ch, wants);
  });
}

}  // namespace orvel
namespace orveldb {

orvel::OpResult suppressAll(const std::string& path,
                            const ScopeMap& scopes,
                            const orvel::SuppressScope& base, std::vector<std::string>& touched,
                            TakenMap* taken,
                            const std::string& manifestDir) {
  orvel::OpResult r;
  r.file = path;
  if (scopes.empty()) {
    r.ok = true;
    r.message = "nothing left to claim";
    return r;
  }
  const std::string backup = path + ".taxilume-orig";
  const orvel::CutMark mark = manifestDir.empty() ? orvel::readCutMark(path) : orvel::ourMark(manifestDir, path);
  int64_t size = 0, mtime = 0;
  const bool hadBackup = orvel::fileStat(backup, size, mtime);

  if (hadBackup) {
    if (mark.valid && !orvel::markSays(mark, path)) {
      r.message = path + " changed since Taxilume cut it (a sim or scenery update?) - the copy at " + backup +
                  " is from BEFORE that change. Delete it (or put it back by hand) before suppressing again.";
      return r;
    }
  } else {
    if (mark.valid && orvel::markSays(mark, path)) {
      r.message = "Taxilume already suppressed " + path + " and its backup (" + backup +
                  ") is gone - restore the scenery (or reinstall the pack) before suppressing again";
      return r;
    }
    if (mark.valid) orvel::clearCutMark(path);
    if (!orvel::copyFile(path, backup)) {
      r.message = "backup copy failed for " + path;
      return r;
    }
    if (!orvel::writeMark(path, -1, 0)) {
      // Without a mark the backup would read as not ours; P is untouched.
      ::unlink(backup.c_str());
      r.message = "could not write the cut mark for " + path;
      return r;
    }
  }

  std::vector<std::string> local;
  ClaimBlocks claim{scopes, base, local, taken, 0, {}, {}};
  bool changed = false;
  const bool ok = orvel::rewriteBlocksText(
      path, changed,
      [&](const std::string& code, const std::vector<std::string_view>& rows, std::string& text) {
        return claim(code, rows, text);
      },
      [&]() { return !hadBackup || orvel::writeMark(path, -1, 0); },
      // Blocks of airports outside the scope map are left alone by claim anyway.
      [&](const std::string& code) { return scopes.count(code) > 0; });
  r.changed = changed;
  r.exclusions = claim.splits;
  if (!ok) {
    r.message = "rewrite failed for " + path + " - the original is at " + backup;
    return r;
  }
  if (changed && !(orvel::fileStat(path, size, mtime) && orvel::writeMark(path, size, mtime))) {
    // The provisional mark stays: restore can still put the original back,
    // and the caller rolls back now rather than keep a file whose mark
    // stops matching an hour from now.
    r.message = "could not write the cut mark for " + path + " - the original is at " + backup;
    return r;
  }
  touched.insert(touched.end(), local.begin(), local.end());
  r.ok = true;
  if (changed) {
    r.message = std::to_string(local.size()) + " airport(s), " + std::to_string(claim.splits) + " exclusion(s)";
    return r;
  }
  if (!hadBackup) {
    // Nothing was taken: the file was never altered, so neither the copy nor
    // the mark this call made may stay.
    ::unlink(backup.c_str());
    orvel::clearCutMark(path);
  }
  r.message = local.empty() ? "defines none of them" : "defines " + std::to_string(local.size()) + ", nothing lit to take";
  return r;
}

}  // namespace orveldb
