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

// Rows that still need the user's choice (no map, not dismissed, at least
// one publisher offered) first; the scan's order within each group.
void orderAskRows(std::vector<AskRow>& rows);

// The metrics the list height is worked out from (ImGui's units: pixels).
struct ListMetrics {
  float lineH = 0;     // text line height with spacing
  float frameH = 0;    // frame height with spacing
  float spacingY = 0;  // item spacing y
  float padY = 0;      // twice the window padding y
  float avail = 0;     // content region's available height at the list
  float displayH = 0;  // the window's display height
};

struct ListSize {
  float height = 0;        // the list child's height
  int growTo = 0;          // window height to ask for; 0 for none
  bool scrollbar = false;  // all rows do not fit: always show the scrollbar
};

// Room for up to three rows, leaving space for the buttons and the start of
// the log; asks the window to grow when even that does not fit.
ListSize packListSize(size_t rows, const ListMetrics& m);

}  // namespace lumo
