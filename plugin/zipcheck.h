// Checking a plugin package before and after it is unpacked. The package
// comes from the network, and the archive tools will write whatever names it
// carries and create whatever links it holds; so the entries are listed from
// the archive's own central directory before any tool runs, and what the
// tool unpacked is walked again, without following links, before a single
// file leaves the staging folder.
//
// Calling order: listZip, checkZipEntries, (a tool unpacks), checkUnpacked.
//
// Failure: false with a short phrase ("refusing the package: ...") naming
// the first offending entry. Names in messages go through net::printable,
// so a hostile name cannot forge log lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

struct ZipEntry {
  std::string name;    // as stored, "/" separated; folders end in "/"
  uint32_t mode = 0;   // Unix mode from the external attributes, 0 when none
  bool encrypted = false;
  uint64_t size = 0;   // the size it declares unpacked (an archive can lie)
};

// Reads the central directory of the zip at path (and checks each entry's
// local header names the same file). No Zip64, no multi-disk archives.
[[nodiscard]] bool listZip(const std::string& path, std::vector<ZipEntry>& entries, std::string& error);

// Refuses absolute names, "." or ".." parts, empty parts, backslashes,
// control bytes, links, devices and other special files, encrypted
// entries, a name given twice, and a file that another entry uses as a
// folder.
[[nodiscard]] bool checkZipEntries(const std::vector<ZipEntry>& entries, std::string& error);

// Walks folder with lstat: everything below it must be a plain folder or a
// regular file, and every file must be one the archive listed, no larger
// than the archive declared.
[[nodiscard]] bool checkUnpacked(const std::string& folder, const std::vector<ZipEntry>& entries,
                   std::string& error);

}  // namespace lumo
