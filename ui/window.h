// The launcher's one window, drawn every frame by the frame loop in
// app/gui.cpp between ImGui::NewFrame() and ImGui::Render().
//
// draw() copies what it shows from g_app under the mutex, draws from that
// copy, hands every slow action to run() and never blocks on one. It may set
// g_growTo to ask the frame loop for a taller window. Nothing here fails.
#pragma once

#include <string>

struct ImFont;
struct ImVec4;
struct GLFWwindow;

// The launcher's window (null until created) and a window height in pixels
// the contents ask for (0: none). Main thread only; the frame loop in
// app/gui.cpp owns both and consumes g_growTo after each frame.
extern GLFWwindow* g_win;
extern int g_growTo;

// headingFont may be null: the title then uses the default font.
void draw(ImFont* headingFont);

// A status dot in the given colour, then the next item on the same line.
void dot(const ImVec4& colour);

// A 26-pixel-high button, drawn disabled (and never pressed) when !enabled.
bool smallBtn(const char* label, bool enabled);

// The "Custom Sceneries" section (ui/packview.cpp), step 11 of draw().
// listRoom: the height the pack list may take without pushing the buttons
// or the log out of the window. Returns the list's height (0: no list).
struct WindowSnapshot;
float drawPackSection(const WindowSnapshot& s, float listRoom);

// Converts a main-window x to an offset for SameLine in the region being
// drawn, so right-aligned buttons line up whichever region they are in.
float mainX(float x);
extern float g_mainW;

