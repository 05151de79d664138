// The work the file rewrite does on one airport block it claims, as one
// function, so that everything that must judge a block the way a pass does
// (the rewrite itself, the preview that writes nothing, the airport picture)
// runs the very same code.
//
// Call order: scopeFor to point the pass's tolerances at one airport's
// geometry, or claimBlock with the block's rows as read: it first collects
// the runs the plugin will put back (takenByPass, from the rows before they
// change), then rewrites the lights (splitBlockLights). Nothing fails.
#pragma once

#include <string>
#include <vector>

#include "engine/rewrite.h"
#include "engine/scope.h"
#include "engine/taken.h"

namespace orveldb {

// base's tolerances pointed at a's geometry; empty groups stay null, and the
// bar extents are used only when there is one per bar. The result points
// into a, which must outlive it.
orvel::SuppressScope scopeFor(const AirportScope& a, const orvel::SuppressScope& base);

// Rewrites rows against a. runs, when given, receives the taken runs (empty
// when nothing is taken); splits is set to the features split. True when
// rows changed. A scope with no bars, lead-on or network lines changes
// nothing and takes nothing.
bool claimBlock(std::vector<std::string>& rows, const AirportScope& a, const orvel::SuppressScope& base,
                std::vector<TakenRun>* runs, int& splits);

}  // namespace orveldb
