// The names of the files the launcher keeps beside an apt.dat P (and beside
// its own JSON records): one place for them, since the pass, restore, the
// checks, the window and the crash-safe writers must all agree on them byte
// for byte, and users' folders hold files by these names from earlier
// versions.
//
//   P.taxilume-orig   the byte-exact backup of the original
//   P.taxilume-cut    the cut mark: which rewrite of P is ours
//   X.taxilume-part   a copy in progress (a backup, a mark, a JSON record)
//   P.taxilume-tmp    a rewrite of P in progress
#pragma once

#include <string>

namespace orvel {

inline constexpr const char* kBackupSuffix = ".taxilume-orig";
inline constexpr const char* kMarkSuffix = ".taxilume-cut";
inline constexpr const char* kPartSuffix = ".taxilume-part";
inline constexpr const char* kTmpSuffix = ".taxilume-tmp";

inline std::string backupOf(const std::string& apt) { return apt + kBackupSuffix; }
inline std::string markOf(const std::string& apt) { return apt + kMarkSuffix; }
inline std::string partOf(const std::string& target) { return target + kPartSuffix; }
inline std::string tmpOf(const std::string& apt) { return apt + kTmpSuffix; }

}  // namespace orvel
