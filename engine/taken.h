// The record of light runs a pass takes out of the scenery, which the plugin
// puts back while nobody controls the field.
//
// Call order: per airport block with reference geometry, takenByPass(rows,
// scope) on the rows as they are BEFORE the block rewrite; collect the runs in
// a TakenMap by airport code; after the whole pass, lumo::writeTaken(folder,
// revision, map) once. takenByPass never fails; writeTaken returns false (and
// an error text when asked) when the record could not be written, and then
// leaves any earlier record as it was.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/scope.h"

namespace orveldb {

struct TakenRun {
  int32_t code = 0;             // 101, 103, 104 or 105
  std::vector<orvel::Pt> pts;   // >= 2 points, no consecutive duplicates
  bool networkOnly = false;     // neither in a bar box nor under a lead-on line
};

using TakenMap = std::unordered_map<std::string, std::vector<TakenRun>>;

std::vector<TakenRun> takenByPass(const std::vector<std::string>& rows,
                                  const orvel::SuppressScope& scope);

}  // namespace orveldb

namespace lumo {

// The record's exact text: compact JSON, keys in byte order, coordinates
// rounded to 7 decimals. Airport codes that are not valid UTF-8 are written
// with the launcher's one reversible encoding of stray bytes
// (lumo::textForJson, scenery/files.h), so one odd scenery file can never
// stop the pass and the code can still be told apart from every other.
std::string takenJson(const std::string& rev, const orveldb::TakenMap& taken);

// Replaces dir + "/tlm_taken.json" with takenJson(rev, taken) through the
// crash-safe replace (temporary beside it, fsync, rename, folder fsync),
// written piece by piece so the whole text is never held in memory.
bool writeTaken(const std::string& dir, const std::string& rev, const orveldb::TakenMap& taken,
                std::string* err = nullptr);

}  // namespace lumo
