// A small launcher stand-in for the host tests. Tests copy it into folder
// trees they build, so that /proc/self/exe really lies where the test wants
// it, and read what it prints:
//
//   host_probe findroot [explicit]   the root, then one "probe: " line each
//   host_probe lock                  "locked" or "busy"; when locked, holds the
//                                    lock until stdin closes (exit 0 / 1)
//   host_probe simrunning <prefix>   "1" or "0"
//   host_probe selfupdate <host> <port>
//                                    "log: " lines, then "ok 0|1", "updated
//                                    0|1" and "error <text>"
//   host_probe selfpath              the cached own path
//   host_probe --version             $TL_PROBE_VERSION, else the launcher's
//                                    version, as a launcher build answers
//   lock also prints "error <text>" when the lock file cannot be opened
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/discover.h"
#include "host/paths.h"
#include "host/selfupdate.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--version") {
    // Standing in for a downloaded build being tried out.
    const char* v = std::getenv("TL_PROBE_VERSION");
    std::printf("%s\n", v ? v : lumo::kLauncherVersion);
    return 0;
  }
  if (mode == "findroot") {
    const std::string root = lumo::findRoot(argc > 2 ? argv[2] : "");
    std::printf("root %s\n", root.c_str());
    for (const std::string& line : lumo::findRootProbed()) std::printf("probe: %s\n", line.c_str());
    return 0;
  }
  if (mode == "lock") {
    std::string error;
    if (!lumo::acquireSingleLock(error)) {
      if (!error.empty()) std::printf("error %s\n", error.c_str());
      else std::printf("busy\n");
      return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
  }
  if (mode == "simrunning" && argc > 2) {
    std::printf("%d\n", lumo::simRunning(argv[2]) ? 1 : 0);
    return 0;
  }
  if (mode == "selfupdate" && argc > 3) {
    bool updated = false;
    std::string error;
    const bool ok = lumo::selfUpdate(argv[2], std::atoi(argv[3]),
                                     [](const std::string& l) { std::printf("log: %s\n", l.c_str()); },
                                     updated, error);
    std::printf("ok %d\nupdated %d\nerror %s\n", ok ? 1 : 0, updated ? 1 : 0, error.c_str());
    return 0;
  }
  if (mode == "selfpath") {
    std::printf("%s\n", lumo::selfPath().c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: host_probe findroot|lock|simrunning|selfupdate|selfpath ...\n");
  return 2;
}
