#include "ui/previewpanel.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/preview.h"
#include "app/state.h"
#include "ui/probe.h"

namespace {

struct Panel {
  bool open = false;
  bool appearing = false;
  lumo::AirportPicture pic;
  lumo::PictureFrame frame;
  std::vector<std::vector<orvel::Pt>> boxes;
  float zoom = 1.0f;
  ImVec2 pan{0, 0};
};
Panel g_panel;

ImU32 colourOf(unsigned rgb, int alpha = 255) {
  return IM_COL32((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff, alpha);
}

void openPanel(const std::string& code) {
  lumo::AirportPicture pic;
  if (!previewPicture(code, pic)) return;
  g_panel = Panel{};
  g_panel.open = true;
  g_panel.appearing = true;
  g_panel.frame = lumo::frameOf(pic);
  g_panel.boxes = lumo::barBoxes(pic.scope);
  g_panel.pic = std::move(pic);
}

// Screen position of a point: the frame fitted into the canvas, then zoomed
// and panned.
struct View {
  ImVec2 origin;
  float scale;
  ImVec2 at(const lumo::PictureFrame& f, const orvel::Pt& p) const {
    double x = 0, y = 0;
    f.x(p, x, y);
    return ImVec2(origin.x + static_cast<float>(x) * scale, origin.y + static_cast<float>(y) * scale);
  }
};

void polyline(ImDrawList* dl, const View& v, const lumo::PictureFrame& f, const std::vector<orvel::Pt>& pts,
              ImU32 colour, float width, bool closed = false) {
  std::vector<ImVec2> s;
  s.reserve(pts.size());
  for (const auto& p : pts) s.push_back(v.at(f, p));
  if (s.size() >= 2) dl->AddPolyline(s.data(), static_cast<int>(s.size()), colour, closed ? ImDrawFlags_Closed : 0, width);
}

void drawPicture(const ImVec2 p0, const ImVec2 size) {
  const lumo::AirportPicture& pic = g_panel.pic;
  const lumo::PictureFrame& f = g_panel.frame;
  const float fit = std::min(size.x / static_cast<float>(f.width), size.y / static_cast<float>(f.height));
  const float scale = fit * g_panel.zoom;
  const ImVec2 centre(p0.x + (size.x - static_cast<float>(f.width) * fit) / 2,
                      p0.y + (size.y - static_cast<float>(f.height) * fit) / 2);
  const View v{ImVec2(centre.x + g_panel.pan.x, centre.y + g_panel.pan.y), scale};

  ImDrawList* dl = ImGui::GetWindowDrawList();
  dl->PushClipRect(p0, ImVec2(p0.x + size.x, p0.y + size.y), true);
  dl->AddRectFilled(p0, ImVec2(p0.x + size.x, p0.y + size.y), colourOf(0x0a0e16));
  for (const auto& l : pic.scope.network) polyline(dl, v, f, l, colourOf(lumo::kNetworkColour), 1.0f);
  for (const auto& l : pic.scope.lead) polyline(dl, v, f, l, colourOf(lumo::kLeadColour), 1.5f);
  for (const auto& b : g_panel.boxes) {
    std::vector<ImVec2> s;
    for (const auto& p : b) s.push_back(v.at(f, p));
    dl->AddConvexPolyFilled(s.data(), static_cast<int>(s.size()), colourOf(lumo::kTakenColour, 40));
    dl->AddPolyline(s.data(), static_cast<int>(s.size()), colourOf(lumo::kBarColour), ImDrawFlags_Closed, 1.0f);
  }
  for (const auto& r : pic.kept) polyline(dl, v, f, r.pts, colourOf(lumo::lightColour(r.code)), 2.0f);
  for (const auto& r : pic.taken) polyline(dl, v, f, r.pts, colourOf(lumo::kTakenColour), 2.4f);

  // Scale bar and north, fixed to the canvas.
  const double bar = lumo::scaleBarMetres(size.x / scale);
  const ImVec2 sb(p0.x + 12, p0.y + size.y - 18);
  dl->AddRectFilled(sb, ImVec2(sb.x + static_cast<float>(bar) * scale, sb.y + 4), colourOf(0xe6ebf2));
  dl->AddText(ImVec2(sb.x, sb.y - 18), colourOf(0xe6ebf2), (std::to_string(static_cast<long>(bar)) + " m").c_str());
  const ImVec2 n(p0.x + size.x - 24, p0.y + 18);
  dl->AddTriangleFilled(ImVec2(n.x, n.y - 10), ImVec2(n.x - 7, n.y + 10), ImVec2(n.x + 7, n.y + 10), colourOf(0xe6ebf2));
  dl->AddText(ImVec2(n.x - 4, n.y + 12), colourOf(0xe6ebf2), "N");
  dl->PopClipRect();
}

void legendItem(unsigned rgb, const char* text) {
  const ImVec2 p = ImGui::GetCursorScreenPos();
  const float h = ImGui::GetTextLineHeight();
  ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(p.x, p.y + h / 2 - 3), ImVec2(p.x + 16, p.y + h / 2 + 3),
                                            colourOf(rgb));
  ImGui::Dummy(ImVec2(20, h));
  ImGui::SameLine();
  ImGui::TextUnformatted(text);
  ImGui::SameLine(0, 16);
}

}  // namespace

