// The "Custom Sceneries" section: counts, the "Show all"/"Hide" toggle and
// the list where a map is picked per pack or the pack is left alone. What is
// listed, counted and how tall the list is comes from ui/packlist.h.
#include <imgui.h>

#include <mutex>

#include "app/state.h"
#include "ui/packlist.h"
#include "app/packops.h"
#include "ui/probe.h"
#include "ui/snapshot.h"
#include "ui/window.h"
#include "app/winrules.h"

namespace {

ImVec4 vec(const Rgba& c) { return ImVec4(c.r, c.g, c.b, c.a); }

void countLine(const Rgba& dotColour, bool muted, const char* fmt, int n) {
  dot(vec(dotColour));
  if (muted)
    ImGui::TextColored(vec(C_MUT), fmt, n);
  else
    ImGui::Text(fmt, n);
}

void drawRow(const AskRow& r, bool busy) {
  ImGui::PushID(int(r.index));
  const ImVec4 tc = vec(r.dismissed ? C_MUT : C_TEXT);
  ImGui::TextColored(tc, "%s", r.icao.c_str());
  ImGui::SameLine(92);
  ImGui::TextColored(tc, "%s", r.pack.c_str());
  probeItem("pack:" + r.icao);
  ImGui::Indent(92);

  const std::string current = r.publisher.empty() ? "Base map" : r.publisher;
  ImGui::BeginDisabled(busy || r.dismissed);
  if (r.publishers.empty()) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(vec(C_MUT), "%s", r.hasMap ? current.c_str() : r.statusText.c_str());
  } else {
    ImGui::SetNextItemWidth(240);
    const std::string preview = r.hasMap ? current : "Pick the map";
    const bool open = ImGui::BeginCombo("##pub", preview.c_str());
    probeItem("pub:" + r.icao + (busy || r.dismissed ? " [off]" : ""));
    if (open) {
      // Picks are acted on after the combo is closed, with no ImGui state
      // half-built, and only when the row is enabled.
      const std::string* chosen = nullptr;
      static const std::string kBase;
      for (const std::string& p : r.publishers) {
        if (ImGui::Selectable(p.c_str(), r.hasMap && p == r.publisher)) chosen = &p;
        probeItem("pick:" + r.icao + ":" + p);
      }
      if (ImGui::Selectable("Base map", r.hasMap && r.publisher.empty())) chosen = &kBase;
      probeItem("pick:" + r.icao + ":");
      ImGui::EndCombo();
      if (chosen && !busy && !r.dismissed) pickPack(r.index, *chosen);
    }
  }
  ImGui::EndDisabled();

  ImGui::SameLine();
  ImGui::BeginDisabled(busy);
  bool d = r.dismissed;
  const bool toggled = ImGui::Checkbox("Do not suppress", &d);
  ImGui::EndDisabled();
  probeItem("dismiss:" + r.icao + (busy ? " [off]" : ""));
  if (toggled && !busy) setPackDismissed(r.index, d);

  ImGui::Unindent(92);
  ImGui::PopID();
}

}  // namespace

float drawPackSection(const WindowSnapshot& s, float listRoom) {
  // The rows as the window first saw the current scan: a pick moves no row
  // and shows the hint only when it changed something, until the next scan.
  static unsigned s_serial = ~0u;
  static std::vector<lumo::PackRow> s_atScan;
  if (s.scanSerial != s_serial) {
    s_serial = s.scanSerial;
    s_atScan = s.rows;
  }

  lumo::PackListing L = lumo::listPacks(s.rows, s.keepListed, s.showAllPacks);
  const lumo::PackCounts& c = L.counts;
  const bool listed = !L.rows.empty();
  if (!s.scanning && c.hidden == 0 && !listed) return 0;

  ImGui::Dummy(ImVec2(0, 6));
  ImGui::Separator();
  ImGui::Dummy(ImVec2(0, 6));
  ImGui::TextUnformatted("Custom Sceneries");

  if (s.scanning && !listed && c.hidden == 0) {
    dot(vec(C_MUT));
    ImGui::TextColored(vec(C_MUT), "Reading your scenery packs...");
  }
  if (c.needPick > 0) countLine(C_AMBER, false, "%d scenery pack(s) need a map picked.", c.needPick);
  // Only when the next pass would do something else, and the button that
  // runs it can be pressed.
  lumo::ButtonInputs in;
  in.busy = s.busy;
  in.xplaneRunning = s.xplaneRunning;
  if (lumo::buttonStates(in).suppress && lumo::choicesChanged(s.rows, s_atScan, s.keepListed)) {
    dot(vec(C_GO));
    ImGui::TextUnformatted("Picked. Press Update & Suppress.");
    probeItem("hint:picked");
  }
  if (c.ownMap > 0) countLine(C_MUT, true, "%d scenery pack(s) matched to their own map.", c.ownMap);
  if (c.baseMap > 0) countLine(C_MUT, true, "%d scenery pack(s) suppressed against the base map.", c.baseMap);
  if (c.notSuppressed > 0) countLine(C_MUT, true, "%d scenery pack(s) not suppressed.", c.notSuppressed);
  if (!s.scanNote.empty()) {
    ImGui::SameLine();
    ImGui::TextColored(vec(C_MUT), "- %s", s.scanNote.c_str());
  }
  if (c.hidden > 0) {
    const char* label = s.showAllPacks ? "Hide" : "Show all";
    const float w = ImGui::CalcTextSize(label).x + 2 * ImGui::GetStyle().FramePadding.x + 16;
    ImGui::SameLine(mainX(g_mainW - w));
    if (smallBtn(label, !s.busy)) {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      g_app.showAllPacks = !g_app.showAllPacks;
    }
    probeItem(s.busy ? std::string(label) + " [off]" : std::string(label));
  }
  if (!listed) return 0;

  lumo::orderAskRows(L.rows, s_atScan);
  const ImGuiStyle& st = ImGui::GetStyle();
  lumo::ListMetrics m;
  m.lineH = ImGui::GetTextLineHeightWithSpacing();
  m.frameH = ImGui::GetFrameHeightWithSpacing();
  m.spacingY = st.ItemSpacing.y;
  m.padY = 2 * st.WindowPadding.y;
  m.room = listRoom;
  m.displayH = ImGui::GetIO().DisplaySize.y;
  const lumo::ListSize size = lumo::packListSize(L.rows.size(), m);
  if (size.growTo > g_growTo) g_growTo = size.growTo;

  ImGui::BeginChild("packs", ImVec2(0, size.height), true,
                    size.scrollbar ? ImGuiWindowFlags_AlwaysVerticalScrollbar : 0);
  for (const AskRow& r : L.rows) drawRow(r, s.busy);
  ImGui::EndChild();
  probeItem("packs");
  return size.height;
}
