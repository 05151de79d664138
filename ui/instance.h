// One launcher per user: a second start brings the running launcher's window
// to the front and ends at once, instead of waiting for the single-instance
// lock only to say that it is taken.
//
// The running launcher marks its window (markInstance, once the window
// exists; X11 only) with the folder its lock lives in, so only a launcher
// that would contend for the same lock answers. It takes the mark back while
// it hands over to a restarted launcher (withdrawInstanceMark, and
// restoreInstanceMark when the restart failed) and as soon as it starts to
// close, so the new or next launcher never raises a window that is going away.
//
// raiseRunningLauncher runs in the second launcher before the lock: true when
// it found a marked window on its display and asked for it to be shown and
// raised; false (no display, no marked window, an X error) sends the caller
// on to the lock and its wait. Main thread only; nothing here logs.
#pragma once

struct GLFWwindow;

void markInstance(GLFWwindow* window);
void withdrawInstanceMark();
void restoreInstanceMark();

bool raiseRunningLauncher();
