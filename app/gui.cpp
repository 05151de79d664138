// The launcher with its window: main, the GLFW/ImGui start-up, the style and
// fonts, the frame loop and the shutdown.
//
// main() runs the window-free start-up (app/startup.h), then opens the
// window, starts the start-up job "checking" and loops until the window is
// closed or quitRequested is set while no job runs. A job that is writing
// scenery, the manifest, the taken record or the plugin is let finish first
// (a rewritten apt.dat without its record would read as original scenery):
// the window stays drawn meanwhile and says so. Read-only jobs (a check, a
// scan, waiting for X-Plane) are not waited for. The lock ends with the
// process.
//
// Exit status: 0 after a normal close or when another launcher already runs,
// and after --help or --version (no window); 1 when GLFW cannot start or the
// window cannot be created; 2 on a usage error (no window).
#include <GLFW/glfw3.h>
#include <fontconfig/fontconfig.h>
#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "app/check.h"
#include "app/cmdline.h"
#include "app/startup.h"
#include "app/state.h"
#include "host/xplane.h"
#include "ui/instance.h"
#include "ui/previewpanel.h"
#include "ui/probe.h"
#include "ui/window.h"
#include "app/winrules.h"

GLFWwindow* g_win = nullptr;
int g_growTo = 0;

namespace {

const char* const kUsage =
    "usage: taxilume-launcher [--root DIR] [--host HOST[:PORT]]\n"
    "\n"
    "Opens the Taxilume Launcher window.\n"
    "\n"
    "options:\n"
    "  --root DIR          the X-Plane 12 folder; without it the launcher looks beside\n"
    "                      itself, in the folder used last, in X-Plane's install record\n"
    "                      and in the Steam libraries\n"
    "  --host HOST[:PORT]  the Taxilume server (port 443 means HTTPS, any other plain HTTP)\n"
    "  --help              this text\n"
    "  --version           the launcher's version\n"
    "\n"
    "taxilume-cli runs the same jobs without a window (taxilume-cli --help).\n"
    "exit status: 0 after the window closed, 1 when no window could be opened,\n"
    "2 on a usage error\n";

ImVec4 vec(const Rgba& c) { return ImVec4(c.r, c.g, c.b, c.a); }

void onGlfwError(int code, const char* description) {
  std::fprintf(stderr, "GLFW %d: %s\n", code, description ? description : "");
}

// The primary monitor's work-area height, or 0 when there is no monitor.
int workAreaHeight() {
  GLFWmonitor* mon = glfwGetPrimaryMonitor();
  if (!mon) return 0;
  int x = 0, y = 0, w = 0, h = 0;
  glfwGetMonitorWorkarea(mon, &x, &y, &w, &h);
  return h;
}

void applyStyle() {
  ImGui::StyleColorsDark();
  ImGuiStyle& s = ImGui::GetStyle();
  s.WindowPadding = ImVec2(16, 14);
  s.WindowRounding = 0;
  s.WindowBorderSize = 0;
  s.ChildRounding = 10;
  s.ChildBorderSize = 1;
  s.PopupRounding = 8;
  s.FramePadding = ImVec2(12, 6);
  s.FrameRounding = 8;
  s.ItemSpacing = ImVec2(10, 9);
  s.ScrollbarSize = 10;
  s.ScrollbarRounding = 3.5f;
  s.GrabRounding = 8;

  ImVec4* c = s.Colors;
  c[ImGuiCol_Text] = vec(C_TEXT);
  c[ImGuiCol_TextDisabled] = vec(C_MUT);
  c[ImGuiCol_WindowBg] = c[ImGuiCol_ScrollbarBg] = vec(C_BG);
  c[ImGuiCol_ChildBg] = c[ImGuiCol_PopupBg] = vec(C_SURF);
  c[ImGuiCol_Border] = c[ImGuiCol_Separator] = vec(C_EDGE);
  c[ImGuiCol_FrameBg] = c[ImGuiCol_Button] = vec(C_CTRL);
  c[ImGuiCol_FrameBgHovered] = c[ImGuiCol_FrameBgActive] = c[ImGuiCol_ButtonHovered] = vec(C_HOVER);
  c[ImGuiCol_ButtonActive] = vec(C_CTRLB);
  c[ImGuiCol_CheckMark] = vec(C_GO);
  c[ImGuiCol_ScrollbarGrab] = vec(rgb255(46, 58, 82));
  c[ImGuiCol_ScrollbarGrabHovered] = c[ImGuiCol_ScrollbarGrabActive] = vec(rgb255(61, 77, 107));
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The characters pack names are written in: Latin with its extensions,
// Greek and Cyrillic, and the punctuation around them (dashes, quotes, the
// ellipsis). Pack names come from folder names anywhere in the world.
const ImWchar* glyphRanges() {
  static const ImWchar ranges[] = {
      0x0020, 0x00FF,  // Basic Latin, Latin-1
      0x0100, 0x024F,  // Latin Extended-A and -B
      0x0370, 0x03FF,  // Greek
      0x0400, 0x052F,  // Cyrillic and its supplement
      0x1E00, 0x1EFF,  // Latin Extended Additional
      0x2000, 0x206F,  // General Punctuation
      0x20A0, 0x20CF,  // currency signs
      0,
  };
  return ranges;
}

bool loadableFont(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = lumo::lowerAscii(path.substr(dot));
  return (ext == ".ttf" || ext == ".otf" || ext == ".ttc") && exists(path);
}

// A system font file through fontconfig: DejaVu Sans when installed, else
// whatever the system's sans-serif stands for. Empty when there is none
// ImGui can read.
std::string systemFont(bool bold) {
  if (!FcInit()) return {};
  std::string file;
  FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(bold ? "DejaVu Sans:bold" : "DejaVu Sans"));
  if (pat) {
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pat, &result)) {
      FcChar8* f = nullptr;
      if (FcPatternGetString(match, FC_FILE, 0, &f) == FcResultMatch && f) file = reinterpret_cast<const char*>(f);
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pat);
  }
  return loadableFont(file) ? file : std::string();
}

