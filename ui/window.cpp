// The main window, top to bottom: header, status rows, options, outdated
// copies, the pack list (ui/packview.cpp), the action buttons and the log.
#include "ui/window.h"

#include <imgui.h>

#include <mutex>

#include "app/actions.h"
#include "app/state.h"
#include "host/discover.h"
#include "host/selfupdate.h"
#include "ui/jobs.h"
#include "ui/previewpanel.h"
#include "ui/probe.h"
#include "ui/snapshot.h"
#include "ui/winrules.h"
#include "host/paths.h"

namespace {

ImVec4 vec(const Rgba& c) { return ImVec4(c.r, c.g, c.b, c.a); }

constexpr float kRowTextX = 92;     // status row text, from the window's left edge
constexpr float kRightButton = 110; // right-aligned row buttons start at width - this
constexpr float kBtnH = 26;

void smallGap() { ImGui::Dummy(ImVec2(0, 4)); }
void largeGap() { ImGui::Dummy(ImVec2(0, 6)); }

void rowLabel(const char* label) {
  ImGui::TextColored(vec(C_MUT), "%s", label);
  ImGui::SameLine(kRowTextX);
}

void drawLogo() {
  ImDrawList* dl = ImGui::GetWindowDrawList();
  const ImVec2 p = ImGui::GetCursorScreenPos();
  const float xs[3] = {0, 5, 10}, hs[3] = {12, 17, 12};
  for (int i = 0; i < 3; ++i)
    dl->AddRectFilled(ImVec2(p.x + xs[i], p.y + 22 - hs[i]), ImVec2(p.x + xs[i] + 3, p.y + 22),
                      ImGui::GetColorU32(vec(C_STOP)), 1.5f);
  ImGui::Dummy(ImVec2(21, 24));
  ImGui::SameLine();
}

// A job button of the given size, disabled when !enabled.
bool jobButton(const char* label, ImVec2 size, bool enabled) {
  ImGui::BeginDisabled(!enabled);
  const bool pressed = ImGui::Button(label, size);
  ImGui::EndDisabled();
  probeItem(enabled ? std::string(label) : std::string(label) + " [off]");
  return pressed && enabled;
}

void drawHeader(ImFont* heading, bool busy) {
  std::string version;
  bool installed = false;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    version = g_app.pluginVersion;
    installed = g_app.pluginInstalled;
  }
  drawLogo();
  if (heading) ImGui::PushFont(heading);
  ImGui::TextUnformatted("Taxilume");
  if (heading) ImGui::PopFont();
  ImGui::SameLine();
  const std::string plugin = !version.empty() ? version : installed ? "installed (version unknown)" : "not installed";
  ImGui::TextColored(vec(C_MUT), "Launcher v%s   \xC2\xB7   plugin %s", lumo::kLauncherVersion, plugin.c_str());

  bool updated = false;
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    updated = g_app.launcherUpdated;
  }
  if (updated) {
    ImGui::SameLine();
    ImGui::TextColored(vec(C_AMBER), "- updated");
    ImGui::SameLine();
    if (jobButton("Restart now", ImVec2(0, kBtnH), !busy)) restartNow();
  }
}

void drawXPlaneRow(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  rowLabel("X-Plane");
  dot(vec(s.root.empty() ? C_STOP : C_GO));
  ImGui::TextUnformatted(s.root.empty() ? "not found" : s.root.c_str());
  probeItem(std::string("row:X-Plane:") + (s.root.empty() ? "not found" : s.root));
  // The button sits on the row itself, so it stays next to "not found"
  // whether or not the list of places below is open.
  ImGui::SameLine(ImGui::GetWindowWidth() - kRightButton);
  if (jobButton("Browse...", ImVec2(0, kBtnH), b.other)) run("choosing the X-Plane folder", jobPickFolder);
  if (s.root.empty()) {
    const std::vector<std::string>& probed = lumo::findRootProbed();
    if (!probed.empty() && ImGui::TreeNode("Where Taxilume looked")) {
      for (const std::string& p : probed) ImGui::BulletText("%s", p.c_str());
      ImGui::TreePop();
    }
  }
}

