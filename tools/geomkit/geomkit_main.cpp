// geomkit: reference geometry from a real apt.dat, for the development server
// and for looking at what a test or benchmark holds an airport against.
//
//   geomkit rank FILE [N]          airport codes by lit node rows, most first
//   geomkit maps FILE CODE...      a maps document for the codes (all lit airports when none)
//   geomkit network FILE CODE      the derived taxi-route lines of one airport
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>

#include "tools/geomkit/geomkit.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: geomkit rank FILE [N] | maps FILE [CODE...] | network FILE CODE\n";
    return 2;
  }
  const std::string cmd = argv[1], path = argv[2];
  std::string err;
  if (cmd == "rank") {
    std::vector<std::pair<std::string, long>> ranked;
    const std::size_t n = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    if (!geomkit::rankByLit(path, ranked, err, n)) {
      std::cerr << err << "\n";
      return 1;
    }
    for (const auto& [code, count] : ranked) std::cout << code << " " << count << "\n";
    return 0;
  }
  std::set<std::string> codes;
  for (int i = 3; i < argc; ++i) codes.insert(argv[i]);
  orveldb::ScopeMap scopes;
  if (!geomkit::deriveFile(path, scopes, err, codes.empty() ? nullptr : &codes)) {
    std::cerr << err << "\n";
    return 1;
  }
  if (cmd == "maps") {
    nlohmann::json airports = nlohmann::json::object();
    for (const auto& [code, s] : scopes)
      if (!s.bars.empty() || !s.lead.empty()) airports[code] = geomkit::mapEntryJson(s);
    nlohmann::json doc = {{"airports", airports}, {"rev", "geomkit"}};
    std::cout << doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
  }
  if (cmd == "network" && codes.size() == 1) {
    auto it = scopes.find(*codes.begin());
    const orvel::Lines none;
    std::cout << geomkit::linesJson(it == scopes.end() ? none : it->second.network).dump() << "\n";
    return 0;
  }
  std::cerr << "unknown command " << cmd << "\n";
  return 2;
}
