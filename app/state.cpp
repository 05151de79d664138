#include "app/state.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <thread>
#include <utility>

#include "app/check.h"
#include "net/text.h"

App g_app;
NextStepWords g_words;

const lumo::LogFn LOG = [](const std::string& line) { g_app.say(line); };

namespace {

// Guarded by g_app.mtx, like the log it mirrors.
lumo::LogFn g_echo;

// Lets waitForIdle sleep instead of spinning; busy itself stays the hand-over.
// Both live for the whole process and are never destroyed: a job thread
// still notifies after clearing busy, and the main thread may by then be
// running the static destructors on its way out.
std::mutex& idleMtx() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::condition_variable& idleCv() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

// The front end's wake-up, guarded by its own never-destroyed mutex for the
// same reason.
std::mutex& wakeMtx() {
  static std::mutex* m = new std::mutex;
  return *m;
}
void (*g_wakeHook)() = nullptr;

// Reads a whole decimal port the way strtol does; anything else is 0.
int readPort(const std::string& s) {
  if (s.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str()) return 0;
  if (v < 1 || v > 65535) return 0;
  return static_cast<int>(v);
}

void startJobThread(std::function<void()> fn);

}  // namespace

void App::say(const std::string& line) {
  std::lock_guard<std::mutex> lock(mtx);
  sayLocked(line);
}

void App::sayLocked(const std::string& text) {
  // Lines carry server text (revisions, versions, paths, names): a line
  // break in it must not start a line of the server's choosing.
  const std::string line = net::printable(text, kLogLineMax);
  log.push_back(line);
  if (log.size() > kLogCap) log.erase(log.begin());
  if (g_echo) g_echo(line);
  wakeFrontEnd();
}

void setWakeHook(void (*wake)()) {
  std::lock_guard<std::mutex> lock(wakeMtx());
  g_wakeHook = wake;
}

void wakeFrontEnd() {
  std::lock_guard<std::mutex> lock(wakeMtx());
  if (g_wakeHook) g_wakeHook();
}

void setLogEcho(lumo::LogFn echo) {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  g_echo = std::move(echo);
}

void run(const char* name, std::function<void()> fn) {
  if (g_app.busy.exchange(true)) return;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.jobName = name ? name : "";
  }
  try {
    startJobThread(std::move(fn));
  } catch (const std::exception& e) {
    // No thread could be made: report it and free the runner again.
    {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      g_app.jobName.clear();
      g_app.sayLocked(std::string("!! could not start ") + (name ? name : "the job") + ": " + e.what());
    }
    {
      std::lock_guard<std::mutex> lock(idleMtx());
      g_app.busy.exchange(false);
    }
    idleCv().notify_all();
    wakeFrontEnd();
  }
}

namespace {

void startJobThread(std::function<void()> fn) {
  std::thread([fn = std::move(fn)]() {
    // The safety net: a job that throws must not end the process or leave
    // the buttons disabled for good.
    try {
      if (fn) fn();
    } catch (const std::exception& e) {
      g_app.say(std::string("!! ") + e.what());
    } catch (...) {
      g_app.say("!! the job stopped on an unexpected error");
    }
    try {
      refreshLocal(true);
    } catch (const std::exception& e) {
      g_app.say(std::string("!! ") + e.what());
    } catch (...) {
      g_app.say("!! the refresh stopped on an unexpected error");
    }
    {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      g_app.jobName.clear();
    }
    {
      // Taking idleMtx() around the store keeps a waiter from missing it.
      std::lock_guard<std::mutex> lock(idleMtx());
      g_app.busy.exchange(false);
    }
    idleCv().notify_all();
    wakeFrontEnd();  // the window shows the job's end at once
  }).detach();
}

}  // namespace

void waitForIdle() {
  std::unique_lock<std::mutex> lock(idleMtx());
  idleCv().wait(lock, [] { return !g_app.busy.load(); });
}

namespace {

std::mutex g_writeMtx;
std::condition_variable g_writeCv;
int g_writers = 0;      // guarded by g_writeMtx
bool g_writesHeld = false;

}  // namespace

WritingPhase::WritingPhase() {
  std::unique_lock<std::mutex> lock(g_writeMtx);
  g_writeCv.wait(lock, [] { return !g_writesHeld; });
  ++g_writers;
}

WritingPhase::~WritingPhase() {
  {
    std::lock_guard<std::mutex> lock(g_writeMtx);
    --g_writers;
  }
  g_writeCv.notify_all();
}

bool writingNow() {
  std::lock_guard<std::mutex> lock(g_writeMtx);
  return g_writers > 0;
}

void holdWrites() {
  std::unique_lock<std::mutex> lock(g_writeMtx);
  g_writesHeld = true;
  g_writeCv.wait(lock, [] { return g_writers == 0; });
}

void takeHostOption(const std::string& val) {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  std::string host = val;
  const auto colon = val.find(':');
  if (colon != std::string::npos && val.find(':', colon + 1) == std::string::npos) {
    host = val.substr(0, colon);
    g_app.port = readPort(val.substr(colon + 1));
  }
  if (!host.empty()) g_app.host = host;
  if (g_app.port < 1 || g_app.port > 65535) g_app.port = lumo::kDefaultPort;
}

void takeRootOption(const std::string& val) {
  std::lock_guard<std::mutex> lock(g_app.mtx);
  if (!val.empty()) g_app.root = val;
}