// One font at `size`: the X-Plane file when there is one, with the system
// font merged in for the characters it lacks; the system font alone
// otherwise. Null when neither is there.
ImFont* addFont(const std::string& xplaneFile, const std::string& systemFile, float size) {
  ImGuiIO& io = ImGui::GetIO();
  ImFont* font = nullptr;
  if (!xplaneFile.empty() && exists(xplaneFile))
    font = io.Fonts->AddFontFromFileTTF(xplaneFile.c_str(), size, nullptr, glyphRanges());
  if (systemFile.empty()) return font;
  if (!font) return io.Fonts->AddFontFromFileTTF(systemFile.c_str(), size, nullptr, glyphRanges());
  ImFontConfig merge;
  merge.MergeMode = true;  // only glyphs the first file lacks are taken
  io.Fonts->AddFontFromFileTTF(systemFile.c_str(), size, &merge, glyphRanges());
  return font;
}

// The X-Plane folder's fonts when it was known at start-up (a folder picked
// later keeps the fonts loaded now), else a system font, and ImGui's
// built-in one only when neither is there. The first font added is the
// default; the heading font may be null.
ImFont* loadFonts(const std::string& root) {
  addFont(root.empty() ? "" : root + lumo::kFontRegular, systemFont(false), 17.0f);
  return addFont(root.empty() ? "" : root + lumo::kFontBold, systemFont(true), 22.0f);
}

// The display's frame period. Swap interval 1 should pace the loop, but some
// displays (a virtual X server, some remote desktops) return from the swap
// at once; then the loop waits out the rest of the period itself.
double framePeriod() {
  GLFWmonitor* mon = glfwGetPrimaryMonitor();
  const GLFWvidmode* mode = mon ? glfwGetVideoMode(mon) : nullptr;
  int hz = mode && mode->refreshRate > 0 ? mode->refreshRate : 60;
  if (hz < 30) hz = 30;
  if (hz > 240) hz = 240;
  return 1.0 / hz;
}

