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

// Why a --root folder is not taken, in the user's terms.
std::string notXPlaneBecause(const std::string& given, const std::string& root) {
  std::string path = root;  // without the slash, so that a file reads as a file
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st {};
  std::string why;
  if (::stat(path.c_str(), &st) != 0)
    why = "there is no such folder";
  else if (!S_ISDIR(st.st_mode))
    why = "that is a file, not a folder";
  else
    why = "that folder holds no X-Plane 12 (no Resources/version.txt, no X-Plane-x86_64)";
  if (given[0] == '~') why += " - a ~ inside quotes is not your home folder; leave it outside the quotes";
  return why;
}

}  // namespace

int startupCore(const lumo::CommandLine& cl, bool* rootRefused, bool (*raiseRunning)(),
                bool readOnly) {
  if (rootRefused) *rootRefused = false;
  if (cl.hostGiven) takeHostOption(cl.host);
  if (cl.rootGiven) takeRootOption(cl.root);

  if (raiseRunning && raiseRunning()) {
    std::fputs("Taxilume Launcher is already running - its window is now in front.\n", stderr);
    return 0;
  }

  std::string lockError;
  if (!readOnly && !lumo::acquireSingleLock(lockError)) {
    if (!lockError.empty()) {
      std::fprintf(stderr, "Taxilume Launcher cannot start: %s\n", lockError.c_str());
      return 1;
    }
    std::fputs("Taxilume Launcher is already running.\n", stderr);
    return 0;
  }

  if (!readOnly) {
    lumo::sweepOldSelf();
    const std::string self = lumo::selfPath();
    if (!self.empty() && anyFileAt(self + ".old")) std::thread(sweepLeftovers, self + ".old").detach();
  }

  const bool quitRestore = lumo::loadQuitRestore();
  std::string given;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.restoreOnQuit = quitRestore;
    given = g_app.root;
  }

  // Discovery reads only files and /proc; nothing else runs yet.
  std::string root = lumo::canonicalRoot(lumo::findRoot(given));
  std::string refusal;
  if (!given.empty() && !lumo::looksLikeXPlane(root)) {
    // A mistyped --root must not become a folder the launcher writes into,
    // nor replace the remembered one: start as if nothing was found.
    refusal = "!! --root " + given + ": " + notXPlaneBecause(given, root) + ".";
    lumo::findRootProbed().push_back("--root " + given + " (not an X-Plane 12 folder)");
    root.clear();
    if (rootRefused) *rootRefused = true;
  }
  if (!root.empty() && !readOnly) lumo::rememberRoot(root);
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = root;
    g_app.pluginDir = root.empty() ? std::string() : lumo::pluginDirOf(root);
  }

  refreshLocal(true);
  if (!refusal.empty()) g_app.say(refusal);
  g_app.say(root.empty() ? g_words.notFound() : "X-Plane: " + root);
  return kStartupGoOn;
}
