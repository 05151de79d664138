// The two looking actions: the preview of a pass and the picture of one
// airport. Both run as background jobs ("previewing", "drawing"), read the
// scenery exactly as "Update & Suppress" would and write nothing to it: no
// backup, mark, temporary, manifest, taken record or pick file. They go
// ahead while X-Plane runs, and say so.
//
// doPreview logs, per file in scenery order, the pass's own lines (why an
// airport is left alone, which network goes with it, the file's outcome)
// and, per claimed airport, its exclusions and the runs that would be
// recorded; then a summary with the figures a suppress would report. With
// codes, the listing is limited to those airports (the figures stay the
// whole pass's). The pictures of the previewed airports are kept for the
// window's "Show" buttons (previewPictures).
//
// doPicture draws one airport (pass/picture.h) into an SVG file, the one
// file it writes, replaced crash-safely.
//
// Failure: a "!! " line naming the cause, and false.
#pragma once

#include <string>
#include <vector>

#include "pass/picture.h"

bool doPreview(const std::vector<std::string>& codes = {});
bool doPicture(const std::string& code, const std::string& svgPath);

// The airports of the last preview, in the order listed: a light summary for
// lists drawn every frame, and one airport's picture on request (false when
// the last preview did not claim it).
struct PreviewedAirport {
  std::string code, mapLabel;
  int taken = 0, kept = 0, splits = 0;
};
std::vector<PreviewedAirport> previewedAirports();
bool previewPicture(const std::string& code, lumo::AirportPicture& out);