// Idle drawing. With a software renderer a frame costs milliseconds of CPU,
// so a window redrawn at the display rate while nothing happens keeps a core
// busy. Frames are drawn at the display rate only for a moment after any
// input or window event; otherwise the loop sleeps until the next local
// refresh, and the job thread wakes it (wakeLoop) whenever the log or the
// state changes.
constexpr double kLivelyAfterEvent = 0.75;  // seconds at full rate after an event
constexpr double kRefreshEvery = 2.0;       // seconds between local refreshes
double g_livelyUntil = 0.0;
std::atomic<bool> g_woken{false};

void noteActivity() { g_livelyUntil = glfwGetTime() + kLivelyAfterEvent; }

// Any thread. One empty event per batch of changes: the loop clears the
// flag before it draws what they changed.
void wakeLoop() {
  if (!g_woken.exchange(true)) glfwPostEmptyEvent();
}

// Installed before the ImGui back end, which calls them before its own
// handling; the ones the back end does not use stay as they are.
void installActivityCallbacks(GLFWwindow* w) {
  glfwSetCursorPosCallback(w, [](GLFWwindow*, double, double) { noteActivity(); });
  glfwSetMouseButtonCallback(w, [](GLFWwindow*, int, int, int) { noteActivity(); });
  glfwSetScrollCallback(w, [](GLFWwindow*, double, double) { noteActivity(); });
  glfwSetKeyCallback(w, [](GLFWwindow*, int key, int, int action, int) {
    if (key == GLFW_KEY_ESCAPE && action == GLFW_PRESS) notePanelEscape();
    noteActivity();
  });
  glfwSetCharCallback(w, [](GLFWwindow*, unsigned) { noteActivity(); });
  glfwSetWindowFocusCallback(w, [](GLFWwindow*, int) { noteActivity(); });
  glfwSetCursorEnterCallback(w, [](GLFWwindow*, int) { noteActivity(); });
  glfwSetWindowRefreshCallback(w, [](GLFWwindow*) { noteActivity(); });
  glfwSetWindowSizeCallback(w, [](GLFWwindow*, int, int) { noteActivity(); });
  glfwSetFramebufferSizeCallback(w, [](GLFWwindow*, int, int) { noteActivity(); });
  glfwSetWindowIconifyCallback(w, [](GLFWwindow*, int) { noteActivity(); });
}

