#include "app/actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "common/text.h"
#include "app/check.h"
#include "app/state.h"
#include "host/paths.h"
#include "host/xplane.h"
#include "pass/pass.h"
#include "plugin/install.h"
#include "scenery/manifest.h"
#include "scenery/restore.h"
#include "scenery/state.h"
#include "common/siblings.h"

LaunchWait g_launchWait;

namespace {

const char* const kSimRunning = "!! X-Plane is running. Close it first.";

struct Where {
  std::string root, pluginDir, host;
  int port = lumo::kDefaultPort;
};

Where where() {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  return Where{g_app.root, g_app.pluginDir, g_app.host, g_app.port};
}

bool simUp(const std::string& root) { return lumo::simRunning(lumo::lowerAscii(root)); }

// Size and whole-second modification time; both 0 when the file is missing.
struct Stamp {
  bool exists = false;
  long long size = 0;
  long long mtime = 0;
};

Stamp stamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return Stamp{true, static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtime)};
}

// Starts `exe` with `dir` as its working directory, in a session of its own,
// as a grandchild so that it is never our child. Returns false when the first
// fork fails. Everything the children touch is prepared before forking: only
// async-signal-safe calls are allowed after fork in a threaded process.
bool spawnDetached(const std::string& exe, const std::string& dir) {
  const char* exeC = exe.c_str();
  const char* dirC = dir.c_str();
  char* const argv[] = {const_cast<char*>(exeC), nullptr};
  long maxFd = sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;

  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);  // also when that fork failed
    if (chdir(dirC) != 0) _exit(127);
    // The simulator gets the default signal handling, whatever ours is.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    setsid();
    // The simulator must not inherit our descriptors: the single-instance
    // lock would stay held for as long as it runs, and a caller reading our
    // output through a pipe would wait for the simulator to exit.
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      dup2(devNull, 0);
      dup2(devNull, 1);
      dup2(devNull, 2);
    }
    for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
    execv(exeC, argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace

bool doSuppress() {
  const Where w = where();
  if (simUp(w.root)) {
    g_app.say(kSimRunning);
    return false;
  }
  g_app.say("Fetching the published maps from " + w.host + "...");
  actionCheck();

  lumo::Geometry maps;
  bool loaded = false;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    loaded = g_app.mapsLoaded;
    if (loaded) maps = g_app.maps;
  }
  if (!loaded) {
    const bool inForce = !w.pluginDir.empty() && lumo::suppressionState(w.pluginDir, w.root).inForce;
    g_app.say(inForce ? "Your scenery is left exactly as it is - nothing was touched."
                      : "Nothing was changed - start X-Plane normally.");
    return false;
  }
  // Without a folder there is nothing to restore or rewrite, and an empty
  // plugin folder would point the manifest at the file-system root.
  if (w.root.empty()) {
    g_app.say(g_words.notFound());
    return false;
  }
  bool quitRestore = true;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    quitRestore = g_app.restoreOnQuit;
  }

  // From here on scenery, the manifest and the taken record are written:
  // closing the launcher waits for this phase to end.
  const WritingPhase writing;
  // The manifest and the taken record live in the plugin folder; before the
  // plugin is installed it does not exist yet, and the pass could record
  // nothing (and would roll itself back).
  std::error_code ec;
  std::filesystem::create_directories(w.pluginDir, ec);

  int needPick = 0;
  const lumo::PassResult r = lumo::replacePass(
      w.root, w.pluginDir, maps, LOG, quitRestore, w.host, w.port, [&maps, &needPick]() {
        const lumo::PackScan scan = scanIntoApp(maps);
        for (const auto& row : scan.rows)
          if (row.status == lumo::kPackNeedsPick && !row.dismissed) ++needPick;
        return scan;
      });
  if (!r.ok) {
    g_app.say("!! " + r.error);
    return false;
  }
  sayPassSummary(r, false);
  g_app.say("Verified: Taxilume scenery files have been imported.");
  if (needPick > 0)
    g_app.say(std::to_string(needPick) + " scenery pack(s) need a map picked - " + g_words.packList + ".");
  return true;
}

