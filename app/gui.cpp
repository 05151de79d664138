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
// Exit status: 0 after a normal close or when another launcher already runs;
// 1 when GLFW cannot start or the window cannot be created.
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/check.h"
#include "app/startup.h"
#include "app/state.h"
#include "ui/probe.h"
#include "ui/window.h"
#include "ui/winrules.h"

GLFWwindow* g_win = nullptr;
int g_growTo = 0;

namespace {

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

// The fonts come from the X-Plane folder, so they are only there when the
// folder was known at start-up; a folder picked later keeps the built-in font.
ImFont* loadFonts(const std::string& root) {
  if (root.empty()) return nullptr;
  ImGuiIO& io = ImGui::GetIO();
  const std::string regular = root + "Resources/fonts/Roboto-Regular.ttf";
  const std::string bold = root + "Resources/fonts/Roboto-Bold.ttf";
  if (exists(regular)) io.Fonts->AddFontFromFileTTF(regular.c_str(), 17.0f);
  ImFont* heading = nullptr;
  if (exists(bold)) heading = io.Fonts->AddFontFromFileTTF(bold.c_str(), 22.0f);
  return heading;
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
// busy. Frames are drawn at the display rate while a job runs and for a
// moment after any input or window event; otherwise a few times a second,
// which is enough for what can change then (the local refresh). Any event
// ends the wait at once.
constexpr double kLivelyAfterEvent = 0.75;  // seconds at full rate after an event
constexpr double kIdleFrame = 0.25;         // seconds between frames when idle
double g_livelyUntil = 0.0;

void noteActivity() { g_livelyUntil = glfwGetTime() + kLivelyAfterEvent; }

// Installed before the ImGui back end, which calls them before its own
// handling; the ones the back end does not use stay as they are.
void installActivityCallbacks(GLFWwindow* w) {
  glfwSetCursorPosCallback(w, [](GLFWwindow*, double, double) { noteActivity(); });
  glfwSetMouseButtonCallback(w, [](GLFWwindow*, int, int, int) { noteActivity(); });
  glfwSetScrollCallback(w, [](GLFWwindow*, double, double) { noteActivity(); });
  glfwSetKeyCallback(w, [](GLFWwindow*, int, int, int, int) { noteActivity(); });
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
  bool wasBusy = true;
  for (;;) {
    if (glfwWindowShouldClose(g_win) && closeNow()) break;
    glfwPollEvents();
    if (g_app.quitRequested.load() && !g_app.busy.load()) break;

    if (glfwGetWindowAttrib(g_win, GLFW_ICONIFIED)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;  // back to polling; the close check is at the top
    }

    double now = glfwGetTime();
    bool refreshed = false;
    if (now - lastRefresh > 2.0) {
      lastRefresh = now;
      if (!g_app.busy.load()) {
        refreshLocal(false);
        refreshed = true;
      }
    }
    const bool busy = g_app.busy.load();
    if (busy || wasBusy) noteActivity();  // log lines arrive; the job's end shows at once
    wasBusy = busy;

    if (!refreshed && now >= g_livelyUntil && now < lastFrame + kIdleFrame) {
      const double next = std::min(lastFrame + kIdleFrame, lastRefresh + 2.0 + 0.001);
      if (next > now) glfwWaitEventsTimeout(next - now);
      continue;
    }

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
  const int early = startupCore(argc, argv);
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

  run("checking", actionStartup);
  frameLoop(heading);

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
