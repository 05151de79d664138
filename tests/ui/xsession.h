// Test support for driving the real launcher window: a private X server
// (Xvfb on a display number it picks itself), the launcher as a child
// process, and the few window-manager duties no manager is there to do
// (close request, iconify), sent with Xlib as a window manager would.
//
// Order: XServer::start, Launcher::start (with the environment it needs),
// waitForMap / waitForLog to see the window settle, click() at the centre
// of a probed widget, screenshot(), requestClose(), wait(). Everything that
// fails reports a short phrase through `error` or a false return; the
// destructors kill what is still running.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace tl {

class XServer {
 public:
  XServer() = default;
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // width x height x 24; false when Xvfb is missing or does not come up.
  bool start(std::string& error, int width = 1280, int height = 1024);
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct Rect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  int cx() const { return (x0 + x1) / 2; }
  int cy() const { return (y0 + y1) / 2; }
};

// A child process with its standard error (and output) sent to a file.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& outputFile, std::string& error);
  pid_t pid() const { return pid_; }
  bool running();
  // Waits up to timeoutMs; true with the exit status (128 + signal when killed).
  bool wait(int timeoutMs, int& status);
  void kill();

 private:
  pid_t pid_ = -1;
};

// The launcher's window on `display`, found by its title.
unsigned long findWindow(const std::string& display, const std::string& title, int timeoutMs);
// Window size as the X server has it.
bool windowSize(const std::string& display, unsigned long win, int& w, int& h);
// The process behind a window (_NET_WM_PID); -1 when it does not say.
pid_t windowPid(const std::string& display, unsigned long win);
// The process exists and has not ended (a zombie counts as ended).
bool processAlive(pid_t pid);
// WM_DELETE_WINDOW, as a window manager sends it when the user closes a window.
bool requestClose(const std::string& display, unsigned long win);
// Marks the window iconic (WM_STATE) or normal again, as a manager would.
bool setIconic(const std::string& display, unsigned long win, bool iconic);

// Reads the launcher's widget map (TAXILUME_UI_MAP); empty when unreadable.
std::map<std::string, Rect> readUiMap(const std::string& path);
// Waits until the map has `name`; false after timeoutMs.
bool waitForWidget(const std::string& mapPath, const std::string& name, Rect& rect, int timeoutMs);

// xdotool: move to the window-relative point and click button 1.
bool click(const std::string& display, unsigned long win, int x, int y);
// xdotool: turn the mouse wheel `clicks` notches down at the window-relative point.
bool wheelDown(const std::string& display, unsigned long win, int x, int y, int clicks);
// imagemagick's import of the whole screen into `png`.
bool screenshot(const std::string& display, const std::string& png);
// The same of one window only.
bool screenshotWindow(const std::string& display, unsigned long win, const std::string& png);

// A plain window of another client laid over the whole screen, as another
// program's window would cover the launcher; gone with the object.
class Cover {
 public:
  Cover() = default;
  ~Cover();
  Cover(const Cover&) = delete;
  Cover& operator=(const Cover&) = delete;
  bool open(const std::string& display);
  unsigned long window() const { return win_; }

 private:
  void* display_ = nullptr;
  unsigned long win_ = 0;
};
// `a` is stacked above `b` (both children of the root, no window manager).
bool stackedAbove(const std::string& display, unsigned long a, unsigned long b);

// The CLIPBOARD selection's text as its owner hands it over; empty when
// nobody owns it or it does not answer within timeoutMs.
std::string clipboardText(const std::string& display, int timeoutMs);

// Polls `pred` every 50 ms for up to timeoutMs.
template <class F>
bool eventually(F pred, int timeoutMs);

// CPU time (user + system) of a process in clock ticks; -1 when unreadable.
long long cpuTicks(pid_t pid);

}  // namespace tl

#include <chrono>
#include <thread>

template <class F>
bool tl::eventually(F pred, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}
