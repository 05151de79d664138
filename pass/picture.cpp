#include "pass/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pass/choice.h"

namespace lumo {

namespace {

bool isNodeCode(const std::string& c) {
  return c.size() == 3 && c[0] == '1' && c[1] == '1' && c[2] >= '1' && c[2] <= '6';
}

// The lit stretches of rows, read the way the simulator lights them: a node's
// light code holds for the segments after it until another node sets one,
// within one feature; curved segments flattened as the rewrite does.
std::vector<LitRun> litRuns(const std::vector<std::string>& rows) {
  std::vector<LitRun> out;
  std::vector<orvel::Node> nodes;
  auto finish = [&]() {
    int carried = -1;
    LitRun run;
    auto flush = [&]() {
      if (run.pts.size() >= 2) out.push_back(run);
      run = LitRun{};
    };
    for (std::size_t k = 0; k + 1 < nodes.size(); ++k) {
      const orvel::Node& nd = nodes[k];
      if ((!nd.ends || nd.closes) && nd.light >= 100 && nd.light <= 199) carried = nd.light;
      if (carried < 100 || (nd.ends && !nd.closes)) {
        flush();
        continue;
      }
      if (run.code != carried) {
        flush();
        run.code = carried;
      }
      if (run.pts.empty()) run.pts.push_back(nd.p);
      orvel::bezSegment(nd, nodes[k + 1], run.pts, 8);
    }
    flush();
    nodes.clear();
  };
  bool open = false;
  for (const std::string& row : rows) {
    const std::vector<std::string> t = orvel::tok(row);
    if (!t.empty() && t[0] == "120") {
      finish();
      open = true;
    } else if (open && !t.empty() && isNodeCode(t[0]) && t.size() > 2) {
      nodes.push_back(orvel::parseNode(t));
    } else {
      finish();
      open = false;
    }
  }
  finish();
  return out;
}

// XML text of bytes from a scenery file or the user: markup escaped, and
// anything but printable ASCII shown as "?" so the document stays well formed
// whatever the file held.
std::string xmlText(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else if (c < 0x20 || c > 0x7e) out += '?';
    else out += static_cast<char>(c);
  }
  return out;
}

std::string num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

std::string hexColour(unsigned rgb) {
  char b[8];
  std::snprintf(b, sizeof b, "#%06x", rgb & 0xffffff);
  return b;
}

// Metres of the frame to page pixels.
struct Page {
  const PictureFrame& f;
  double px, ox, oy;
  std::string points(const std::vector<orvel::Pt>& pts) const {
    std::string s;
    for (const auto& p : pts) {
      double x = 0, y = 0;
      f.x(p, x, y);
      if (!s.empty()) s += ' ';
      s += num(ox + x * px) + "," + num(oy + y * px);
    }
    return s;
  }
};

}  // namespace

std::string mapLabelOf(const std::string& file, const std::string& code, const PackScan& scan) {
  for (const PackRow& row : scan.rows)
    if (row.file == file && row.icao == code && !row.publisher.empty()) return row.publisher + "'s map";
  return "base map";
}

AirportPicture pictureOf(const BlockPreview& block, const std::string& mapLabel) {
  AirportPicture pic;
  pic.code = block.code;
  pic.file = block.file;
  pic.mapLabel = mapLabel;
  pic.scope = block.scope;
  pic.kept = litRuns(block.after);
  pic.taken = block.runs;
  pic.splits = block.splits;
  return pic;
}

void PictureFrame::x(const orvel::Pt& p, double& ex, double& sy) const {
  ex = (p.lon - lon0) * mPerLon;
  sy = (lat0 - p.lat) * orvel::kMetresPerDeg;
}

