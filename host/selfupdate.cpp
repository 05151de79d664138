#include "host/selfupdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/paths.h"
#include "net/net.h"
#include "net/text.h"
#include "server/api.h"

namespace lumo {

namespace {

std::vector<long> versionNumbers(const std::string& v) {
  std::vector<long> nums;
  size_t i = 0;
  while (i < v.size()) {
    if (v[i] < '0' || v[i] > '9') {
      ++i;
      continue;
    }
    long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
      if (n < 100000000L) n = n * 10 + (v[i] - '0');  // saturate: no overflow on absurd runs
    nums.push_back(n);
  }
  while (nums.size() < 3) nums.push_back(0);
  return nums;
}

// The folder the executable lies in, when this process may not create and
// rename files there (an installation under /usr/local, say); else empty.
std::string unwritableFolder(const std::string& self) {
  const size_t slash = self.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : self.substr(0, slash);
  return ::access(dir.c_str(), W_OK | X_OK) == 0 ? std::string() : dir;
}

// Said once per process: the start-up check runs again before every pass.
std::atomic<bool> g_toldUnwritable{false};

// The written build answers "--version" with exactly the published version.
bool buildStarts(const std::string& path, const std::string& version) {
  std::string out;
  int code = -1;
  if (!runOutput({path, "--version"}, kSelfCheckMs, 256, out, code) || code != 0) return false;
  return out == version || out == version + "\n";
}

}  // namespace

std::string selfPath() {
  static const std::string self = [] {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? slashes(std::string(buf, static_cast<size_t>(n))) : std::string();
  }();
  return self;
}

bool verNewer(const std::string& candidate, const std::string& current) {
  const std::vector<long> a = versionNumbers(candidate), b = versionNumbers(current);
  for (int i = 0; i < 3; ++i)
    if (a[i] != b[i]) return a[i] > b[i];
  return false;
}

bool plainVersion(const std::string& version) {
  if (version.empty() || version.size() > 64 || version == "." || version == "..") return false;
  for (const char c : version) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_' || c == '+';
    if (!ok) return false;
  }
  return true;
}

bool selfUpdate(const std::string& host, int port, const LogFn& log, bool& updated, std::string& error) {
  return selfUpdateAt(selfPath(), host, port, log, updated, error);
}

bool selfUpdateAt(const std::string& self, const std::string& host, int port, const LogFn& log,
                  bool& updated, std::string& error) {
  updated = false;
  Release rel;
  if (!fetchLatest(host, port, rel, error, kLauncherProduct)) return false;
  if (!verNewer(rel.version, kLauncherVersion)) return true;
  // The version goes into the log lines below; a published text with line
  // breaks or control bytes could forge lines there.
  if (!plainVersion(rel.version)) {
    error = "the published launcher version is not a plain version text";
    return false;
  }

  if (rel.url.empty()) {
    error = "the published launcher has no download";
    return false;
  }
  std::string path;
  if (!net::publishedPath(rel.url, host, port, kDefaultHost, path)) {
    error = std::string("the published launcher is not on ") + kDefaultHost;
    return false;
  }
  if (path.find(kLauncherProduct) == std::string::npos) {
    error = "the server answered with " + net::printable(path) + ", which is not a " + kLauncherProduct +
            " build - skipping the launcher update";
    return false;
  }
  // Downloading a build that cannot be put in place would only fail again
  // at every start.
  const std::string locked = self.empty() ? std::string() : unwritableFolder(self);
  if (!locked.empty()) {
    if (!g_toldUnwritable.exchange(true))
      say(log, "   Launcher " + rel.version + " is out; this copy in " + locked +
                   " cannot replace itself - update it with your package manager or with make install.");
    return true;
  }

  say(log, "Launcher " + rel.version + " is out - updating...");
  std::string body;
  if (!net::download(host, port, path, body) || body.size() < kMinLauncherBytes) {
    error = "the launcher download failed or was not a launcher";
    return false;
  }
  if (body.compare(0, 4, "\x7f" "ELF") != 0) {
    error = "that download was not a program for this system";
    return false;
  }
  if (!replaceSelfAt(self, body, rel.version, error)) return false;
  updated = true;
  say(log, "Launcher updated to " + rel.version + " - restart it to pick it up.");
  return true;
}

bool replaceSelf(const std::string& bytes, const std::string& version, std::string& error) {
  return replaceSelfAt(selfPath(), bytes, version, error);
}

bool replaceSelfAt(const std::string& self, const std::string& bytes, const std::string& version,
                   std::string& error) {
  if (self.empty()) {
    error = "could not find my own path";
    return false;
  }
  const std::string fresh = self + ".new", old = self + ".old";
  ::unlink(old.c_str());
  if (!writeFresh(fresh, bytes, 0755)) {
    error = "could not write " + fresh;
    return false;
  }
  struct stat st;
  if (::stat(fresh.c_str(), &st) == 0) ::chmod(fresh.c_str(), (st.st_mode & 07777) | 0111);
  // Size and ELF header say nothing about a build cut short or made for
  // another system; the user would be left with a launcher that does not
  // start and files to rename by hand.
  if (!buildStarts(fresh, version)) {
    ::unlink(fresh.c_str());
    error = "the downloaded launcher does not start - kept this one";
    return false;
  }

  if (::rename(self.c_str(), old.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(fresh.c_str());
    error = "could not move the running launcher aside: " + why;
    return false;
  }
  if (::rename(fresh.c_str(), self.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::rename(old.c_str(), self.c_str());
    ::unlink(fresh.c_str());
    error = "could not put the new launcher in place: " + why;
    return false;
  }
  return true;
}

void sweepOldSelf() { sweepOldSelfAt(selfPath()); }

void sweepOldSelfAt(const std::string& self) {
  if (self.empty()) return;
  ::unlink((self + ".new").c_str());
  std::string name = self + ".old";
  while (::unlink(name.c_str()) == 0) name += ".old";
}

}  // namespace lumo
