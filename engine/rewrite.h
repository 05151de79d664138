// The light rewrite of one airport block: every linear feature (a 120 row and
// its node rows) is judged segment by segment against the airport's reference
// geometry; the segments whose lights the plugin draws lose their 101/105
// (and, inside bar boxes, 103/104) tokens, and a feature is split into
// consecutive features wherever the decision changes.
//
// Call once per block with the block's rows (header row first). Features with
// nothing taken come back byte for byte; rebuilt rows are their tokens joined
// by single spaces. Nothing fails: malformed rows are carried through.
#pragma once

#include <string>
#include <vector>

#include "engine/scope.h"

namespace orvel {

// True when any row changed; only then are rows replaced. splits is set to 0
// and then counts the features split.
bool splitBlockLights(std::vector<std::string>& rows, const SuppressScope& scope, int& splits);

}  // namespace orvel