PictureFrame frameOf(const AirportPicture& pic, double marginM) {
  orvel::GeoBox box;
  auto addAll = [&](const std::vector<orvel::Pt>& pts) {
    for (const auto& p : pts)
      if (std::isfinite(p.lat) && std::isfinite(p.lon)) box.add(p);
  };
  for (const auto& r : pic.kept) addAll(r.pts);
  for (const auto& r : pic.taken) addAll(r.pts);
  for (const auto& l : pic.scope.bars) addAll(l);
  for (const auto& l : pic.scope.lead) addAll(l);
  for (const auto& l : pic.scope.network) addAll(l);
  PictureFrame f;
  if (!box.valid) return f;
  f.mPerLon = orvel::metresPerDegLon((box.minLat + box.maxLat) / 2);
  if (!(f.mPerLon > 1e-6)) f.mPerLon = 1e-6;
  // Room for the scale bar and the north arrow at any size of airport.
  marginM = std::max(marginM, 0.06 * std::max((box.maxLon - box.minLon) * f.mPerLon,
                                              (box.maxLat - box.minLat) * orvel::kMetresPerDeg));
  f.lat0 = box.maxLat + marginM / orvel::kMetresPerDeg;
  f.lon0 = box.minLon - marginM / f.mPerLon;
  f.width = (box.maxLon - box.minLon) * f.mPerLon + 2 * marginM;
  f.height = (box.maxLat - box.minLat) * orvel::kMetresPerDeg + 2 * marginM;
  return f;
}

std::vector<std::vector<orvel::Pt>> barBoxes(const orveldb::AirportScope& scope, double along, double across) {
  std::vector<std::vector<orvel::Pt>> out;
  for (std::size_t i = 0; i < scope.bars.size(); ++i) {
    const orvel::Line& bar = scope.bars[i];
    const bool haveExt = scope.barx.size() == scope.bars.size();
    for (std::size_t j = 0; j + 1 < bar.size(); ++j) {
      const orvel::Pt& s = bar[j];
      const double c = orvel::metresPerDegLon(s.lat);
      if (!(c > 1e-6)) continue;
      const double de = (bar[j + 1].lon - s.lon) * c, dn = (bar[j + 1].lat - s.lat) * orvel::kMetresPerDeg;
      const double len = std::hypot(de, dn);
      if (!(len >= 1e-6)) continue;
      const double ue = de / len, un = dn / len;
      double before = along, after = along, left = across, right = across;
      if (haveExt && j < scope.barx[i].size()) {
        const orvel::BarExtent& r = scope.barx[i][j];
        before = r[0];
        after = r[1];
        left = r[2];
        right = r[3];
      }
      // "across" is positive to the right of travel: the unit (un, -ue).
      auto at = [&](double a, double x) {
        const double e = a * ue + x * un, n = a * un - x * ue;
        return orvel::Pt{s.lat + n / orvel::kMetresPerDeg, s.lon + e / c};
      };
      out.push_back({at(-before, -left), at(len + after, -left), at(len + after, right), at(-before, right)});
    }
  }
  return out;
}

unsigned lightColour(int code) {
  switch (code) {
    case 101: case 107: return 0x2fd06a;  // green centreline
    case 102: return 0x3b82f6;             // blue edge
    case 103: case 104: case 106: return 0xf0b030;  // amber hold and clearance lines
    case 105: return 0xb8e04a;             // alternating green/amber
    default: return 0xd0d4dc;
  }
}

double scaleBarMetres(double width) {
  const double want = width / 5;
  double best = 1;
  for (double m : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0})
    if (m <= want) best = m;
  return best;
}

