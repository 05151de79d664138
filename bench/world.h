// The world airport file the benchmarks run on, found (or made) so that they
// run in a bare clone too.
//
// Where it comes from, first match wins:
//   1. --world FILE on the benchmark's command line (--world sample: the
//      made-up file of 5, whatever else is there);
//   2. the environment variable TAXILUME_BENCH_WORLD (make bench passes it
//      through: make bench TAXILUME_BENCH_WORLD=FILE);
//   3. ../shared/data/global-apt.dat.gz beside the project;
//   4. Debian's flightgear-data-base package,
//      /usr/share/games/flightgear/Airports/apt.dat.gz (the same 2013 data);
//   5. made up: copies of the 12 airports of tests/data/sample-global-apt.dat,
//      each copy with its airport codes renamed so that every block is a
//      distinct airport, until the file is as large as the real world file.
// A file named in 1 or 2 that cannot be read is an error, not a reason to
// fall back: the figures would silently be about other data.
//
// Calling order: prepareWorld(argc, argv, folder) once, before measuring; it
// leaves an unpacked apt.dat in folder and says in `source` which data that
// is, for the benchmark to print beside its figures. Failures come back in
// `error` (ok false); nothing throws.
#pragma once

#include <string>

namespace bench {

struct World {
  bool ok = false;
  std::string error;
  std::string path;    // the unpacked apt.dat
  std::string source;  // one line: which data, from where
  bool real = false;   // real world data, not made up
};

World prepareWorld(int argc, char** argv, const std::string& folder);

}  // namespace bench
