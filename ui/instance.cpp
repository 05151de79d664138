#include "ui/instance.h"

#include <GLFW/glfw3.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

// GLFW's X11 accessors, declared as glfw3native.h does; that header would
// also want the XRandR headers, which nothing here uses.
extern "C" {
Display* glfwGetX11Display(void);
Window glfwGetX11Window(GLFWwindow* window);
}

#include <string>

#include "host/paths.h"

namespace {

constexpr const char* kMarkAtom = "_TAXILUME_LAUNCHER";

// What the mark says: launchers that share this folder share the lock.
std::string markValue() { return lumo::tempDir(); }

GLFWwindow* g_marked = nullptr;

void setMark(bool on) {
  if (!g_marked) return;
  Display* d = glfwGetX11Display();
  const Window w = glfwGetX11Window(g_marked);
  if (!d || !w) return;
  const Atom mark = XInternAtom(d, kMarkAtom, False);
  if (on) {
    const std::string v = markValue();
    XChangeProperty(d, w, mark, XA_STRING, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(v.data()),
                    int(v.size()));
  } else {
    XDeleteProperty(d, w, mark);
  }
  // At once: a second launcher may be looking right now.
  XSync(d, False);
}

bool g_xFailed = false;
int noteXError(Display*, XErrorEvent*) {
  g_xFailed = true;
  return 0;
}

bool hasMark(Display* d, Window w, Atom mark, const std::string& want) {
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  bool match = false;
  if (XGetWindowProperty(d, w, mark, 0, 1024, False, XA_STRING, &type, &format, &n, &after, &data) == Success &&
      data && type == XA_STRING && format == 8)
    match = std::string(reinterpret_cast<char*>(data), n) == want;
  if (data) XFree(data);
  return match;
}

// Top-level windows and, under a window manager that frames them, their
// children: the launcher's own window is one or two levels below the root.
Window findMarked(Display* d, Window w, Atom mark, const std::string& want, int depth) {
  Window root = 0, parent = 0, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; ++i)
    if (hasMark(d, kids[i], mark, want)) found = kids[i];
  for (unsigned i = 0; i < n && !found && depth > 1; ++i) found = findMarked(d, kids[i], mark, want, depth - 1);
  if (kids) XFree(kids);
  return found;
}

bool managerSupports(Display* d, Atom what) {
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  bool yes = false;
  if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTED", False), 0, 4096, False, XA_ATOM,
                         &type, &format, &n, &after, &data) == Success &&
      data && format == 32) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < n && !yes; ++i) yes = atoms[i] == what;
  }
  if (data) XFree(data);
  return yes;
}

}  // namespace

void markInstance(GLFWwindow* window) {
  g_marked = window;
  setMark(true);
}

void withdrawInstanceMark() { setMark(false); }
void restoreInstanceMark() { setMark(true); }

bool raiseRunningLauncher() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  // Only an atom some launcher created on this display can be on a window.
  const Atom mark = XInternAtom(d, kMarkAtom, True);
  bool raised = false;
  if (mark != None) {
    g_xFailed = false;
    XErrorHandler before = XSetErrorHandler(noteXError);
    const Window w = findMarked(d, DefaultRootWindow(d), mark, markValue(), 3);
    if (w && !g_xFailed) {
      // A window manager brings a window forward (and out of its icon) on
      // _NET_ACTIVE_WINDOW; "from a pager" (2), as focus-stealing rules let
      // that through. Without a manager, mapping and raising does it.
      const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
      if (managerSupports(d, active)) {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = active;
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
      }
      XMapRaised(d, w);
      XSync(d, False);
      raised = !g_xFailed;  // the window went away meanwhile: not raised
    }
    XSetErrorHandler(before);
  }
  XCloseDisplay(d);
  return raised;
}
