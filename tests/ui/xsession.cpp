#include "xsession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tl {

namespace {

// Runs argv with the given extra environment and waits for it; exit status or -1.
int runWait(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  Child c;
  std::string err;
  if (!c.start(argv, env, "/dev/null", err)) return -1;
  int status = -1;
  if (!c.wait(20000, status)) return -1;
  return status;
}

struct Disp {
  Display* d = nullptr;
  explicit Disp(const std::string& name) : d(XOpenDisplay(name.c_str())) {}
  ~Disp() {
    if (d) XCloseDisplay(d);
  }
};

bool titleOf(Display* d, Window w, std::string& out) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    out = name;
    XFree(name);
    return true;
  }
  return false;
}

Window searchTree(Display* d, Window w, const std::string& title) {
  std::string t;
  if (titleOf(d, w, t) && t == title) return w;
  Window root, parent, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; ++i) found = searchTree(d, kids[i], title);
  if (kids) XFree(kids);
  return found;
}

}  // namespace

XServer::~XServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int st;
    waitpid(pid_, &st, 0);
  }
}

bool XServer::start(std::string& error, int width, int height) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) {
    error = "no Xvfb";
    return false;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    error = "no pipe";
    return false;
  }
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const std::string fd = std::to_string(fds[1]);
  pid_ = fork();
  if (pid_ < 0) {
    error = "fork failed";
    return false;
  }
  if (pid_ == 0) {
    close(fds[0]);
    int nul = open("/dev/null", O_WRONLY);
    dup2(nul, 1);
    dup2(nul, 2);
    // -displayfd: the server picks a free display number and writes it here.
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
          "-noreset", (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string num;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    num += c;
  }
  close(fds[0]);
  if (num.empty()) {
    error = "Xvfb did not report a display";
    return false;
  }
  display_ = ":" + num;
  return true;
}

Child::~Child() { kill(); }

