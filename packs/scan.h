// Pack matching: which published airports each add-on scenery pack defines,
// and which published map applies to each of them.
//
// scanPacks reads every add-on pack's apt.dat in scenery order, keeps one row
// per published airport (the pack listed first owns it), asks the server
// once per row which publishers have a map for the airport, and classifies
// the row against the user's saved picks (packs/choices.h). reclassifyPacks
// re-applies the picks and the dismissed list to an existing scan after the
// user changed them, without asking the server again. The pass looks rows up
// by file and code to choose each airport's map (pass/choice.h).
//
// Failure: an unreadable pack file contributes no rows. A publisher list that
// cannot be fetched leaves its row in status kPackNoList, logs
// "!! publishers for <code>: <error>" and sets `note` to the first such
// error; the scan goes on. Nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/log.h"
#include "server/maps.h"

namespace lumo {

// PackRow::status values.
enum : uint32_t {
  kPackPicked = 0,      // the saved picks name the publisher (may be "": base map)
  kPackMatched = 1,     // exactly one listed publisher matches the pack's name
  kPackNeedsPick = 2,   // publishers listed, none or several match
  kPackNoAddonMap = 3,  // the server lists no publisher: the base map applies
  kPackNoList = 4,      // the server's list could not be obtained
};

// One published airport defined by one add-on pack.
struct PackRow {
  std::string file;        // the pack's apt.dat exactly as the scenery order listed it
  std::string pack;        // packName(file)
  std::string packKey;     // packKeyOf(pack)
  std::string icao;        // the airport code as found in the file
  std::string namePrefix;  // namePrefixOf(pack)
  std::vector<std::string> publishers;  // the server's list, in its order
  std::string publisher;   // whose map applies; "" = the base map
  uint32_t status = kPackNoList;
  bool listKnown = false;  // the publisher list was obtained
  bool dismissed = false;  // the user chose "Do not suppress" for the pack
};

struct PackScan {
  std::vector<PackRow> rows;  // packs in scenery order, airports in file order
  std::string note;           // first publisher-list error; "" when none failed
};

// The pack name of an apt.dat path: the folder before "/Earth nav data/apt.dat"
// ("\" read as "/"); "" for the simulator's own airports (a path containing
// "/Global Scenery/") and for any other path.
std::string packName(const std::string& aptPath);

// The pack key: every blank removed, ASCII A-Z lower-cased.
std::string packKeyOf(const std::string& pack);

// The pack name up to its first " - ", trailing blanks removed; the whole
// name when nothing would be left.
std::string namePrefixOf(const std::string& pack);

// Name comparison form: every " " removed, ASCII A-Z lower-cased, all other
// bytes kept.
std::string normaliseName(const std::string& name);

// root ends in "/"; pluginDir holds the saved choices; log may be empty.
PackScan scanPacks(const std::string& root, const std::string& pluginDir, const Geometry& maps,
                   const std::string& host, int port, const LogFn& log);

// Re-reads the saved picks and the dismissed list and classifies every row
// of `scan` again, in place; nothing else of a row changes.
void reclassifyPacks(const std::string& pluginDir, PackScan& scan);

}  // namespace lumo
