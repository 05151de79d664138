#include "host/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>
#include <filesystem>

#include "common/text.h"

extern char** environ;

namespace lumo {

namespace {

std::string envValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string passwdHome() {
  const struct passwd* pw = getpwuid(getuid());
  return (pw && pw->pw_dir) ? std::string(pw->pw_dir) : std::string();
}

// The target of a /proc link, at most 4095 bytes; empty when unreadable.
std::string readLink(const std::string& link) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The first command-line argument of a process, up to its first NUL.
std::string firstArg(const std::string& cmdlinePath) {
  const int fd = open(cmdlinePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string out;
  char buf[1024];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    const void* nul = std::memchr(buf, '\0', static_cast<size_t>(n));
    if (nul) {
      out.append(buf, static_cast<const char*>(nul) - buf);
      break;
    }
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > 65536) break;  // no sane argv[0] is this long
  }
  close(fd);
  return out;
}

}  // namespace

std::string slashes(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string withSlash(const std::string& s) {
  if (s.empty() || s.back() == '/') return s;
  return s + "/";
}

std::string homeDir() {
  std::string h = envValue("HOME");
  if (h.empty()) h = passwdHome();
  return slashes(h);
}

std::string tempDir() {
  const std::string t = envValue("TMPDIR");
  return withSlash(t.empty() ? std::string("/tmp") : slashes(t));
}

std::string configDir() {
  const std::string xdg = envValue("XDG_CONFIG_HOME");
  if (!xdg.empty()) return slashes(xdg) + "/Taxilume";
  const std::string home = envValue("HOME");
  if (!home.empty()) return slashes(home) + "/.config/Taxilume";
  const std::string pw = passwdHome();
  if (!pw.empty()) return slashes(pw) + "/.config/Taxilume";
  return {};
}

bool acquireSingleLock() {
  const std::string path = tempDir() + "taxilume-launcher.lock";
  for (int attempt = 0; attempt < 24; ++attempt) {
    // O_CLOEXEC: X-Plane and the archive tools must not inherit the lock,
    // or a launched simulator would keep the next launcher out.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // fd stays open for the process's life
      close(fd);
    }
    usleep(500 * 1000);
  }
  return false;
}

bool simRunning(const std::string& prefix) {
  if (prefix.empty()) return false;
  DIR* dir = opendir("/proc");
  if (!dir) return false;
  const long self = static_cast<long>(getpid());
  bool found = false;
  while (const struct dirent* e = readdir(dir)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    if (std::strtol(e->d_name, nullptr, 10) == self) continue;
    const std::string base = std::string("/proc/") + e->d_name;
    std::string path = readLink(base + "/exe");
    if (path.empty()) path = firstArg(base + "/cmdline");
    if (path.empty()) continue;
    for (char& c : path) {
      if (c == '\\') c = '/';
      else c = lowerAscii(c);
    }
    if (prefix.size() < path.size() && path.compare(0, prefix.size(), prefix) == 0) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool runQuiet(const std::vector<std::string>& argv, int& exitCode) {
  if (argv.empty()) return false;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;

  int status = 0;
  pid_t w;
  do {
    w = waitpid(pid, &status, 0);
  } while (w < 0 && errno == EINTR);
  if (w < 0) {
    // The child ran but its status is lost (someone else reaped it): count
    // it as failed so the caller tries its next option.
    exitCode = 1;
    return true;
  }
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  return true;
}

bool loadQuitRestore() {
  const std::string dir = configDir();
  if (dir.empty()) return true;
  std::ifstream in(dir + "/restore-on-quit.txt", std::ios::binary);
  if (!in) return true;
  std::string line;
  if (!std::getline(in, line)) return true;
  return !(line == "0" || line == "false");
}

void saveQuitRestore(bool restoreOnQuit) {
  const std::string dir = configDir();
  if (dir.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::ofstream out(dir + "/restore-on-quit.txt", std::ios::binary | std::ios::trunc);
  if (out) out << (restoreOnQuit ? '1' : '0');
}

bool writeFresh(const std::string& path, const std::string& bytes, unsigned mode) {
  ::unlink(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  // A power cut after a rename must not leave an empty file in its place.
  const bool synced = ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

}  // namespace lumo
