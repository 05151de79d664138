#include "engine/aptfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <streambuf>

#include "engine/claim.h"
#include "engine/lightwalk.h"
#include "engine/rewrite.h"
#include "scenery/manifest.h"
#include "common/siblings.h"

namespace {

// An output buffer straight onto a descriptor, so that the rewrite can fsync
// the very descriptor it wrote (a file stream hides it). The first failing
// write sticks: later output is dropped and reported as failed.
class FdBuf : public std::streambuf {
 public:
  explicit FdBuf(int fd) : fd_(fd), buf_(1 << 20) { setp(buf_.data(), buf_.data() + buf_.size()); }
  ~FdBuf() override = default;
  bool ok() const { return ok_; }
  const std::string& reason() const { return reason_; }

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
        reason_ = w < 0 ? orvel::systemReason() : "no room to write";
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
  std::string reason_;
  std::vector<char> buf_;
};

// The per-block work of one file: look the block's airport up, point a copy
// of the base scope at its geometry (engine/claim.h), then record what will
// be taken and split the lights in one walk over the rows as read.
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
    const orvel::SuppressScope s = orveldb::scopeFor(it->second, base);
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
                 std::string* error, Walk walkBlocks) {
  using orvel::systemReason;
  using orvel::fileStat;
  using orvel::copyFile;
  changed = false;
  auto reason = [&](const std::string& text) {
    if (error && error->empty()) *error = text;
  };
  if (error) error->clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    reason(systemReason());
    return false;
  }
  const std::string tmp = orvel::tmpOf(path);
  struct stat st;
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    reason(systemReason());
    return false;
  }
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
    if (!buf.ok()) reason(buf.reason());  // a write failed: that is the cause, not the reading
    else if (!ok) reason("could not read the file to its end");
    ok = ok && out.good() && buf.ok();
  }
  if (ok && changed && ::fsync(fd) != 0) {
    reason(systemReason());
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    reason(systemReason());
    ok = false;
  }
  if (ok && changed && beforeReplace && !beforeReplace()) {
    reason("could not write the cut mark");
    ok = false;
  }
  if (!ok || !changed) {
    ::unlink(tmp.c_str());
    if (!ok) changed = false;
    return ok;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    reason(systemReason());
    // A rename that failed after losing P: bring the original back.
    const std::string backup = orvel::backupOf(path);
    int64_t s = 0, t = 0;
    if (!fileStat(path, s, t) && fileStat(backup, s, t)) (void)copyFile(backup, path);  // the failure is reported
    ::unlink(tmp.c_str());
    changed = false;
    return false;
  }
  // A folder that cannot be flushed does not undo the rename that happened.
  (void)lumo::fsyncParentDir(path);
  return true;
}

}  // namespace

