// The apt.dat files of an X-Plane installation, in scenery order.
//
// X-Plane lists its scenery packs, highest priority first, in
// root + "Custom Scenery/scenery_packs.ini". Every walk over the scenery
// (pack scan, suppression pass, backup checks) starts here. Only enabled
// entries ("SCENERY_PACK " lines) count; "*GLOBAL_AIRPORTS*" stands for the
// simulator's own airport file, which is placed last when no entry names it.
//
// Both functions only read the disk and keep no state. They report no
// errors: a missing or unreadable list just contributes no entries.
#pragma once

#include <string>
#include <vector>

namespace orveldb {

// root ends in "/". Every existing apt.dat named by the list, in list order
// (repeats kept), and the global file at its entry's place or last.
std::vector<std::string> aptDatFilesInOrder(const std::string& root);

// The apt.dat paths of the list (and the global file) whose backup
// (".taxilume-orig") exists while the apt.dat itself does not; each once.
std::vector<std::string> aptDatBackupsInOrder(const std::string& root);

}  // namespace orveldb
