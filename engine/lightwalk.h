// The one walk over an airport block that serves both things a pass asks of
// it: the light rewrite (engine/rewrite.h) and the taken runs
// (engine/taken.h). Each row is split into tokens once, each node row decoded
// once, each segment flattened once and each point asked of the spatial index
// at most once; both results come from the same pieces, each by its own rule
// (the rewrite decides per segment, the record per piece).
//
// Call order: make a LightWalk (it keeps its buffers from block to block, so
// rows cost no allocations once the buffers have grown), then walk() once
// per block. splitBlockLights and takenByPass are walk() with one of the two
// outputs switched off. Nothing fails: malformed rows are carried through.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/scope.h"
#include "engine/taken.h"

namespace orvel {

class LightWalk {
 public:
  LightWalk();
  ~LightWalk();
  LightWalk(const LightWalk&) = delete;
  LightWalk& operator=(const LightWalk&) = delete;

  // rows: the block (header row first), without line ends.
  // out: when given, the block as the rewrite leaves it is appended, each row
  //   followed by LF, and ends (when given) gets the offset in *out just past
  //   each row's text; both only when the result is true. When the result is
  //   false, out and ends are as they were.
  // runs: when given, the taken runs of the block (from the rows as they
  //   are before the rewrite) are appended.
  // Returns true when the rewrite changed a row (only computed when out is
  // given); splits is set to the number of features split.
  bool walk(const std::vector<std::string_view>& rows, const SuppressScope& scope, std::string* out,
            std::vector<std::size_t>* ends, int& splits, std::vector<orveldb::TakenRun>* runs);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace orvel
