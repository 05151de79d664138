// The launcher's one state record, its colours, the job runner and the log.
//
// Everything the launcher knows lives in `g_app`, guarded by `g_app.mtx`
// (one non-recursive mutex; never held across a network request, a scan, a
// pass or a sleep). `busy` and `quitRequested` are atomics read without it.
//
// Calling order:
//   1. the command line before anything else (start-up, app/startup.h, hands
//      the options of app/cmdline.h to takeHostOption/takeRootOption);
//   2. run(name, fn) from the main thread to start a background job; at most
//      one runs, a second request while busy is dropped silently;
//   3. g_app.say(line) / LOG(line) from any thread to append to the log, or
//      g_app.sayLocked(line) from code that already holds g_app.mtx.
// Nothing here throws. A job body that throws anyway is caught by the runner,
// logged as "!! " + what(), and `busy` is still cleared.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/log.h"
#include "packs/scan.h"
#include "server/api.h"
#include "server/maps.h"

// One RGBA colour, channels 0..1. Plain floats so the core needs no GUI
// headers; the window converts them to its own vector type.
struct Rgba {
  float r, g, b, a;
};

constexpr Rgba rgb255(int r, int g, int b) { return Rgba{r / 255.0f, g / 255.0f, b / 255.0f, 1.0f}; }

constexpr Rgba C_BG = rgb255(10, 14, 22);       // window and scrollbar background, clear colour
constexpr Rgba C_SURF = rgb255(20, 26, 38);     // child and popup backgrounds
constexpr Rgba C_EDGE = rgb255(34, 43, 58);     // borders, separators
constexpr Rgba C_CTRL = rgb255(29, 38, 54);     // frames and buttons
constexpr Rgba C_CTRLB = rgb255(44, 56, 80);    // pressed buttons
constexpr Rgba C_HOVER = rgb255(41, 53, 75);    // hovered/active frames, hovered buttons
constexpr Rgba C_TEXT = rgb255(230, 235, 242);  // text
constexpr Rgba C_MUT = rgb255(122, 134, 153);   // muted and disabled text, detail lines
constexpr Rgba C_GO = rgb255(39, 209, 124);     // good state, check marks
constexpr Rgba C_STOP = rgb255(232, 70, 63);    // bad state, error lines, the logo
constexpr Rgba C_AMBER = rgb255(236, 166, 60);  // attention state

// The most lines the log keeps; the oldest goes first.
constexpr std::size_t kLogCap = 400;
// Longest log line kept; every line is also made printable on the way in.
constexpr std::size_t kLogLineMax = 2000;

class App {
 public:
  std::mutex mtx;
  std::string root;       // ends in "/"; empty while unknown
  std::string pluginDir;  // root + "Resources/plugins/Taxilume"; empty while root is unknown
  std::string host = lumo::kDefaultHost;
  int port = lumo::kDefaultPort;
  bool launcherUpdated = false;
  std::vector<std::string> log;  // oldest first, at most kLogCap lines
  std::atomic<bool> busy{false};
  std::string jobName;
  lumo::Geometry maps;
  bool mapsLoaded = false;
  bool suppressed = false;
  int suppressedAirports = 0;
  int suppressedFiles = 0;
  std::string passSignature;
  lumo::PackScan scan;
  // Bumped whenever `scan` is replaced, so work done on a copy of the scan
  // outside the mutex can tell whether its row indices still mean the same.
  unsigned scanSerial = 0;
  std::set<std::size_t> keepListed;
  bool scanning = false;
  bool showAllPacks = false;
  std::vector<std::string> staleCopies;
  lumo::Release latest;
  bool latestKnown = false;
  std::string pluginVersion;
  bool xplaneRunning = false;
  bool pluginInstalled = false;
  bool suppressOnLaunch = true;
  bool restoreOnQuit = true;
  std::atomic<bool> quitRequested{false};

  // Appends one line, taking mtx. Must not be called while holding mtx.
  void say(const std::string& line);
  // The same append for a caller that already holds mtx.
  void sayLocked(const std::string& line);
};

extern App g_app;

// The log callback handed to every lower layer: appends like g_app.say.
extern const lumo::LogFn LOG;

// A front end without a window (the command-line tool) sets this to see every
// line as it is appended. It is called with g_app.mtx held, in append order,
// so it must not log or take the mutex itself. Empty by default.
void setLogEcho(lumo::LogFn echo);

// A front end whose event loop sleeps sets this to be woken when the log or
// the state changes. The hook is called from any thread, possibly with
// g_app.mtx held, so it must neither log nor take the mutex; it must be
// quick. setWakeHook(nullptr) returns only once no call is under way, so a
// front end can tear down what the hook uses right after it.
void setWakeHook(void (*wake)());
// Calls the hook, if any. Safe from any thread, with or without g_app.mtx.
void wakeFrontEnd();

// Starts fn as the background job `name` unless one is running (then the
// request is dropped). Returns at once. Main thread only. The job thread
// ends with refreshLocal(true), clears jobName, and clears busy last.
void run(const char* name, std::function<void()> fn);

// Blocks until no job runs (for front ends that wait for their one job).
void waitForIdle();

// The part of a job that writes scenery, the manifest, the taken record or
// the plugin. Such a part must finish (or roll back) before the process
// ends; read-only work (a check, a scan, waiting for X-Plane) need not.
// Constructed on the job thread around the writing part; a front end that
// is closing calls holdWrites, which waits for a running part to end and
// keeps any later one from starting (its thread then waits until the
// process is gone, having written nothing).
class WritingPhase {
 public:
  WritingPhase();
  ~WritingPhase();
  WritingPhase(const WritingPhase&) = delete;
  WritingPhase& operator=(const WritingPhase&) = delete;
};

// True while a WritingPhase runs.
bool writingNow();

// Waits until no WritingPhase runs, then keeps new ones from starting. For
// the very end of the process; never returns the gate.
void holdWrites();

// --host H[:P] and --root DIR into g_app. A host with exactly one ":" is
// host and port; a bad or missing port becomes 443; an empty host or root
// changes nothing.
void takeHostOption(const std::string& value);
void takeRootOption(const std::string& value);

// The log's pointers to the user's next step name the window's controls. A
// front end without a window puts its own words here before start-up; they
// are read, never written, once threads run.
struct NextStepWords {
  std::string pointAtRoot = "Use Browse to point at it.";  // after "X-Plane 12 was not found."
  std::string packList = "the list is above the buttons";  // where packs that need a map are listed
  std::string suppress = "Press Update & Suppress";        // how to run a pass
  std::string restore = "Press Restore originals";         // how to put the originals back

  std::string notFound() const { return "!! X-Plane 12 was not found. " + pointAtRoot; }
};
extern NextStepWords g_words;
