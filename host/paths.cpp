#include "host/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

std::string lockPath() {
  const std::string runtime = envValue("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return withSlash(slashes(runtime)) + "taxilume-launcher.lock";
  return tempDir() + "taxilume-launcher-" + std::to_string(static_cast<unsigned long>(getuid())) + ".lock";
}

bool acquireSingleLock(std::string& error) {
  const std::string path = lockPath();
  for (int attempt = 0; attempt < 24; ++attempt) {
    // O_CLOEXEC: X-Plane and the archive tools must not inherit the lock,
    // or a launched simulator would keep the next launcher out. O_NOFOLLOW:
    // a link planted in a shared folder is not a lock file.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      // Not "already running": waiting would not help and would mislead.
      error = "could not open the lock file " + path + ": " + std::strerror(errno);
      return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != getuid()) {
      // Someone else's file under our name could be held to keep us out.
      close(fd);
      error = "could not open the lock file " + path + ": it belongs to another user";
      return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // fd stays open for the process's life
    close(fd);
    usleep(500 * 1000);
  }
  error.clear();
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

namespace {

std::vector<char*> argPointers(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

// Waits for pid, retrying when a signal interrupts; its exit status, 1 when
// a signal ended it or the status is lost (someone else reaped it: count it
// as failed so the caller tries its next option).
int reap(pid_t pid) {
  int status = 0;
  pid_t w;
  do {
    w = waitpid(pid, &status, 0);
  } while (w < 0 && errno == EINTR);
  if (w < 0) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Polls pid every 5 ms until it ends (true, its status in exitCode) or
// stop() answers true (killed; false).
bool waitOrStop(pid_t pid, const std::function<bool()>& stop, int& exitCode) {
  for (;;) {
    int status = 0;
    const pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) {
      exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
      return true;
    }
    if (w < 0 && errno != EINTR) {
      exitCode = 1;
      return true;
    }
    if (stop && stop()) {
      kill(pid, SIGKILL);
      (void)reap(pid);  // killed by us: its status says nothing
      exitCode = 1;
      return false;
    }
    usleep(5 * 1000);
  }
}

}  // namespace

bool runQuiet(const std::vector<std::string>& argv, int& exitCode) {
  if (argv.empty()) return false;
  std::vector<char*> args = argPointers(argv);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  exitCode = reap(pid);
  return true;
}

bool runQuietCapped(const std::vector<std::string>& argv, unsigned long long maxFileBytes,
                    const std::function<bool()>& keepGoing, int& exitCode) {
  if (argv.empty()) return false;
  std::vector<char*> args = argPointers(argv);
  // Everything the child needs is made before fork: between fork and exec
  // only system calls are safe in a threaded process.
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return false;
  int report[2];  // the child writes errno here when exec fails
  if (pipe2(report, O_CLOEXEC) != 0) {
    close(devNull);
    return false;
  }
  const rlimit fsize{static_cast<rlim_t>(maxFileBytes), static_cast<rlim_t>(maxFileBytes)};
  const rlimit noCore{0, 0};
  const pid_t pid = fork();
  if (pid < 0) {
    close(devNull);
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (pid == 0) {
    // Past the limit a write fails with EFBIG instead of ending the tool
    // with SIGXFSZ (and a core file), so it reports and exits.
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &fsize);
    setrlimit(RLIMIT_CORE, &noCore);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    execvp(args[0], args.data());
    const int err = errno;
    (void)!write(report[1], &err, sizeof err);
    _exit(127);
  }
  close(devNull);
  close(report[1]);
  int err = 0;
  ssize_t n;
  do {
    n = read(report[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof err)) {
    (void)reap(pid);  // it never ran the program; only the zombie is left
    return false;
  }
  const std::function<bool()> stop = keepGoing ? std::function<bool()>([&] { return !keepGoing(); })
                                               : std::function<bool()>();
  (void)waitOrStop(pid, stop, exitCode);  // a killed child has exit status 1, which is all callers need
  return true;
}

bool runOutput(const std::vector<std::string>& argv, int timeoutMs, std::size_t maxOut, std::string& out,
               int& exitCode) {
  out.clear();
  if (argv.empty()) return false;
  std::vector<char*> args = argPointers(argv);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return false;
  }
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto msLeft = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  };
  // Read until end of file (the child and anything it left running closed
  // the pipe) or the time is up; output past maxOut is read and dropped.
  bool timedOut = false;
  for (;;) {
    pollfd p{pipeFds[0], POLLIN, 0};
    const int ready = poll(&p, 1, msLeft());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timedOut = true;
      break;
    }
    char buf[4096];
    const ssize_t n = read(pipeFds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (out.size() < maxOut) out.append(buf, std::min(static_cast<std::size_t>(n), maxOut - out.size()));
  }
  close(pipeFds[0]);
  if (timedOut) {
    kill(pid, SIGKILL);
    exitCode = reap(pid);
    return false;
  }
  return waitOrStop(pid, [&] { return msLeft() == 0; }, exitCode);
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