void sayPassSummary(const lumo::PassResult& r, bool previewOnly) {
  g_app.say((previewOnly ? "Would suppress " : "Suppressed ") + std::to_string(r.airports) + " airport(s) across " +
            std::to_string(r.files) + " file(s), " + std::to_string(r.exclusions) + " exclusion(s).");
  if (r.ownMapPacks > 0)
    g_app.say("   " + std::to_string(r.ownMapPacks) + " add-on pack(s) from their own published map.");
  if (r.notSuppressed > 0)
    g_app.say("   " + std::to_string(r.notSuppressed) + " airport(s) not suppressed - reasons above.");
  if (r.takenRuns > 0)
    g_app.say("   " + std::to_string(r.takenRuns) + (previewOnly ? " light run(s) would be recorded" : " light run(s) recorded") +
              " to put back while nobody is controlling.");
}

bool doRestore() {
  const Where w = where();
  if (simUp(w.root)) {
    g_app.say(kSimRunning);
    return false;
  }
  g_app.say("Restoring the original scenery...");
  const WritingPhase writing;
  return lumo::restoreOriginals(w.pluginDir, w.root, LOG);
}

bool doLaunch() {
  bool suppressFirst = true;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    suppressFirst = g_app.suppressOnLaunch;
  }
  if (!suppressFirst) {
    if (!doRestore()) g_app.say("Starting X-Plane anyway.");
  } else if (!doSuppress())
    g_app.say("Starting X-Plane anyway.");

  const Where w = where();
  const std::string logPath = w.root + lumo::kXPlaneLog;
  const std::string exe = w.root + lumo::kXPlaneExe;
  const Stamp before = stamp(logPath);
  if (w.root.empty() || !stamp(exe).exists) {
    g_app.say("!! X-Plane is not in " + w.root + " (" + exe + ")");
    return false;
  }
  if (!spawnDetached(exe, w.root)) {
    g_app.say("!! could not start X-Plane (fork failed)");
    return false;
  }
  g_app.say("X-Plane is starting - waiting for it to come up...");

  const LaunchWait wait = g_launchWait;
  for (int i = 0; i < wait.polls; ++i) {
    if (simUp(w.root)) break;
    if (i >= wait.logFrom) {
      const Stamp now = stamp(logPath);
      if (now.exists && (now.mtime > before.mtime || (now.mtime == before.mtime && now.size != before.size))) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(wait.pollMs));
    if (i == wait.polls - 1) {
      g_app.say("!! X-Plane did not come up within three minutes. " + g_words.restore + " if you are done.");
      return false;
    }
  }
  g_app.say("X-Plane is running. Closing the launcher.");
  g_app.quitRequested.store(true);
  return true;
}

bool installLatestPlugin() {
  const Where w = where();
  lumo::Release latest;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    latest = g_app.latest;
  }
  // Without a folder the plugin would be written relative to wherever we run.
  if (w.root.empty()) {
    g_app.say(g_words.notFound());
    return false;
  }
  std::string error;
  const WritingPhase writing;
  if (!lumo::installPlugin(w.root, w.pluginDir, w.host, w.port, latest, LOG, error)) {
    g_app.say("!! " + error);
    return false;
  }
  return true;
}

void jobDeleteOldCopies() {
  std::string root, pluginDir;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    root = g_app.root;
    pluginDir = g_app.pluginDir;
  }
  const WritingPhase writing;
  const std::vector<std::string> stale = lumo::staleBackups(root, pluginDir);
  int removed = 0;
  for (const std::string& path : stale) {
    const std::string copy = orvel::backupOf(path);
    // The copy first: a mark left without its copy reads as not ours, while
    // a copy left without its mark would read as an unknown backup.
    if (std::remove(copy.c_str()) != 0 && errno != ENOENT) {
      LOG("!! could not delete " + copy + " (" + orvel::systemReason() + ")");
      continue;
    }
    std::string why;
    if (!orvel::clearCutMark(path)) {
      LOG("!! deleted " + copy + " but not its mark " + path + ".taxilume-cut (" + orvel::systemReason() + ")");
      continue;
    }
    nlohmann::json manifest = orvel::loadManifest(pluginDir);
    if (orvel::dropRows(manifest, path) > 0 && !orvel::saveManifest(pluginDir, manifest, &why)) {
      LOG("!! deleted " + copy + " but the manifest could not be updated (" + why + ")");
      continue;
    }
    LOG("   forgot    " + copy + " - the pack was updated since we suppressed it");
    ++removed;
  }
  if (removed == static_cast<int>(stale.size()))
    LOG("Removed " + std::to_string(removed) + " outdated copy/copies. Your scenery was not touched.");
  else
    LOG("!! removed " + std::to_string(removed) + " of " + std::to_string(stale.size()) +
        " outdated copies - see the lines above. Your scenery was not touched.");
}
