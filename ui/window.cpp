// The main window, top to bottom: header, status rows, options, outdated
// copies, the pack list (ui/packview.cpp), the action buttons and the log.
#include "ui/window.h"

#include <imgui.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/actions.h"
#include "app/state.h"
#include "host/discover.h"
#include "host/selfupdate.h"
#include "ui/instance.h"
#include "ui/jobs.h"
#include "ui/previewpanel.h"
#include "ui/probe.h"
#include "ui/snapshot.h"
#include "app/winrules.h"
#include "host/paths.h"
#include "common/siblings.h"

// The rows are laid out against the main window's edges even when drawn in
// a region of it: the left edge and width of the main window this frame.
float g_mainW = 0;
static float g_mainX = 0;

float mainX(float x) { return x - (ImGui::GetWindowPos().x - g_mainX); }

namespace {

ImVec4 vec(const Rgba& c) { return ImVec4(c.r, c.g, c.b, c.a); }

constexpr float kRowTextX = 92;     // status row text, from the window's left edge
constexpr float kRightButton = 110; // right-aligned row buttons start at width - this
constexpr float kBtnH = 26;

constexpr float kActionH = 40;
constexpr int kLogMinLines = 5;      // the log never gets fewer lines than this

void smallGap() { ImGui::Dummy(ImVec2(0, 4)); }
void largeGap() { ImGui::Dummy(ImVec2(0, 6)); }

void rowLabel(const char* label) {
  ImGui::TextColored(vec(C_MUT), "%s", label);
  ImGui::SameLine(mainX(kRowTextX));
}

float textWidth(const char* b, const char* e) { return ImGui::CalcTextSize(b, e).x; }

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

void drawHeader(ImFont* heading, const WindowSnapshot& s) {
  drawLogo();
  if (heading) ImGui::PushFont(heading);
  ImGui::TextUnformatted("Taxilume");
  if (heading) ImGui::PopFont();
  ImGui::SameLine();
  const std::string plugin = !s.pluginVersion.empty() ? s.pluginVersion
                             : s.pluginInstalled      ? "installed (version unknown)"
                                                      : "not installed";
  ImGui::TextColored(vec(C_MUT), "Launcher v%s   \xC2\xB7   plugin %s", lumo::kLauncherVersion, plugin.c_str());

  if (s.launcherUpdated) {
    ImGui::SameLine();
    ImGui::TextColored(vec(C_AMBER), "- updated");
    ImGui::SameLine();
    if (jobButton("Restart now", ImVec2(0, kBtnH), !s.busy)) {
      // The new launcher must not take this window for a running launcher
      // and hand over to it: it stops answering for itself first.
      withdrawInstanceMark();
      if (!restartNow()) restoreInstanceMark();
    }
  }
}

void drawXPlaneRow(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  rowLabel("X-Plane");
  dot(vec(s.root.empty() ? C_STOP : C_GO));
  const float buttonX = mainX(g_mainW - kRightButton);
  if (s.root.empty()) {
    ImGui::TextUnformatted("not found");
  } else {
    // A long path (a Flatpak install runs to a hundred characters) keeps its
    // ends and loses its middle before it would run under "Browse...".
    const float room = buttonX - ImGui::GetCursorPosX() - ImGui::GetStyle().ItemSpacing.x;
    const std::string shown = lumo::middleEllipsis(s.root, room, textWidth);
    ImGui::TextUnformatted(shown.c_str());
    if (shown != s.root && ImGui::IsItemHovered()) ImGui::SetTooltip("%s", s.root.c_str());
  }
  probeItem(std::string("row:X-Plane:") + (s.root.empty() ? "not found" : s.root));
  // The button sits on the row itself, so it stays next to "not found"
  // whether or not the list of places below is open.
  ImGui::SameLine(buttonX);
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
    ImGui::SameLine(mainX(g_mainW - kRightButton));
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
  // The list scrolls within a few lines, so a long one never pushes the
  // buttons and the log out of the window.
  constexpr size_t kStaleLines = 3;
  const float lineH = ImGui::GetTextLineHeightWithSpacing();
  const size_t shown = std::min(s.staleCopies.size(), kStaleLines);
  ImGui::BeginChild("stale", ImVec2(0, float(shown) * lineH), false);
  const float room = ImGui::GetContentRegionAvail().x;
  for (const std::string& p : s.staleCopies) {
    // Long paths keep both ends: the pack's folder and the file's name.
    const std::string line = "   " + orvel::backupOf(p);
    const std::string shown = lumo::middleEllipsis(line, room, textWidth);
    ImGui::TextColored(vec(C_MUT), "%s", shown.c_str());
    if (shown != line && ImGui::IsItemHovered()) ImGui::SetTooltip("%s", line.c_str() + 3);
  }
  ImGui::EndChild();
  if (jobButton("Delete the old copies", ImVec2(0, kBtnH), b.other)) run("clearing old copies", jobDeleteOldCopies);
  ImGui::SameLine();
  ImGui::TextColored(vec(C_MUT), "(your current scenery is not touched - only Taxilume's own copy is removed)");
}

void copyLog(const std::vector<std::string>& log) {
  std::string all;
  for (const std::string& line : log) {
    all += line;
    all += '\n';
  }
  ImGui::SetClipboardText(all.c_str());
}

void drawActions(const WindowSnapshot& s, const lumo::ButtonStates& b) {
  smallGap();
  const float rowY = ImGui::GetCursorPosY();
  if (jobButton("Launch X-Plane", ImVec2(190, kActionH), b.launch)) run("preparing and launching", [] { doLaunch(); });
  ImGui::SameLine();
  if (jobButton("Update & Suppress", ImVec2(180, kActionH), b.suppress)) run("suppressing", [] { doSuppress(); });
  ImGui::SameLine();
  if (jobButton("Restore originals", ImVec2(170, kActionH), b.restore)) run("restoring", [] { doRestore(); });
  drawPreviewButton(!s.busy && !s.root.empty());
  if (s.busy) {
    // Drawn at its place rather than as a text item, which would follow the
    // buttons' text baseline instead of their middle.
    ImGui::SameLine();
    const std::string label = s.jobName + "...";
    const ImVec2 size = ImGui::CalcTextSize(label.c_str());
    ImGui::SetCursorPosY(rowY + (kActionH - size.y) * 0.5f);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    ImGui::Dummy(size);
    ImGui::GetWindowDrawList()->AddText(at, ImGui::GetColorU32(vec(C_AMBER)), label.c_str());
    probeItem("job:" + s.jobName);
  }
  // The log lives in memory only; this is how it gets into a bug report.
  const char* label = "Copy log";
  const float w = ImGui::CalcTextSize(label).x + 2 * ImGui::GetStyle().FramePadding.x;
  ImGui::SameLine(mainX(g_mainW - w - ImGui::GetStyle().WindowPadding.x));
  ImGui::SetCursorPosY(rowY + (kActionH - kBtnH) * 0.5f);
  if (smallBtn(label, !s.log.empty())) copyLog(s.log);
  probeItem(label);
  ImGui::SetCursorPosY(rowY + kActionH + ImGui::GetStyle().ItemSpacing.y);
}

// Where each log line breaks, kept while the width stays the same: the log
// changes a line at a time and measuring every line every frame would be
// wasted work.
struct WrapCache {
  float width = -1;
  std::unordered_map<std::string, std::vector<size_t>> breaks;
  const std::vector<size_t>& of(const std::string& line, float w) {
    if (w != width || breaks.size() > 4 * kLogCap) {
      breaks.clear();
      width = w;
    }
    auto it = breaks.find(line);
    if (it == breaks.end()) it = breaks.emplace(line, lumo::wrapPoints(line, w, textWidth)).first;
    return it->second;
  }
};

void drawLog(const std::vector<std::string>& log) {
  static WrapCache cache;
  largeGap();
  ImGui::BeginChild("log", ImVec2(0, 0), true);
  const float width = ImGui::GetContentRegionAvail().x;
  for (const std::string& line : log) {
    const lumo::LogTone tone = lumo::logTone(line);
    if (tone != lumo::LogTone::normal)
      ImGui::PushStyleColor(ImGuiCol_Text, vec(tone == lumo::LogTone::error ? C_STOP : C_MUT));
    // Broken at blanks and slashes, so a path wraps between folders.
    size_t start = 0;
    for (size_t cut : cache.of(line, width)) {
      ImGui::TextUnformatted(line.c_str() + start, line.c_str() + cut);
      start = cut;
    }
    ImGui::TextUnformatted(line.c_str() + start, line.c_str() + line.size());
    if (tone != lumo::LogTone::normal) ImGui::PopStyleColor();
  }
  // Follow new lines only while the user has not scrolled up.
  if (ImGui::GetScrollY() >= ImGui::GetScrollMaxY() - 1.0f) ImGui::SetScrollHereY(1.0f);
  ImGui::EndChild();
  probeItem("log");
}

}  // namespace