void drawPluginRow(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  rowLabel("Plugin");
  const bool update = lumo::pluginUpdateAvailable(s.latestKnown, s.pluginVersion, s.latestVersion);
  const std::string name =
      s.pluginVersion.empty() ? "Taxilume installed (version unknown)" : "Taxilume " + s.pluginVersion;
  if (!s.pluginInstalled) {
    dot(vec(C_STOP));
    ImGui::TextUnformatted("Taxilume is not installed");
    probeItem("row:Plugin:Taxilume is not installed");
  } else {
    dot(vec(update ? C_AMBER : C_GO));
    ImGui::TextUnformatted(name.c_str());
    probeItem("row:Plugin:" + name);
  }
  if (update) {
    ImGui::SameLine();
    ImGui::TextColored(vec(C_AMBER), "-> %s available", s.latestVersion.c_str());
  }
  if (!s.pluginInstalled || update) {
    ImGui::SameLine(ImGui::GetWindowWidth() - kRightButton);
    const char* label = s.pluginInstalled ? "Update" : "Install";
    if (smallBtn(label, b.plugin)) run(s.pluginInstalled ? "updating the plugin" : "installing the plugin", jobPlugin);
    probeItem(b.plugin ? std::string(label) : std::string(label) + " [off]");
  }
}

void drawStatusRows(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  drawXPlaneRow(s, b);
  drawPluginRow(s, b);

  rowLabel("Server");
  dot(vec(s.mapsLoaded ? C_GO : C_STOP));
  ImGui::TextUnformatted(s.mapsLoaded ? "connected" : "not connected");
  probeItem(std::string("row:Server:") + (s.mapsLoaded ? "connected" : "not connected"));

  rowLabel("Scenery");
  dot(vec(s.suppressed ? C_GO : C_AMBER));
  if (s.suppressed)
    ImGui::Text("Taxilume modified - lights suppressed (%d airports in %d file(s))", s.suppressedAirports,
                s.suppressedFiles);
  else
    ImGui::TextUnformatted("Original - lights not suppressed");
  probeItem(s.suppressed ? "row:Scenery:modified" : "row:Scenery:original");
  if (lumo::passFromOlderMap(s.suppressed, s.mapsLoaded, s.mapsRev, s.passSignature)) {
    ImGui::SameLine();
    ImGui::TextColored(vec(C_AMBER), "from an older map");
  }

  rowLabel("Sim");
  dot(vec(s.xplaneRunning ? C_STOP : C_GO));
  ImGui::TextUnformatted(s.xplaneRunning ? "X-Plane is running - scenery is locked" : "X-Plane is not running");
  probeItem(s.xplaneRunning ? "row:Sim:running" : "row:Sim:not running");

  // No bridge detection on this platform; the row says so.
  rowLabel("Bridge");
  dot(vec(C_MUT));
  ImGui::TextColored(vec(C_MUT), "xPilot: not detected");
}

void drawOptions(const WindowSnapshot& s) {
  bool v = s.suppressOnLaunch;
  if (ImGui::Checkbox("Suppress scenery lights", &v)) {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.suppressOnLaunch = v;
  }
  probeItem("Suppress scenery lights");
  v = s.restoreOnQuit;
  if (ImGui::Checkbox("Restore original scenery lights on X-Plane quit", &v)) {
    {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      g_app.restoreOnQuit = v;
    }
    lumo::saveQuitRestore(v);
  }
  probeItem("Restore original scenery lights on X-Plane quit");
}

void drawStaleCopies(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  if (s.staleCopies.empty()) return;
  smallGap();
  dot(vec(C_AMBER));
  ImGui::TextWrapped(
      "%d scenery file(s) were updated while Taxilume still held a copy of the older version. Nothing is "
      "suppressed there until that copy is dealt with - it is the file next to each apt.dat ending "
      ".taxilume-orig.",
      int(s.staleCopies.size()));
  for (const std::string& p : s.staleCopies) ImGui::TextColored(vec(C_MUT), "   %s.taxilume-orig", p.c_str());
  if (jobButton("Delete the old copies", ImVec2(0, kBtnH), b.other)) run("clearing old copies", jobDeleteOldCopies);
  ImGui::SameLine();
  ImGui::TextColored(vec(C_MUT), "(your current scenery is not touched - only Taxilume's own copy is removed)");
}

void drawActions(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  smallGap();
  if (jobButton("Launch X-Plane", ImVec2(190, 40), b.launch)) run("preparing and launching", [] { doLaunch(); });
  ImGui::SameLine();
  if (jobButton("Update & Suppress", ImVec2(180, 40), b.suppress)) run("suppressing", [] { doSuppress(); });
  ImGui::SameLine();
  if (jobButton("Restore originals", ImVec2(170, 40), b.restore)) run("restoring", [] { doRestore(); });
  drawPreviewButton(!s.busy && !s.root.empty());
  if (s.busy) {
    ImGui::SameLine();
    ImGui::TextColored(vec(C_AMBER), "%s...", s.jobName.c_str());
    probeItem("job:" + s.jobName);
  }
}

