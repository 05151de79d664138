#include "app/startup.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "app/check.h"
#include "app/state.h"
#include "host/discover.h"
#include "host/paths.h"
#include "host/selfupdate.h"
#include "host/xplane.h"

namespace {

bool anyFileAt(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Sleeps the whole time even when a signal cuts nanosleep short.
void sleepMs(long ms) {
  timespec left{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// The old build can stay busy for a moment after a restart; keep trying to
// delete it (and older left-overs) for up to 15 seconds. Touches no g_app field.
void sweepLeftovers(std::string old) {
  for (int i = 0; i < 30; ++i) {
    if (!anyFileAt(old)) return;
    sleepMs(500);
    for (std::string name = old; std::remove(name.c_str()) == 0; name += ".old") {
    }
  }
}

}  // namespace

int startupCore(int argc, char** argv, bool (*raiseRunning)()) {
  scanCommandLine(argc, argv);

  if (raiseRunning && raiseRunning()) {
    std::fputs("Taxilume Launcher is already running - its window is now in front.\n", stderr);
    return 0;
  }

  if (!lumo::acquireSingleLock()) {
    std::fputs("Taxilume Launcher is already running.\n", stderr);
    return 0;
  }

  lumo::sweepOldSelf();
  const std::string self = lumo::selfPath();
  if (!self.empty() && anyFileAt(self + ".old")) std::thread(sweepLeftovers, self + ".old").detach();

  const bool quitRestore = lumo::loadQuitRestore();
  std::string given;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.restoreOnQuit = quitRestore;
    given = g_app.root;
  }

  // Discovery reads only files and /proc; nothing else runs yet.
  const std::string root = lumo::canonicalRoot(lumo::findRoot(given));
  if (!root.empty()) lumo::rememberRoot(root);
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = root;
    g_app.pluginDir = root.empty() ? std::string() : lumo::pluginDirOf(root);
  }

  refreshLocal(true);
  g_app.say(root.empty() ? "!! X-Plane 12 was not found. Use Browse to point at it." : "X-Plane: " + root);
  return kStartupGoOn;
}