void renderFrame(ImFont* heading) {
  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplGlfw_NewFrame();
  ImGui::NewFrame();
  draw(heading);
  ImGui::Render();

  int fbw = 0, fbh = 0;
  glfwGetFramebufferSize(g_win, &fbw, &fbh);
  glViewport(0, 0, fbw, fbh);
  glClearColor(C_BG.r, C_BG.g, C_BG.b, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  glfwSwapBuffers(g_win);
  probeEndFrame();  // the widget map describes what is on the screen now
}

// Consumes g_growTo; the window only ever grows.
void honourGrowth() {
  const int request = g_growTo;
  g_growTo = 0;
  if (!g_win || request <= 0 || glfwGetWindowAttrib(g_win, GLFW_ICONIFIED)) return;
  int w = 0, h = 0;
  glfwGetWindowSize(g_win, &w, &h);
  const int grown = lumo::grownHeight(request, h, workAreaHeight());
  if (grown > 0) glfwSetWindowSize(g_win, w, grown);
}

// A close request ends the loop unless a job is writing; then the window
// says so once and closes by itself when the writing is done.
bool closeNow() {
  static bool told = false;
  if (!writingNow()) return true;
  if (!told) {
    told = true;
    g_app.say("Closing as soon as the files being written are complete - please wait.");
    glfwSetWindowTitle(g_win, "Taxilume Launcher - finishing, then closing");
  }
  return false;
}

void frameLoop(ImFont* heading) {
  const double period = framePeriod();
  double lastRefresh = 0.0;
  double lastFrame = -1.0;
  noteActivity();  // the first frames
  for (;;) {
    if (glfwWindowShouldClose(g_win) && closeNow()) break;
    double now = glfwGetTime();
    if (now < g_livelyUntil)
      glfwPollEvents();
    else  // asleep until an event, a wake-up from the job thread, or the next refresh
      glfwWaitEventsTimeout(std::max(0.001, lastRefresh + kRefreshEvery - now));
    if (g_app.quitRequested.load() && !g_app.busy.load()) break;

    if (glfwGetWindowAttrib(g_win, GLFW_ICONIFIED)) {
      // Nothing is drawn; an event (restore, close) or a job's end wakes it.
      glfwWaitEventsTimeout(0.25);
      continue;  // the close check is at the top
    }

    // Cleared every time round, so the next change always posts its own wake-up.
    bool drawNow = g_woken.exchange(false);
    now = glfwGetTime();
    if (now < g_livelyUntil) drawNow = true;
    if (now - lastRefresh > kRefreshEvery) {
      lastRefresh = now;
      // A refresh that changed something wakes the loop like a job does;
      // one that found nothing new costs no frame.
      if (!g_app.busy.load()) refreshLocal(false);
      if (g_woken.exchange(false)) drawNow = true;
    }
    if (!drawNow) continue;

    renderFrame(heading);
    // A swap that waited for the vertical blank ends about a period after
    // the last one; one that returned at once leaves the rest of the period,
    // waited out here (waking at once for input).
    now = glfwGetTime();
    if (lastFrame >= 0 && now < lastFrame + period) glfwWaitEventsTimeout(lastFrame + period - now);
    lastFrame = glfwGetTime();

    // A request the window cannot follow (already at the work area) comes
    // back every frame; only a real resize (its size event) counts as activity.
    honourGrowth();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const lumo::CommandLine options = lumo::readCommandLine(argc, argv);
  const int answered = lumo::frontEndAnswer(options, "taxilume-launcher", kUsage);
  if (answered != lumo::kCarryOn) return answered;
  if (!options.words.empty())
    return lumo::usageError("taxilume-launcher", "unexpected argument " + options.words[0], kUsage);

  const int early = startupCore(options, nullptr, raiseRunningLauncher);
  if (early != kStartupGoOn) return early;

  glfwSetErrorCallback(onGlfwError);
  if (!glfwInit()) {
    std::fputs("Taxilume Launcher: no display - GLFW would not start.\n", stderr);
    return 1;
  }
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);

  const int wa = workAreaHeight();
  const int height = lumo::windowHeight(wa > 0, wa);
  g_win = glfwCreateWindow(lumo::kWindowWidth, height, "Taxilume Launcher", nullptr, nullptr);
  if (!g_win) {
    std::fputs("Taxilume Launcher: could not create a window.\n", stderr);
    glfwTerminate();
    return 1;
  }
  glfwMakeContextCurrent(g_win);
  glfwSwapInterval(1);

  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;
  applyStyle();

  std::string root;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    root = g_app.root;
  }
  ImFont* heading = loadFonts(root);

  installActivityCallbacks(g_win);
  ImGui_ImplGlfw_InitForOpenGL(g_win, true);
  ImGui_ImplOpenGL3_Init("#version 130");

  setWakeHook(wakeLoop);
  markInstance(g_win);
  run("checking", actionStartup);
  frameLoop(heading);
  // Closing: a second start from now on waits for the lock instead of
  // raising this window, and no job thread posts to GLFW once it is gone.
  withdrawInstanceMark();
  setWakeHook(nullptr);

  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplGlfw_Shutdown();
  ImGui::DestroyContext();
  glfwDestroyWindow(g_win);
  g_win = nullptr;
  glfwTerminate();
  if (g_app.busy.load()) {
    // A job still runs on its own thread and uses g_app: leave without
    // running the static destructors under its feet - but never in the
    // middle of writing (holdWrites waits for that, and keeps the job from
    // starting to write now).
    holdWrites();
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}
