// Display-free rules of the launcher window: what the window decides from
// the state it shows, kept apart from the drawing so that they can be
// checked without a display.
//
// All functions are pure: they take plain values and return plain values,
// touch no global state and cannot fail. The window calls them once per
// frame from draw(); the frame loop calls windowHeight() once at start-up
// and grownHeight() after every frame.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lumo {

// The plugin row offers "Install"/"Update": only once the latest release is
// known; always when the installed version is unknown (empty); otherwise
// when the latest is newer by the launcher's version rule (lumo::verNewer:
// runs of digits, padded to three numbers, the first three compared).
bool pluginUpdateAvailable(bool latestKnown, const std::string& installed, const std::string& latest);

// The Scenery row's "from an older map": a pass is in force, the maps are
// loaded with a revision, and the pass was made against another revision.
// A pass that used taxi networks signs itself with the revision followed by
// "+" and a hash of the networks; that still counts as the current map.
bool passFromOlderMap(bool suppressed, bool mapsLoaded, const std::string& rev, const std::string& signature);

// What the enabling of the window's job buttons depends on.
struct ButtonInputs {
  bool busy = false;             // a job runs
  bool xplaneRunning = false;
  bool rootKnown = false;
  bool pluginInstalled = false;
  bool suppressed = false;       // a pass is in force
  bool latestKnown = false;
};

struct ButtonStates {
  bool launch = false;           // "Launch X-Plane"
  bool suppress = false;         // "Update & Suppress"
  bool restore = false;          // "Restore originals"
  bool plugin = false;           // "Install" / "Update"
  bool other = false;            // "Browse...", "Restart now", "Delete the old copies", "Show all"/"Hide"
};

ButtonStates buttonStates(const ButtonInputs& in);

// How a log line is drawn, decided by its first character only.
enum class LogTone { normal, error, detail };
LogTone logTone(const std::string& line);

// The argument list of the restarted launcher: its own path, then
// "--host" host:port unless host is the default server host.
std::vector<std::string> restartArgs(const std::string& self, const std::string& host, int port);

// The window's height at start-up: 1093, or the primary monitor's work-area
// height when that is above 320 and below 1093. Width is always kWindowWidth.
constexpr int kWindowWidth = 900;
constexpr int kWindowMaxHeight = 1093;
int windowHeight(bool haveMonitor, int workAreaHeight);

// A growth request against the current height: the new height, capped at
// the work area when one is known (workAreaHeight > 0), or 0 when the window
// stays as it is (no request, or the request is not taller). Never shrinks.
int grownHeight(int request, int currentHeight, int workAreaHeight);

// The width of a piece of text [begin, end) as the window would draw it.
using TextWidth = std::function<float(const char* begin, const char* end)>;

// `text` when it fits in maxWidth; otherwise its start and end joined by
// "..." in the middle, as long as fits (never cutting a UTF-8 character).
// Paths keep both the folder they start in and the one they end in.
std::string middleEllipsis(const std::string& text, float maxWidth, const TextWidth& width);

// Where a log line breaks to fit maxWidth: the offsets at which each drawn
// line after the first begins. A line breaks after a blank or a slash, so
// paths break between folders rather than inside a name; a piece with no
// such place that is wider than a whole line is cut between characters.
std::vector<std::size_t> wrapPoints(const std::string& line, float maxWidth, const TextWidth& width);

}  // namespace lumo
