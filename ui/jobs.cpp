#include "ui/jobs.h"

#include <spawn.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/actions.h"
#include "app/check.h"
#include "app/state.h"
#include "host/discover.h"
#include "host/selfupdate.h"
#include "host/xplane.h"
#include "scenery/manifest.h"
#include "scenery/state.h"
#include "app/winrules.h"

extern char** environ;

void jobPickFolder() {
  std::string error;
  std::string folder = lumo::browseForRoot(&error);
  if (folder.empty()) {
    if (!error.empty()) LOG("!! " + error);
    return;
  }
  folder = lumo::canonicalRoot(folder);
  if (!lumo::looksLikeXPlane(folder)) {
    LOG("!! that folder is not an X-Plane 12 install");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = folder;
    g_app.pluginDir = lumo::pluginDirOf(folder);
    g_app.scan = lumo::PackScan{};
    ++g_app.scanSerial;
    g_app.keepListed.clear();
  }
  lumo::rememberRoot(folder);
  refreshLocal(true);
  g_app.say("X-Plane: " + folder);
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.jobName = "matching your scenery packs";
  }
  actionRescan();
}

void jobPlugin() { installLatestPlugin(); }

bool restartNow() {
  const std::string self = lumo::selfPath();
  if (self.empty()) return false;
  std::string host;
  int port = 0;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    host = g_app.host;
    port = g_app.port;
  }
  const std::vector<std::string> args = lumo::restartArgs(self, host, port);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  g_app.quitRequested.store(true);
  return true;
}
