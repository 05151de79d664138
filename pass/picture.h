// One airport drawn as the suppression pass sees it.
//
// pictureOf turns a block the preview handed over (pass/preview.h) into
// plain geometry: the lit stretches the pass would leave (read from the rows
// the block rewrite would write, in their light code), the runs it would
// take and record (the rewrite's own taken runs), the bar boxes, lead-on and
// network lines the block is held against. Nothing is decided here: taken and
// kept come from orveldb::claimBlock through the preview, so a picture can
// never disagree with a pass.
//
// PictureFrame maps latitude and longitude to metres east and south of the
// picture's top-left corner (north up, the engine's one metric convention);
// pictureSvg writes a self-contained SVG document, which the command line
// writes to a file and the window draws the same geometry from. Nothing
// fails; text from scenery files is made printable for XML.
#pragma once

#include <string>
#include <vector>

#include "engine/geo.h"
#include "engine/scope.h"
#include "engine/taken.h"
#include "pass/preview.h"

namespace lumo {

struct LitRun {
  int code = 0;                // the light code, 100..199
  std::vector<orvel::Pt> pts;  // >= 2 points
};

struct AirportPicture {
  std::string code;
  std::string file;      // the apt.dat that claims it
  std::string mapLabel;  // "base map" or "<publisher>'s map"
  orveldb::AirportScope scope;
  std::vector<LitRun> kept;                // lit stretches the pass leaves
  std::vector<orveldb::TakenRun> taken;    // what it takes and records
  int splits = 0;
};

// The map label of code in file: "base map" for the simulator's own file
// and for a pack without a publisher, else the pack row's publisher's map.
std::string mapLabelOf(const std::string& file, const std::string& code, const PackScan& scan);

AirportPicture pictureOf(const BlockPreview& block, const std::string& mapLabel);

// Metres from the top-left corner of everything the picture holds, plus a
// margin of marginM or 6 % of the larger side, whichever is more; north up.
struct PictureFrame {
  double lat0 = 0, lon0 = 0;  // the top-left corner
  double mPerLon = 1;         // metres per degree of longitude at the middle latitude
  double width = 1, height = 1;
  void x(const orvel::Pt& p, double& ex, double& sy) const;
};
PictureFrame frameOf(const AirportPicture& pic, double marginM = 40);

// The four corners (in order around) of every bar segment's box, as the
// spatial test reads the bar and its extents.
std::vector<std::vector<orvel::Pt>> barBoxes(const orveldb::AirportScope& scope, double along = 5.0,
                                             double across = 8.0);

// RGB of a light code as drawn (green centreline, blue edge, amber hold
// lines, ...); taken runs are red whatever their code.
unsigned lightColour(int code);
constexpr unsigned kTakenColour = 0xff2a2a;
constexpr unsigned kBarColour = 0xffffff;
constexpr unsigned kLeadColour = 0xc08cff;
constexpr unsigned kNetworkColour = 0x5a6b8c;

// A round scale-bar length in metres, about a fifth of `width`.
double scaleBarMetres(double width);

std::string pictureSvg(const AirportPicture& pic);

}  // namespace lumo
