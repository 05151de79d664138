// An automation aid for driving the real window from outside (the tests click
// it with xdotool): when the environment variable TAXILUME_UI_MAP names a
// file, the window writes there, whenever it changes, one line per probed
// visible widget: "name x0 y0 x1 y1" in window pixels; a disabled button's
// name ends in " [off]", and status rows appear as "row:<label>:<state>".
// Without the variable every call returns at once.
//
// probeItem() after the widget it names; probeEndFrame() once per frame
// after the frame was swapped to the screen, so the map never runs ahead of
// what a screenshot shows. File errors are ignored.
#pragma once

#include <string>

void probeItem(const std::string& name);
void probeEndFrame();