std::string pictureSvg(const AirportPicture& pic) {
  const PictureFrame f = frameOf(pic);
  // The drawing's longer side is 900 px; above it a band for the title and
  // the legend, so that neither ever covers the airport.
  constexpr double kSide = 900, kBand = 112, kFoot = 8;
  const double px = kSide / std::max(f.width, f.height);
  const double drawW = f.width * px, drawH = f.height * px;
  const double W = std::max(kSide, drawW), H = kBand + drawH + kFoot;
  const Page page{f, px, (W - drawW) / 2, kBand};

  std::string s;
  s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(W) + "\" height=\"" + num(H) +
       "\" viewBox=\"0 0 " + num(W) + " " + num(H) + "\">\n";
  const std::string title = pic.code + " - " + pic.mapLabel;
  s += "<title>" + xmlText(title) + "</title>\n";
  s += "<rect x=\"0\" y=\"0\" width=\"" + num(W) + "\" height=\"" + num(H) + "\" fill=\"#0a0e16\"/>\n";

  auto lines = [&](const char* id, const orvel::Lines& ls, unsigned colour, double width) {
    s += std::string("<g id=\"") + id + "\" fill=\"none\" stroke=\"" + hexColour(colour) + "\" stroke-width=\"" +
         num(width) + "\">\n";
    for (const auto& l : ls)
      if (l.size() >= 2) s += "<polyline points=\"" + page.points(l) + "\"/>\n";
    s += "</g>\n";
  };
  lines("network", pic.scope.network, kNetworkColour, 1.0);
  lines("lead", pic.scope.lead, kLeadColour, 1.5);
  s += "<g id=\"bars\" fill=\"" + hexColour(kTakenColour) + "\" fill-opacity=\"0.15\" stroke=\"" +
       hexColour(kBarColour) + "\" stroke-width=\"1\">\n";
  for (const auto& b : barBoxes(pic.scope)) s += "<polygon points=\"" + page.points(b) + "\"/>\n";
  s += "</g>\n";
  s += "<g id=\"kept\" fill=\"none\" stroke-width=\"2\" stroke-linecap=\"round\">\n";
  for (const auto& r : pic.kept)
    s += "<polyline class=\"kept\" stroke=\"" + hexColour(lightColour(r.code)) + "\" points=\"" +
         page.points(r.pts) + "\"/>\n";
  s += "</g>\n";
  s += "<g id=\"taken\" fill=\"none\" stroke=\"" + hexColour(kTakenColour) +
       "\" stroke-width=\"2.4\" stroke-linecap=\"round\">\n";
  for (const auto& r : pic.taken) s += "<polyline class=\"taken\" points=\"" + page.points(r.pts) + "\"/>\n";
  s += "</g>\n";

  s += "<g font-family=\"sans-serif\" fill=\"#e6ebf2\">\n";
  s += "<text x=\"14\" y=\"32\" font-size=\"22\">" + xmlText(title) + "</text>\n";
  s += "<text x=\"14\" y=\"52\" font-size=\"12\" fill=\"#7a8699\">" + xmlText(pic.file) + "</text>\n";
  struct Item {
    unsigned colour;
    const char* text;
  };
  const Item items[] = {{kTakenColour, "taken (the plugin draws it)"},
                        {lightColour(101), "kept centreline"},
                        {lightColour(103), "kept hold line"},
                        {lightColour(102), "kept edge"},
                        {kBarColour, "reference bar box"},
                        {kLeadColour, "lead-on line"},
                        {kNetworkColour, "taxi-route network"}};
  for (size_t i = 0; i < sizeof items / sizeof items[0]; ++i) {
    const double x = 14 + static_cast<double>(i % 4) * 220, y = 72 + static_cast<double>(i / 4) * 20;
    s += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"18\" height=\"5\" fill=\"" +
         hexColour(items[i].colour) + "\"/>\n";
    s += "<text x=\"" + num(x + 24) + "\" y=\"" + num(y + 7) + "\" font-size=\"13\">" + items[i].text + "</text>\n";
  }
  // Scale bar bottom left, north arrow bottom right, over the margin.
  const double bar = scaleBarMetres(drawW / px);
  const double by = H - kFoot - 16;
  s += "<rect x=\"" + num(page.ox + 12) + "\" y=\"" + num(by) + "\" width=\"" + num(bar * px) +
       "\" height=\"4\"/>\n";
  s += "<text x=\"" + num(page.ox + 12) + "\" y=\"" + num(by - 6) + "\" font-size=\"13\">" +
       std::to_string(static_cast<long>(bar)) + " m</text>\n";
  const double nx = page.ox + drawW - 22, ny = H - kFoot - 40;
  s += "<polygon points=\"" + num(nx) + "," + num(ny - 14) + " " + num(nx - 8) + "," + num(ny + 10) + " " +
       num(nx + 8) + "," + num(ny + 10) + "\"/>\n";
  s += "<text x=\"" + num(nx) + "\" y=\"" + num(ny + 28) + "\" font-size=\"14\" text-anchor=\"middle\">N</text>\n";
  s += "</g>\n</svg>\n";
  return s;
}

}  // namespace lumo
