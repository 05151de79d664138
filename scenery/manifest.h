// The manifest: the durable record of what the suppression passes changed.
//
// pluginDir + "/orvel_manifest.json" holds a JSON array with one row per
// airport claimed in each changed apt.dat: "file", "icao", "backup",
// "size", "mtime" (of the file right after the rewrite), "sig", "owner",
// "quitrestore". Rows of one file are contiguous. The plugin reads this
// file too, so its name and content stay as they are.
//
// Calling order: the pass calls recordPass after each changed file; restore
// and the pass's check loadManifest, edit, saveManifest; ourMark is the
// expected cut mark of a file, falling back on its first manifest row.
//
// Failure: reading never fails (anything unusable reads as an empty
// array); saving replaces the file crash-safely (writeFileOver), so a crash
// leaves the old or the new manifest, never a truncated one. Paths that are
// not valid UTF-8 are stored with the reversible text encoding of
// scenery/files.h and come back byte for byte from loadManifest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scenery/files.h"

namespace orvel {

// The manifest array (never null; empty when missing or damaged). Strings
// hold the raw bytes of the paths again.
nlohmann::json loadManifest(const std::string& pluginDir);

// Replaces the manifest with the array (indent 1, keys sorted, "[]" when
// empty, no trailing newline). False when it could not be written; the old
// manifest is then still in place.
[[nodiscard]] bool saveManifest(const std::string& pluginDir, const nlohmann::json& manifest,
                                std::string* error = nullptr);

// The cut mark of aptPath when readable, else the mark implied by its first
// manifest row (valid when its "size" is above 0; never provisional).
CutMark ourMark(const std::string& pluginDir, const std::string& aptPath);

// Row readers that tolerate damage: a row that is not an object, a missing
// key or a value of the wrong type reads as the default.
std::string rowText(const nlohmann::json& row, const char* key, const std::string& def = "");
int64_t rowInt(const nlohmann::json& row, const char* key, int64_t def = 0);

// The mark implied by the first row of aptPath in manifest ({0,0,false} when
// it has none or its size is not above 0).
CutMark manifestMark(const nlohmann::json& manifest, const std::string& aptPath);

// Removes every row whose "file" is aptPath; returns how many went.
int dropRows(nlohmann::json& manifest, const std::string& aptPath);

}  // namespace orvel

namespace orveldb {

// Replaces every row of file by one fresh row per code in icaos (in order),
// appended at the end, with file's current size and mtime (0 when it cannot
// be stat'ed). Saves also when nothing changed. False when the save failed
// (error, when given, says why).
[[nodiscard]] bool recordPass(const std::string& pluginDir, const std::string& file,
                              const std::vector<std::string>& icaos, const std::string& sig,
                              const char* owner, bool quitRestore, std::string* error = nullptr);

}  // namespace orveldb