namespace orvel {

bool rewriteBlocks(const std::string& path, bool& changed, const BlockFn& fn,
                   const std::function<bool()>& beforeReplace, const CodeFilter& wants, std::string* error) {
  return rewriteWith(path, changed, beforeReplace, error, [&](std::istream& in, std::ostream& out, bool& ch) {
    return forEachBlock(in, out, fn, ch, wants);
  });
}

bool rewriteBlocksText(const std::string& path, bool& changed, const BlockTextFn& fn,
                       const std::function<bool()>& beforeReplace, const CodeFilter& wants, std::string* error) {
  return rewriteWith(path, changed, beforeReplace, error, [&](std::istream& in, std::ostream& out, bool& ch) {
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
  const std::string backup = orvel::backupOf(path);
  const orvel::CutMark mark = manifestDir.empty() ? orvel::readCutMark(path) : orvel::ourMark(manifestDir, path);
  int64_t size = 0, mtime = 0;
  std::string why;

  // A backup is kept only when P is proven to be the file we wrote or the
  // very original it copies; anything else means the backup is older than P.
  bool madeBackup = false;  // this call owns the backup: it goes again when nothing is taken
  switch (orvel::judgeFile(path, mark)) {
    case orvel::AptState::kCut:
      break;
    case orvel::AptState::kOriginal:
      // A copy left by an interrupted pass or restore: the same bytes as P,
      // so it serves as this pass's backup.
      madeBackup = true;
      if (!orvel::writeMark(path, -1, 0, &why)) {
        r.message = "could not write the cut mark for " + path + " (" + why + ")";
        return r;
      }
      break;
    case orvel::AptState::kChanged:
    case orvel::AptState::kMissing:
      r.message = path + " changed since Taxilume cut it (a sim or scenery update?) - the copy at " + backup +
                  " is from BEFORE that change. Delete it (or put it back by hand) before suppressing again.";
      return r;
    case orvel::AptState::kCutNoBackup:
      r.message = "Taxilume already suppressed " + path + " and its backup (" + backup +
                  ") is gone - restore the scenery (or reinstall the pack) before suppressing again";
      return r;
    case orvel::AptState::kUntouched:
    case orvel::AptState::kGone:
      if (!orvel::clearCutMark(path)) {
        r.message = "could not remove the old cut mark of " + path + " (" + orvel::systemReason() + ")";
        return r;
      }
      if (!orvel::copyFile(path, backup, &why)) {
        r.message = "backup copy failed for " + path + " (" + why + ")";
        return r;
      }
      madeBackup = true;
      if (!orvel::writeMark(path, -1, 0, &why)) {
        // Without a mark the backup would read as not ours; P is untouched.
        ::unlink(backup.c_str());
        r.message = "could not write the cut mark for " + path + " (" + why + ")";
        return r;
      }
      break;
  }

  std::vector<std::string> local;
  ClaimBlocks claim{scopes, base, local, taken, 0, {}, {}};
  bool changed = false;
  const std::string tmp = orvel::tmpOf(path);
  const bool ok = orvel::rewriteBlocksText(
      path, changed,
      [&](const std::string& code, const std::vector<std::string_view>& rows, std::string& text) {
        return claim(code, rows, text);
      },
      // The new content is complete and flushed: name it in the mark before
      // it replaces P, so that a crash right after the rename leaves P
      // provably ours.
      [&]() {
        int64_t nsize = 0, ntime = 0;
        if (!orvel::fileStat(tmp, nsize, ntime)) {
          why = orvel::systemReason();
          return false;
        }
        return orvel::writeNextMark(path, nsize, ntime, &why);
      },
      // Blocks of airports outside the scope map are left alone by claim anyway.
      [&](const std::string& code) { return scopes.count(code) > 0; }, &why);
  r.changed = changed;
  r.exclusions = claim.splits;
  if (!ok) {
    if (madeBackup && orvel::sameBytes(path, backup)) {
      // P was never replaced: a failed pass leaves nothing of its own behind.
      ::unlink(backup.c_str());
      (void)orvel::clearCutMark(path);  // a left-over mark without backup reads as not ours
      r.message = "rewrite failed for " + path + " (" + why + ") - the file was not changed";
    } else {
      r.message = "rewrite failed for " + path + " (" + why + ") - the original is at " + backup;
    }
    return r;
  }
  if (changed && !(orvel::fileStat(path, size, mtime) && orvel::writeMark(path, size, mtime, &why))) {
    // The provisional mark stays and names this rewrite: restore can still
    // put the original back, and the caller rolls back now.
    r.message = "could not write the cut mark for " + path + " - the original is at " + backup;
    return r;
  }
  touched.insert(touched.end(), local.begin(), local.end());
  r.ok = true;
  if (changed) {
    r.message = std::to_string(local.size()) + " airport(s), " + std::to_string(claim.splits) + " exclusion(s)";
    return r;
  }
  if (madeBackup) {
    // Nothing was taken: the file was never altered, so neither the copy nor
    // the mark this call made may stay. Backup first: a mark left alone
    // reads as not ours.
    ::unlink(backup.c_str());
    (void)orvel::clearCutMark(path);
  }
  r.message = local.empty() ? "defines none of them" : "defines " + std::to_string(local.size()) + ", nothing lit to take";
  return r;
}

}  // namespace orveldb
