/* Asks a window to close the way a window manager does when the user clicks
 * its close button: a WM_DELETE_WINDOW client message. Under a bare X server
 * there is no manager to send it, and destroying the window or killing the
 * client would skip the program's own shutdown, which is what the demo test
 * is about.
 *
 *   demo_wmclose WINDOW-ID     (decimal or 0x hex, as xdotool prints it)
 *
 * Exit status 0 when the message was sent, 1 with a line on standard error
 * otherwise. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: demo_wmclose WINDOW-ID\n", stderr);
    return 1;
  }
  char* end = NULL;
  unsigned long id = strtoul(argv[1], &end, 0);
  if (!*argv[1] || *end || id == 0) {
    fprintf(stderr, "demo_wmclose: not a window id: %s\n", argv[1]);
    return 1;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fputs("demo_wmclose: cannot open the display\n", stderr);
    return 1;
  }
  XEvent ev;
  memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = (Window)id;
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
  ev.xclient.data.l[1] = CurrentTime;
  Status ok = XSendEvent(d, (Window)id, False, NoEventMask, &ev);
  XSync(d, False);
  XCloseDisplay(d);
  if (!ok) {
    fputs("demo_wmclose: the message could not be sent\n", stderr);
    return 1;
  }
  return 0;
}
