// The scenery pack list's rules: which rows of the last pack scan are shown,
// how they are counted, in which order they are listed and how tall the
// list is. No drawing here; ui/packview.cpp draws what these return.
//
// Per frame, draw() calls listPacks() on its snapshot of the scan, then
// orderAskRows() on the listed rows, then packListSize() with the current
// text and frame metrics. All are pure and cannot fail.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "packs/scan.h"

// One row of the list, rebuilt every frame from a lumo::PackRow.
struct AskRow {
  size_t index = 0;                     // the row's index in the scan: identity for picks, toggles, keepListed
  std::string pack;
  std::string icao;
  std::string publisher;                // empty: the base map
  std::string statusText;
  std::vector<std::string> publishers;  // as the server ordered them
  bool dismissed = false;               // "Do not suppress"
  bool hasMap = false;                  // status picked or matched
};

namespace lumo {

// The text under a row that has no map of its own ("not suppressed" for a
// dismissed row; empty for picked or matched).
std::string askStatusText(const PackRow& row);

AskRow askRow(size_t index, const PackRow& row);

// Per airport row, although the texts say packs.
struct PackCounts {
  int needPick = 0;       // "%d scenery pack(s) need a map picked."
  int picked = 0;         // kept rows that have their own map: "Picked. Press Update & Suppress."
  int ownMap = 0;         // "%d scenery pack(s) matched to their own map."
  int baseMap = 0;        // "%d scenery pack(s) suppressed against the base map."
  int notSuppressed = 0;  // "%d scenery pack(s) not suppressed."
  int hidden = 0;         // rows listed only with "Show all"
};

struct PackListing {
  std::vector<AskRow> rows;  // the listed rows, in scan order
  PackCounts counts;
};

// Rows that need a pick are always listed; rows picked or toggled since the
// scan (keepListed) too; all others only when showAll is set.
PackListing listPacks(const std::vector<PackRow>& rows, const std::set<size_t>& keepListed, bool showAll);

// Rows that need the user's choice (no map, not dismissed, at least one
// publisher offered) first; the scan's order within each group. Whether a
// row needs a choice is judged on `atScan`, the rows as the scan left them,
// so a row the user just picked stays where it is until the next scan (a
// row beyond atScan is judged as it is now).
void orderAskRows(std::vector<AskRow>& rows, const std::vector<PackRow>& atScan);

// Whether the rows picked or toggled since the scan (keepListed) now lead
// the next pass elsewhere than the scan's own classification did: another
// map, a map where there was none, or in or out of suppression. Picking the
// map a row already had changes nothing.
bool choicesChanged(const std::vector<PackRow>& now, const std::vector<PackRow>& atScan,
                    const std::set<size_t>& keepListed);

// The metrics the list height is worked out from (ImGui's units: pixels).
struct ListMetrics {
  float lineH = 0;     // text line height with spacing
  float frameH = 0;    // frame height with spacing
  float spacingY = 0;  // item spacing y
  float padY = 0;      // twice the window padding y
  float room = 0;      // height the list may take without pushing the buttons or the log out
  float displayH = 0;  // the window's display height
};

struct ListSize {
  float height = 0;        // the list child's height
  int growTo = 0;          // window height to ask for; 0 for none
  bool scrollbar = false;  // all rows do not fit: always show the scrollbar
};

// Up to three rows within `room`, never less than one row; asks the window
// to grow by what three rows lack.
ListSize packListSize(size_t rows, const ListMetrics& m);

}  // namespace lumo
