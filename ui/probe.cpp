#include "ui/probe.h"

#include <imgui.h>

#include <cstdio>
#include <cstdlib>

namespace {
const char* mapPath() {
  static const char* path = [] {
    const char* p = std::getenv("TAXILUME_UI_MAP");
    return p && *p ? p : nullptr;
  }();
  return path;
}
std::string g_frame, g_written;
}  // namespace

void probeItem(const std::string& name) {
  if (!mapPath() || !ImGui::IsItemVisible()) return;  // scrolled away: not clickable
  ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
  char buf[128];
  std::snprintf(buf, sizeof buf, " %d %d %d %d\n", int(a.x), int(a.y), int(b.x), int(b.y));
  g_frame += name;
  g_frame += buf;
}

void probeEndFrame() {
  if (!mapPath()) return;
  if (g_frame != g_written) {
    // Written beside and renamed over, so a reader never sees half a map.
    const std::string tmp = std::string(mapPath()) + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
      bool ok = std::fwrite(g_frame.data(), 1, g_frame.size(), f) == g_frame.size();
      ok = std::fclose(f) == 0 && ok;
      if (ok && std::rename(tmp.c_str(), mapPath()) == 0) g_written = g_frame;
    }
  }
  g_frame.clear();
}
