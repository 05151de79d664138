// Shared by the host and plugin tests: environment changes undone at the end
// of a test, real child processes with pipes, and copies of executables.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tl {

// Sets or unsets variables for one test and puts the old values back.
class EnvGuard {
 public:
  ~EnvGuard() {
    for (const auto& [name, old] : saved_) {
      if (old) ::setenv(name.c_str(), old->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }
  void set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
  }

 private:
  void remember(const std::string& name) {
    if (saved_.count(name)) return;
    const char* v = std::getenv(name.c_str());
    saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// A running child with its stdin and stdout on pipes.
struct Child {
  pid_t pid = -1;
  int in = -1;   // write end of the child's stdin
  int out = -1;  // read end of the child's stdout

  static Child start(const std::vector<std::string>& argv) {
    Child c;
    int inPipe[2], outPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0) return c;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&c.pid, args[0], &fa, nullptr, args.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    c.in = inPipe[1];
    c.out = outPipe[0];
    return c;
  }
  // One line of its output without the newline; empty at end of output.
  std::string readLine() {
    std::string line;
    char ch;
    while (::read(out, &ch, 1) == 1 && ch != '\n') line += ch;
    return line;
  }
  std::string readAll() {
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    return all;
  }
  void closeInput() {
    if (in >= 0) ::close(in);
    in = -1;
  }
  bool running() const {
    int st;
    return pid > 0 && ::waitpid(pid, &st, WNOHANG) == 0;
  }
  // Exit status, or -1 when a signal ended it.
  int wait() {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  void kill() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      wait();
    }
  }
  ~Child() {
    kill();
    closeInput();
    if (out >= 0) ::close(out);
  }
};

// Runs argv to its end; its output.
inline std::string runOutput(const std::vector<std::string>& argv, int* status = nullptr) {
  Child c = Child::start(argv);
  c.closeInput();
  std::string all = c.readAll();
  const int st = c.wait();
  if (status) *status = st;
  return all;
}

// A copy of an executable at dst (folders created), executable.
inline void copyExe(const std::string& src, const std::string& dst) {
  namespace fs = std::filesystem;
  fs::create_directories(fs::path(dst).parent_path());
  fs::copy_file(src, dst, fs::copy_options::overwrite_existing);
  fs::permissions(dst, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
}

inline std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace tl
