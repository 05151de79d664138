// The window's parts for the preview: the "Preview" button beside the main
// buttons, the list of previewed airports with a "Show" button each, and the
// panel that draws one airport as the pass sees it (the geometry of
// pass/picture.h, drawn with ImGui's draw list: drag to pan, wheel to zoom,
// Escape or the close box to close).
//
// Call drawPreviewButton right after the main buttons (same line),
// drawPreviewList below them, and drawAirportPanel once per frame after the
// main window has ended. Main thread only; nothing fails.
#pragma once

void drawPreviewButton(bool enabled);
void drawPreviewList(bool busy);
void drawAirportPanel();

// An Escape key press, as the window's key callback sees it. A press and its
// release that reach the loop between two frames never show as a pressed
// key to this ImGui version, so the panel also takes the press from here.
void notePanelEscape();