void drawLog() {
  largeGap();
  ImGui::BeginChild("log", ImVec2(0, 0), true);
  ImGui::PushTextWrapPos(0.0f);
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    for (const std::string& line : g_app.log) {
      const lumo::LogTone tone = lumo::logTone(line);
      if (tone == lumo::LogTone::normal) {
        ImGui::TextUnformatted(line.c_str(), line.c_str() + line.size());
        continue;
      }
      ImGui::PushStyleColor(ImGuiCol_Text, vec(tone == lumo::LogTone::error ? C_STOP : C_MUT));
      ImGui::TextUnformatted(line.c_str(), line.c_str() + line.size());
      ImGui::PopStyleColor();
    }
  }
  ImGui::PopTextWrapPos();
  // Follow new lines only while the user has not scrolled up.
  if (ImGui::GetScrollY() >= ImGui::GetScrollMaxY() - 1.0f) ImGui::SetScrollHereY(1.0f);
  ImGui::EndChild();
}

}  // namespace

WindowSnapshot takeSnapshot() {
  WindowSnapshot s;
  s.busy = g_app.busy.load();
  std::lock_guard<std::mutex> lock(g_app.mtx);
  s.root = g_app.root;
  s.jobName = g_app.jobName;
  s.mapsLoaded = g_app.mapsLoaded;
  s.xplaneRunning = g_app.xplaneRunning;
  s.pluginInstalled = g_app.pluginInstalled;
  s.suppressed = g_app.suppressed;
  s.suppressedAirports = g_app.suppressedAirports;
  s.suppressedFiles = g_app.suppressedFiles;
  s.passSignature = g_app.passSignature;
  s.staleCopies = g_app.staleCopies;
  s.mapsRev = g_app.maps.rev;
  s.pluginVersion = g_app.pluginVersion;
  s.latestKnown = g_app.latestKnown;
  s.latestVersion = g_app.latest.version;
  s.suppressOnLaunch = g_app.suppressOnLaunch;
  s.restoreOnQuit = g_app.restoreOnQuit;
  s.scanNote = g_app.scan.note;
  s.showAllPacks = g_app.showAllPacks;
  s.scanning = g_app.scanning;
  s.rows = g_app.scan.rows;
  s.keepListed = g_app.keepListed;
  return s;
}

void dot(const ImVec4& colour) {
  const ImVec2 p = ImGui::GetCursorScreenPos();
  const float lineH = ImGui::GetTextLineHeight();
  ImGui::GetWindowDrawList()->AddCircleFilled(ImVec2(p.x + 6, p.y + lineH * 0.5f), 5.0f,
                                              ImGui::GetColorU32(colour), 16);
  ImGui::Dummy(ImVec2(18, lineH));
  ImGui::SameLine();
}

bool smallBtn(const char* label, bool enabled) {
  ImGui::BeginDisabled(!enabled);
  const bool pressed = ImGui::Button(label, ImVec2(0, kBtnH));
  ImGui::EndDisabled();
  return pressed && enabled;
}

void draw(ImFont* headingFont) {
  const bool headerBusy = g_app.busy.load();
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(vp->WorkPos);
  ImGui::SetNextWindowSize(vp->WorkSize);
  const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                 ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                                 ImGuiWindowFlags_NoSavedSettings;
  ImGui::Begin("##lumo", nullptr, flags);

  drawHeader(headingFont, headerBusy);
  const WindowSnapshot s = takeSnapshot();
  lumo::ButtonInputs in;
  in.busy = s.busy;
  in.xplaneRunning = s.xplaneRunning;
  in.rootKnown = !s.root.empty();
  in.pluginInstalled = s.pluginInstalled;
  in.suppressed = s.suppressed;
  in.latestKnown = s.latestKnown;
  const lumo::ButtonStates b = lumo::buttonStates(in);

  smallGap();
  ImGui::Separator();
  smallGap();
  drawStatusRows(s, b);
  largeGap();
  ImGui::Separator();
  largeGap();
  drawOptions(s);
  drawStaleCopies(s, b);
  drawPackSection(s);
  drawActions(s, b);
  drawPreviewList(s.busy);
  drawLog();

  ImGui::End();
  drawAirportPanel();
}
