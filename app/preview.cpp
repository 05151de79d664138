#include "app/preview.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "app/actions.h"
#include "app/check.h"
#include "app/state.h"
#include "common/text.h"
#include "host/paths.h"
#include "pass/preview.h"
#include "scenery/files.h"

namespace {

std::mutex g_picturesMtx;
std::vector<lumo::AirportPicture> g_pictures;  // of the last preview, guarded by g_picturesMtx

struct Setting {
  std::string root, pluginDir, host;
  int port = 443;
  lumo::Geometry maps;
  lumo::PackScan scan;
};

// What a pass would start from: the current maps and a fresh pack scan.
// False (logged) when there is no folder or no maps.
bool prepare(Setting& s) {
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    s.root = g_app.root;
    s.pluginDir = g_app.pluginDir;
    s.host = g_app.host;
    s.port = g_app.port;
  }
  if (s.root.empty()) {
    g_app.say("!! X-Plane 12 was not found. Use Browse to point at it.");
    return false;
  }
  if (lumo::simRunning(lumo::lowerAscii(s.root)))
    g_app.say("   X-Plane is running - this only reads the scenery, so it goes ahead.");
  g_app.say("Fetching the published maps from " + s.host + "...");
  if (!refreshMaps()) {
    g_app.say("!! Nothing to compare without the published maps - nothing was read or written.");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    s.maps = g_app.maps;
  }
  s.scan = scanIntoApp(s.maps);
  return true;
}

// The airport code a line of the pass is about ("   EDDF not suppressed - ...",
// "   EDDF: ORVEL network ...", "!! ORVEL network EDDF: ..."); "" for others.
std::string codeOfLine(const std::string& line) {
  std::string rest;
  if (line.rfind("!! ORVEL network ", 0) == 0)
    rest = line.substr(17);
  else if (line.rfind("   ", 0) == 0)
    rest = line.substr(3);
  else
    return {};
  const size_t end = rest.find_first_of(" :");
  return rest.substr(0, end);
}

std::string perAirportLine(const lumo::BlockPreview& b) {
  std::string line = "   " + b.code + "  ";
  if (!b.changed && b.runs.empty()) return line + "nothing lit to take";
  return line + std::to_string(b.splits) + " exclusion(s), " + std::to_string(b.runs.size()) +
         " light run(s) to record" + (b.changed ? "" : " (no feature changes)");
}

// Keeps a picture per code the way the pass keeps its taken runs: a later
// block of the same code replaces an earlier one when it takes something.
void keepPicture(std::vector<lumo::AirportPicture>& pics, lumo::AirportPicture pic) {
  for (auto& p : pics)
    if (p.code == pic.code) {
      if (!pic.taken.empty()) p = std::move(pic);
      return;
    }
  pics.push_back(std::move(pic));
}

}  // namespace

bool doPreview(const std::vector<std::string>& codes) {
  g_app.say("Preview of Update & Suppress - nothing will be written.");
  Setting s;
  if (!prepare(s)) return false;

  // With codes, only the lines about them, and each file's line when the
  // file was about one of them.
  const std::set<std::string> wanted(codes.begin(), codes.end());
  bool fileHadOne = false;
  const lumo::LogFn log = [&](const std::string& line) {
    if (wanted.empty()) return LOG(line);
    if (line.rfind("   " + s.root, 0) == 0) {
      if (fileHadOne) LOG(line);
      fileHadOne = false;
      return;
    }
    const std::string code = codeOfLine(line);
    if (code.empty()) return LOG(line);
    if (wanted.count(code)) {
      fileHadOne = true;
      LOG(line);
    }
  };
  std::vector<lumo::AirportPicture> pics;
  const auto onAirport = [&](const lumo::BlockPreview& b) {
    log(perAirportLine(b));
    if (wanted.empty() || wanted.count(b.code))
      keepPicture(pics, lumo::pictureOf(b, lumo::mapLabelOf(b.file, b.code, s.scan)));
  };
  const lumo::PassResult r = lumo::previewPass(s.root, s.pluginDir, s.maps, log, s.host, s.port, s.scan, onAirport);
  {
    std::lock_guard<std::mutex> lock(g_picturesMtx);
    g_pictures = std::move(pics);
  }
  for (const auto& c : wanted) {
    bool seen = false;
    {
      std::lock_guard<std::mutex> lock(g_picturesMtx);
      for (const auto& p : g_pictures) seen = seen || p.code == c;
    }
    if (!seen) g_app.say("   " + c + " would not be claimed by any file (see the lines above for a reason)");
  }
  if (!r.ok) {
    g_app.say("!! A suppress would stop: " + r.error);
    return false;
  }
  sayPassSummary(r, true);
  g_app.say("Preview only: no file was written.");
  return true;
}

bool doPicture(const std::string& code, const std::string& svgPath) {
  Setting s;
  if (!prepare(s)) return false;
  // Only the pass's lines about this airport: why it is left alone, if it is.
  const lumo::LogFn log = [&](const std::string& line) {
    if (codeOfLine(line) == code) LOG(line);
  };
  std::vector<lumo::AirportPicture> pics;
  const auto onAirport = [&](const lumo::BlockPreview& b) {
    if (b.code == code) keepPicture(pics, lumo::pictureOf(b, lumo::mapLabelOf(b.file, b.code, s.scan)));
  };
  const lumo::PassResult r = lumo::previewPass(s.root, s.pluginDir, s.maps, log, s.host, s.port, s.scan, onAirport);
  if (pics.empty()) {
    g_app.say("!! " + code + " is not claimed by any file a pass would rewrite - nothing to draw" +
              (r.ok || r.error.empty() ? "" : " (" + r.error + ")"));
    return false;
  }
  const lumo::AirportPicture& pic = pics.front();
  if (!lumo::writeFileOver(svgPath, lumo::pictureSvg(pic))) {
    g_app.say("!! could not write " + svgPath);
    return false;
  }
  g_app.say("Picture of " + code + " (" + pic.mapLabel + ", " + pic.file + "): " + std::to_string(pic.taken.size()) +
            " run(s) taken in red, " + std::to_string(pic.kept.size()) + " lit stretch(es) kept - " + svgPath);
  return true;
}

std::vector<PreviewedAirport> previewedAirports() {
  std::vector<PreviewedAirport> out;
  std::lock_guard<std::mutex> lock(g_picturesMtx);
  for (const auto& p : g_pictures)
    out.push_back({p.code, p.mapLabel, static_cast<int>(p.taken.size()), static_cast<int>(p.kept.size()), p.splits});
  return out;
}

bool previewPicture(const std::string& code, lumo::AirportPicture& out) {
  std::lock_guard<std::mutex> lock(g_picturesMtx);
  for (const auto& p : g_pictures)
    if (p.code == code) {
      out = p;
      return true;
    }
  return false;
}
