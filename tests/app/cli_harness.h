// Running taxilume-cli as a child process in a world of its own: a temporary
// X-Plane folder built from real airport slices, the local server, and HOME,
// XDG_CONFIG_HOME and TMPDIR pointed into the test's temporary folder.
#pragma once

#include <string>
#include <vector>

#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"

namespace tl {

struct CliRun {
  int status = -1;                 // exit status; -1 when it did not exit normally
  std::vector<std::string> lines;  // standard output, one entry per line
  std::string err;                 // standard error
  std::string out() const;         // lines joined for failure messages
  bool has(const std::string& line) const;
  // Index of the first line equal to `line` at or after `from`; -1 if none.
  int find(const std::string& line, int from = 0) const;
  // Index of the first line starting with `prefix`; -1 if none.
  int findPrefix(const std::string& prefix, int from = 0) const;
};

// The header, the licence line and the named airport blocks of the
// 12-airport sample in tests/data, closed with "99": a real apt.dat, small enough for a test.
std::string aptSlice(const std::vector<std::string>& codes);

// An X-Plane folder with a global apt.dat and one add-on pack that defines
// KROC again, a local server whose maps come from the same files (with two
// publishers' add-on maps for KROC), and a home for the CLI.
class CliWorld {
 public:
  // pluginZip, when given, is published as plugin release pluginVersion.
  explicit CliWorld(const std::string& pluginZip = "", const std::string& pluginVersion = "1.0.0");
  CliWorld(const CliWorld&) = delete;
  CliWorld& operator=(const CliWorld&) = delete;

  // Runs the shipped CLI (or `program`) with --host and --root in front of args.
  // With termOn, SIGTERM is sent as soon as its output holds that text.
  CliRun cli(const std::vector<std::string>& args, const std::string& program = "",
             const std::string& termOn = "") const;
  // Runs the shipped CLI with exactly these arguments, in the folder cwd().
  CliRun run(const std::vector<std::string>& args, const std::string& program = "",
             const std::string& termOn = "") const;

  std::string root() const { return dir_.path() + "/X-Plane 12/"; }
  std::string pluginDir() const { return root() + "Resources/plugins/Taxilume"; }
  std::string globalApt() const;
  std::string packApt() const;
  const std::string& error() const { return error_; }  // set-up failure, empty when fine
  devserver::Server& server() { return server_; }
  int port() const { return port_; }
  std::string path(const std::string& rel) const { return dir_ / rel; }
  std::string cwd() const { return dir_ / "home"; }  // where the CLI runs
  std::string configDir() const { return dir_ / "cfg/Taxilume"; }

 private:
  TempDir dir_;
  devserver::Server server_;
  int port_ = 0;
  std::string error_;
};

// Preloads lib into the programs started while it lives (LD_PRELOAD), and
// puts the environment back after. In a sanitizer build the runtime's check
// that it comes first in the library list is switched off: a preloaded
// shim necessarily comes before it, and the shims only pass calls on.
class Preload {
 public:
  explicit Preload(const char* lib);
  ~Preload();
  Preload(const Preload&) = delete;
  Preload& operator=(const Preload&) = delete;

 private:
  bool hadAsan_ = false;
  std::string asan_;
};

}  // namespace tl
