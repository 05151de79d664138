// The user's saved pack choices: which publisher's map applies to a pack
// (publishers.json) and which packs are left out of suppression altogether
// (launcher_packs.json), both in <pluginDir>/resources.
//
// Both files are keyed by the pack key (packs/scan.h: the pack's folder name
// without blanks, ASCII letters lower-cased), so a choice made on one airport
// of a pack holds for all of them. Callers load, change the copy in memory
// and save it back whole; the pack scan and the pass only load.
//
// Failure: the loaders never fail - a missing, unreadable or malformed file,
// or members of the wrong type, read as nothing. saveDismissedPacks returns
// false when the folder could not be made or the file was not replaced; the
// caller logs it. Files are replaced through lumo::writeJsonOver, so a reader
// sees the old file or the new one, never half of one.
#pragma once

#include <set>
#include <string>
#include <unordered_map>

namespace lumo {

// pluginDir + "/resources/publishers.json" and ".../launcher_packs.json".
std::string publishersPath(const std::string& pluginDir);
std::string dismissedPacksPath(const std::string& pluginDir);

// Pack key -> chosen publisher ("" = the base map). Non-string values are
// skipped.
std::unordered_map<std::string, std::string> loadPublishers(const std::string& pluginDir);

// The pack keys in "dismissed"; non-string elements are skipped.
std::set<std::string> loadDismissedPacks(const std::string& pluginDir);

// Writes {"dismissed": [sorted keys]} (creating resources/ when missing);
// true when the file was replaced.
[[nodiscard]] bool saveDismissedPacks(const std::string& pluginDir, const std::set<std::string>& dismissed);

}  // namespace lumo