WindowSnapshot takeSnapshot() {
  WindowSnapshot s;
  s.busy = g_app.busy.load();
  std::lock_guard<std::mutex> lock(g_app.mtx);
  s.launcherUpdated = g_app.launcherUpdated;
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
  s.scanSerial = g_app.scanSerial;
  s.keepListed = g_app.keepListed;
  s.log = g_app.log;
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
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(vp->WorkPos);
  ImGui::SetNextWindowSize(vp->WorkSize);
  const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                 ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                                 ImGuiWindowFlags_NoSavedSettings;
  ImGui::Begin("##lumo", nullptr, flags);
  g_mainX = ImGui::GetWindowPos().x;
  g_mainW = ImGui::GetWindowWidth();

  // One copy per frame, the only time the mutex is taken while drawing.
  const WindowSnapshot s = takeSnapshot();
  lumo::ButtonInputs in;
  in.busy = s.busy;
  in.xplaneRunning = s.xplaneRunning;
  in.rootKnown = !s.root.empty();
  in.pluginInstalled = s.pluginInstalled;
  in.suppressed = s.suppressed;
  in.latestKnown = s.latestKnown;
  const lumo::ButtonStates b = lumo::buttonStates(in);

  drawHeader(headingFont, s);
  smallGap();
  ImGui::Separator();
  smallGap();

  // The buttons and a log of kLogMinLines lines are kept inside the window
  // whatever its height; what is above them (status rows, options, the
  // outdated-copies warning, the pack list) gets the rest and scrolls when
  // it is more. The pack list shrinks first, down to one row.
  const ImGuiStyle& st = ImGui::GetStyle();
  const float sp = st.ItemSpacing.y;
  const float lineH = ImGui::GetTextLineHeightWithSpacing();
  const float logMin = kLogMinLines * lineH - sp + 2 * st.WindowPadding.y;
  const float below = (4 + sp) + (kActionH + sp) + (6 + sp) + logMin;
  const float budget = std::max(lineH, ImGui::GetContentRegionAvail().y - below - sp);
  // The upper part's height without the pack list, measured last frame.
  static float s_fixed = 0, s_natural = 0;
  const float upperH = s_natural > 0 ? std::min(s_natural, budget) : budget;

  ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0, 0, 0, 0));
  ImGui::BeginChild("upper", ImVec2(0, upperH), false);
  ImGui::PopStyleColor();
  drawStatusRows(s, b);
  largeGap();
  ImGui::Separator();
  largeGap();
  drawOptions(s);
  drawStaleCopies(s, b);
  const float listH = drawPackSection(s, budget - s_fixed);
  const float natural = ImGui::GetCursorPosY() - sp;
  s_fixed = natural - listH;
  s_natural = natural;
  // Everything fits in a taller window: ask for it (the window never shrinks).
  if (natural > budget + 1) g_growTo = std::max(g_growTo, int(natural - budget + ImGui::GetIO().DisplaySize.y + 1));
  ImGui::EndChild();

  drawActions(s, b);
  drawPreviewList(s.busy);
  drawLog(s.log);

  ImGui::End();
  drawAirportPanel();
}