bool Child::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& outputFile, std::string& error) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    bool replaced = false;
    for (const std::string& x : env)
      if (kv.compare(0, kv.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    if (!replaced) envs.push_back(kv);
  }
  for (const std::string& x : env) envs.push_back(x);
  std::vector<char*> av, ev;
  for (const std::string& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  for (const std::string& e : envs) ev.push_back(const_cast<char*>(e.c_str()));
  ev.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  const int rc = posix_spawnp(&pid_, av[0], &fa, nullptr, av.data(), ev.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    pid_ = -1;
    error = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
    return false;
  }
  return true;
}

bool Child::running() {
  if (pid_ <= 0) return false;
  siginfo_t info{};
  // Looks without reaping, so wait() still gets the status.
  if (waitid(P_PID, pid_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

bool Child::wait(int timeoutMs, int& status) {
  if (pid_ <= 0) return false;
  const bool done = eventually(
      [&] {
        int st = 0;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r != pid_) return false;
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        pid_ = -1;
        return true;
      },
      timeoutMs);
  return done;
}

void Child::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int st;
  waitpid(pid_, &st, 0);
  pid_ = -1;
}

unsigned long findWindow(const std::string& display, const std::string& title, int timeoutMs) {
  Disp x(display);
  if (!x.d) return 0;
  Window found = 0;
  eventually(
      [&] {
        found = searchTree(x.d, DefaultRootWindow(x.d), title);
        return found != 0;
      },
      timeoutMs);
  return found;
}

bool windowSize(const std::string& display, unsigned long win, int& w, int& h) {
  Disp x(display);
  if (!x.d) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(x.d, win, &a)) return false;
  w = a.width;
  h = a.height;
  return true;
}

pid_t windowPid(const std::string& display, unsigned long win) {
  Disp x(display);
  if (!x.d) return -1;
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  pid_t pid = -1;
  if (XGetWindowProperty(x.d, win, XInternAtom(x.d, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                         &n, &after, &data) == Success &&
      data && n == 1 && format == 32)
    pid = pid_t(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return pid;
}

bool processAlive(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = s.rfind(')');
  if (close == std::string::npos || close + 2 >= s.size()) return false;
  return s[close + 2] != 'Z' && s[close + 2] != 'X';
}

bool requestClose(const std::string& display, unsigned long win) {
  Disp x(display);
  if (!x.d) return false;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = win;
  ev.xclient.message_type = XInternAtom(x.d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = long(XInternAtom(x.d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  const bool ok = XSendEvent(x.d, win, False, NoEventMask, &ev) != 0;
  XFlush(x.d);
  return ok;
}

bool setIconic(const std::string& display, unsigned long win, bool iconic) {
  Disp x(display);
  if (!x.d) return false;
  const Atom wmState = XInternAtom(x.d, "WM_STATE", False);
  const long data[2] = {iconic ? IconicState : NormalState, 0};
  XChangeProperty(x.d, win, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(data), 2);
  XFlush(x.d);
  return true;
}

std::map<std::string, Rect> readUiMap(const std::string& path) {
  std::map<std::string, Rect> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    // The name may hold blanks; the four numbers are the last fields.
    std::vector<std::string> parts;
    size_t end = line.size();
    Rect r;
    int* fields[4] = {&r.y1, &r.x1, &r.y0, &r.x0};
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
      size_t sp = line.rfind(' ', end - 1);
      if (sp == std::string::npos) {
        ok = false;
        break;
      }
      *fields[i] = std::atoi(line.substr(sp + 1, end - sp - 1).c_str());
      end = sp;
    }
    if (ok) out[line.substr(0, end)] = r;
  }
  return out;
}

bool waitForWidget(const std::string& mapPath, const std::string& name, Rect& rect, int timeoutMs) {
  return eventually(
      [&] {
        auto m = readUiMap(mapPath);
        auto it = m.find(name);
        if (it == m.end()) return false;
        rect = it->second;
        return true;
      },
      timeoutMs);
}

bool click(const std::string& display, unsigned long win, int x, int y) {
  const std::vector<std::string> env{"DISPLAY=" + display};
  const std::string w = std::to_string(win);
  if (runWait({"xdotool", "mousemove", "--window", w, std::to_string(x), std::to_string(y)}, env) != 0) return false;
  // ImGui sees the hover one frame before the press; give it a few frames.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  if (runWait({"xdotool", "mousedown", "1"}, env) != 0) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (runWait({"xdotool", "mouseup", "1"}, env) != 0) return false;
  // Park the pointer away from the widgets so hover does not colour the screenshots.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // (Screen coordinates: the click may have closed the window.)
  return runWait({"xdotool", "mousemove", "1270", "1010"}, env) == 0;
}

bool wheelDown(const std::string& display, unsigned long win, int x, int y, int clicks) {
  const std::vector<std::string> env{"DISPLAY=" + display};
  if (runWait({"xdotool", "mousemove", "--window", std::to_string(win), std::to_string(x), std::to_string(y)}, env) != 0)
    return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  return runWait({"xdotool", "click", "--repeat", std::to_string(clicks), "--delay", "30", "5"}, env) == 0;
}

bool screenshot(const std::string& display, const std::string& png) {
  return runWait({"import", "-display", display, "-window", "root", png}, {}) == 0;
}

bool screenshotWindow(const std::string& display, unsigned long win, const std::string& png) {
  return runWait({"import", "-display", display, "-window", std::to_string(win), png}, {}) == 0;
}

Cover::~Cover() {
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

bool Cover::open(const std::string& display) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  display_ = d;
  const int screen = DefaultScreen(d);
  win_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen), 0,
                             BlackPixel(d, screen), BlackPixel(d, screen));
  XMapRaised(d, win_);
  XSync(d, False);
  return win_ != 0;
}

bool stackedAbove(const std::string& display, unsigned long a, unsigned long b) {
  Disp x(display);
  if (!x.d) return false;
  Window root, parent, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(x.d, DefaultRootWindow(x.d), &root, &parent, &kids, &n)) return false;
  // Bottom first: the later a child comes, the higher it is stacked.
  int ia = -1, ib = -1;
  for (unsigned i = 0; i < n; ++i) {
    if (kids[i] == a) ia = int(i);
    if (kids[i] == b) ib = int(i);
  }
  if (kids) XFree(kids);
  return ia >= 0 && ib >= 0 && ia > ib;
}

std::string clipboardText(const std::string& display, int timeoutMs) {
  Disp x(display);
  if (!x.d) return "";
  const Window w = XCreateSimpleWindow(x.d, DefaultRootWindow(x.d), 0, 0, 1, 1, 0, 0, 0);
  const Atom clipboard = XInternAtom(x.d, "CLIPBOARD", False);
  const Atom utf8 = XInternAtom(x.d, "UTF8_STRING", False);
  const Atom into = XInternAtom(x.d, "TL_CLIP", False);
  XConvertSelection(x.d, clipboard, utf8, into, w, CurrentTime);
  XFlush(x.d);
  std::string out;
  eventually(
      [&] {
        XEvent ev;
        while (XPending(x.d)) {
          XNextEvent(x.d, &ev);
          if (ev.type != SelectionNotify) continue;
          if (ev.xselection.property == None) return true;  // refused
          Atom type;
          int format;
          unsigned long n = 0, after = 0;
          unsigned char* data = nullptr;
          if (XGetWindowProperty(x.d, w, into, 0, 1 << 20, True, AnyPropertyType, &type, &format, &n, &after,
                                 &data) == Success &&
              data)
            out.assign(reinterpret_cast<char*>(data), n);
          if (data) XFree(data);
          return true;
        }
        return false;
      },
      timeoutMs);
  XDestroyWindow(x.d, w);
  return out;
}

long long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = s.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(s.substr(close + 2));
  std::string f;
  // Fields after the command: state is field 3; utime 14, stime 15.
  long long utime = -1, stime = -1;
  for (int i = 3; rest >> f; ++i) {
    if (i == 14) utime = std::atoll(f.c_str());
    if (i == 15) {
      stime = std::atoll(f.c_str());
      break;
    }
  }
  return utime < 0 || stime < 0 ? -1 : utime + stime;
}

}  // namespace tl