void drawPreviewButton(bool enabled) {
  ImGui::SameLine();
  ImGui::BeginDisabled(!enabled);
  const bool pressed = ImGui::Button("Preview", ImVec2(110, 40));
  ImGui::EndDisabled();
  probeItem(enabled ? "Preview" : "Preview [off]");
  if (pressed && enabled) run("previewing", [] { doPreview(); });
}

void drawPreviewList(bool busy) {
  const std::vector<PreviewedAirport> list = previewedAirports();
  if (list.empty()) return;
  const float rowH = ImGui::GetFrameHeightWithSpacing();
  const float h = std::min<float>(4.5f, static_cast<float>(list.size())) * rowH + 8;
  ImGui::BeginChild("previewed", ImVec2(0, h), true);
  ImGuiListClipper clip;
  clip.Begin(static_cast<int>(list.size()));
  while (clip.Step()) {
    for (int i = clip.DisplayStart; i < clip.DisplayEnd; ++i) {
      const PreviewedAirport& a = list[static_cast<size_t>(i)];
      ImGui::BeginDisabled(busy);
      const bool show = ImGui::SmallButton(("Show##" + a.code).c_str());
      ImGui::EndDisabled();
      probeItem("show:" + a.code);
      if (show && !busy) openPanel(a.code);
      ImGui::SameLine();
      ImGui::Text("%s  %s - %d run(s) taken, %d lit stretch(es) kept, %d exclusion(s)", a.code.c_str(),
                  a.mapLabel.c_str(), a.taken, a.kept, a.splits);
    }
  }
  ImGui::EndChild();
}

namespace {
bool g_escapeSeen = false;  // main thread only, like the panel
}  // namespace

void notePanelEscape() { g_escapeSeen = true; }

void drawAirportPanel() {
  const bool escape = g_escapeSeen;
  g_escapeSeen = false;
  if (!g_panel.open) return;
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  if (g_panel.appearing) {
    ImGui::SetNextWindowPos(ImVec2(vp->WorkPos.x + vp->WorkSize.x / 2, vp->WorkPos.y + vp->WorkSize.y / 2),
                            ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(vp->WorkSize.x * 0.85f, vp->WorkSize.y * 0.8f), ImGuiCond_Always);
    ImGui::SetNextWindowFocus();
    g_panel.appearing = false;
  }
  const lumo::AirportPicture& pic = g_panel.pic;
  const std::string title = pic.code + " - " + pic.mapLabel + "###airport";
  bool open = true;
  if (ImGui::Begin(title.c_str(), &open, ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoCollapse)) {
    ImGui::TextDisabled("%s   (drag to pan, wheel to zoom, Escape to close)", pic.file.c_str());
    legendItem(lumo::kTakenColour, "taken");
    legendItem(lumo::lightColour(101), "kept centreline");
    legendItem(lumo::lightColour(103), "kept hold line");
    legendItem(lumo::kBarColour, "bar box");
    legendItem(lumo::kLeadColour, "lead-on");
    legendItem(lumo::kNetworkColour, "network");
    ImGui::NewLine();

    const ImVec2 p0 = ImGui::GetCursorScreenPos();
    ImVec2 size = ImGui::GetContentRegionAvail();
    size.x = std::max(size.x, 50.0f);
    size.y = std::max(size.y, 50.0f);
    ImGui::InvisibleButton("canvas", size);
    probeItem("panel:" + pic.code);
    const ImGuiIO& io = ImGui::GetIO();
    if (ImGui::IsItemActive() && ImGui::IsMouseDragging(ImGuiMouseButton_Left, 0.0f)) {
      g_panel.pan.x += io.MouseDelta.x;
      g_panel.pan.y += io.MouseDelta.y;
    }
    if (ImGui::IsItemHovered() && io.MouseWheel != 0.0f) {
      // Zoom about the point under the mouse, so it stays where it is.
      const float old = g_panel.zoom;
      g_panel.zoom = std::clamp(old * std::pow(1.25f, io.MouseWheel), 0.2f, 200.0f);
      const float k = g_panel.zoom / old;
      const ImVec2 centre(p0.x + size.x / 2, p0.y + size.y / 2);
      const ImVec2 m(io.MousePos.x - centre.x, io.MousePos.y - centre.y);
      g_panel.pan.x = m.x - (m.x - g_panel.pan.x) * k;
      g_panel.pan.y = m.y - (m.y - g_panel.pan.y) * k;
    }
    drawPicture(p0, size);
  }
  ImGui::End();
  if (escape || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) open = false;
  if (!open) g_panel = Panel{};
}
