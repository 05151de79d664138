#include "cli_harness.h"

#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tl {

std::string CliRun::out() const {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s + (err.empty() ? "" : "[stderr] " + err);
}

bool CliRun::has(const std::string& line) const { return find(line) >= 0; }

int CliRun::find(const std::string& line, int from) const {
  for (int i = from; i < static_cast<int>(lines.size()); ++i)
    if (lines[i] == line) return i;
  return -1;
}

int CliRun::findPrefix(const std::string& prefix, int from) const {
  for (int i = from; i < static_cast<int>(lines.size()); ++i)
    if (lines[i].rfind(prefix, 0) == 0) return i;
  return -1;
}

std::string aptSlice(const std::vector<std::string>& codes) {
  std::ifstream in(testData("sample-global-apt.dat"), std::ios::binary);
  std::string line, out, code;
  int n = 0;
  bool keep = false;
  while (std::getline(in, line)) {
    ++n;
    if (n <= 3) {  // "I", the version and licence line, the blank after it
      out += line + "\n";
      continue;
    }
    std::istringstream toks(line);
    std::string t0, t1, t2, t3, t4;
    toks >> t0;
    if (t0 == "1" || t0 == "16" || t0 == "17") {
      toks >> t1 >> t2 >> t3 >> t4;
      keep = false;
      for (const auto& c : codes) keep = keep || c == t4;
    } else if (t0 == "99") {
      keep = false;
    }
    if (keep) out += line + "\n";
  }
  return out + "99\r\n";
}

CliWorld::CliWorld(const std::string& pluginZip, const std::string& pluginVersion) {
  writeFile(globalApt(), aptSlice({"KROC", "LZIB"}));
  writeFile(packApt(), aptSlice({"KROC"}));
  writeFile(root() + "Custom Scenery/scenery_packs.ini",
            "I\r\n1000 Version\r\nSCENERY\r\n\r\nSCENERY_PACK Custom Scenery/Rochester Pro/\r\n"
            "SCENERY_PACK *GLOBAL_AIRPORTS*\r\n");
  writeFile(root() + "Resources/version.txt", "12.0.9\n");

  devserver::BuildOptions opt;
  opt.aptDat = globalApt();
  opt.addOns = {{"Foo Sceneries", packApt()}, {"Bar Works", packApt()}};
  opt.rev = "r1";
  opt.pluginZip = pluginZip;
  opt.pluginVersion = pluginVersion;
  int airports = 0;
  if (!devserver::buildFolder(opt, dir_ / "srv", airports, error_)) return;
  if (!server_.start(dir_ / "srv", 0, error_)) return;
  port_ = server_.port();
  for (const char* d : {"home", "cfg", "tmp"}) writeFile(dir_ / (std::string(d) + "/.keep"), "");
}

std::string CliWorld::globalApt() const { return root() + "Global Scenery/Global Airports/Earth nav data/apt.dat"; }
std::string CliWorld::packApt() const { return root() + "Custom Scenery/Rochester Pro/Earth nav data/apt.dat"; }

CliRun CliWorld::cli(const std::vector<std::string>& args, const std::string& program,
                     const std::string& termOn) const {
  std::vector<std::string> all = {"--host", "127.0.0.1:" + std::to_string(port_), "--root", root()};
  all.insert(all.end(), args.begin(), args.end());
  return run(all, program, termOn);
}

CliRun CliWorld::run(const std::vector<std::string>& args, const std::string& program,
                     const std::string& termOn) const {
  CliRun result;
  const std::string exe = program.empty() ? std::string(TL_CLI) : program;
  std::vector<std::string> argv = {exe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    // XDG_RUNTIME_DIR would put the lock of every test's tool in one place.
    if (v.rfind("HOME=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0 || v.rfind("TMPDIR=", 0) == 0 ||
        v.rfind("XDG_RUNTIME_DIR=", 0) == 0)
      continue;
    env.push_back(v);
  }
  env.push_back("HOME=" + (dir_ / "home"));
  env.push_back("XDG_CONFIG_HOME=" + (dir_ / "cfg"));
  env.push_back("TMPDIR=" + (dir_ / "tmp"));
  std::vector<char*> cenv;
  for (auto& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    result.err = "pipe failed";
    return result;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&fa, outPipe[0]);
  posix_spawn_file_actions_addclose(&fa, errPipe[0]);
  // A relative path the CLI wrongly made would land in the test's folder.
  const std::string dir = cwd();
  posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }

  // Both pipes are drained together so a chatty child never blocks on one.
  std::string out;
  bool termSent = false;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (auto& f : fds) {
      if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = read(f.fd, buf, sizeof buf);
      if (n > 0) {
        (f.fd == outPipe[0] ? out : result.err).append(buf, static_cast<size_t>(n));
        if (!termOn.empty() && out.find(termOn) != std::string::npos && !termSent)
          termSent = kill(pid, SIGTERM) == 0;
      } else if (n == 0 || errno != EINTR) {
        close(f.fd);
        f.fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) result.lines.push_back(l);
  return result;
}

Preload::Preload(const char* lib) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  hadAsan_ = asan != nullptr;
  asan_ = asan ? asan : "";
  setenv("ASAN_OPTIONS", (asan_ + (asan_.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
  setenv("LD_PRELOAD", lib, 1);
}

Preload::~Preload() {
  unsetenv("LD_PRELOAD");
  if (hadAsan_)
    setenv("ASAN_OPTIONS", asan_.c_str(), 1);
  else
    unsetenv("ASAN_OPTIONS");
}

}  // namespace tl
