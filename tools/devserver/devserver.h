// A local stand-in for the product's server, answering the launcher's API
// from a folder of documents, plus a builder that makes such a folder from
// real scenery. The program taxilume-devserver wraps both; tests link the
// library (tl_devserverlib) and run a server in-process:
//
//   devserver::Server s;
//   std::string err;
//   if (!s.start(folder, 0, err)) FAIL() << err;   // 127.0.0.1, port picked
//   ... lumo::fetchGeometry("127.0.0.1", s.port(), ...) ...
//   s.requests(); s.connections(); s.log();        // what the server saw
//   s.stop();                                      // also done by ~Server
//
// The folder is read on every request, so a test may change documents while
// the server runs. Layout (every file optional):
//
//   geometry.json                  the maps document; its "rev" is the current
//                                  revision: /api/suppress/geometry?rev=<it>
//                                  answers 304, any other request the document.
//                                  Missing: 404.
//   releases/<platform>.json       answer to /api/version?pub=1&platform=<p>,
//                                  e.g. releases/xplane.json and
//                                  releases/xplane-launcher-lin.json:
//                                  {"version":"1.2.0","url":"/files/x.zip",
//                                   "notes":"..."}. Missing: 404.
//   publishers/<ICAO>.json         answer to /api/scenery/publishers?icao=<ICAO>
//                                  &platform=xplane. Missing: {"publishers":[]}.
//   orvel/airports.json            answer to /api/orvel/airports.
//                                  Missing: {"airports":[]}.
//   orvel/<ICAO>/net.json          answer to /api/orvel/<ICAO>/net?platform=xplane
//                                  (the canonical network).
//   orvel/<ICAO>/pub/<P>.json      the same with &publisher=<P>, where <P> is the
//                                  publisher name percent-encoded as the launcher
//                                  sends it ("Foo Bar" -> Foo%20Bar.json).
//                                  Missing network: {"available":false}.
//   files/<path>                   served as /files/<path> (plugin package,
//                                  launcher build), as application/octet-stream.
//
// Documents are served as they are (any bytes, so tests can serve broken
// ones). Codes or names that would leave the folder ("..", "/") get 404.
// Requests for another platform than "xplane" get the "missing" answer.
//
// Failure: start returns false with a short phrase ("cannot listen on
// 127.0.0.1:<port>", "no folder <path>"); buildFolder likewise.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

class Server {
 public:
  Server();
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves `folder` on 127.0.0.1:port (0: a free port is picked) from a
  // thread of its own; returns once the server accepts connections.
  bool start(const std::string& folder, int port, std::string& error);
  int port() const;  // the port in use, 0 when not running
  void stop();       // idempotent
  // Holds every answer back by `ms` milliseconds, as a server far away
  // would (0, the default: answer at once). Call after start.
  void setDelayMs(int ms);

  // What the server has seen since start or the last resetCounts.
  int requests() const;     // requests answered
  int connections() const;  // distinct client connections they arrived on
  std::vector<std::string> log() const;  // request targets, path and query, in order
  void resetCounts();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Building a folder from real scenery.
struct AddOn {
  std::string publisher;  // name as published ("Foo Bar")
  std::string aptDat;     // the publisher's apt.dat (empty: the base one)
};
struct BuildOptions {
  std::string aptDat;          // apt.dat whose airports get base maps and networks
  std::vector<AddOn> addOns;   // add-on maps and publisher networks
  std::string rev = "r1";      // the maps revision (letters and digits)
  bool networks = true;        // write ORVEL networks for the airports
  std::string pluginZip;       // when set: copied to files/ and published as
  std::string pluginVersion = "1.0.0";  // releases/xplane.json
};

// Writes the documents of the layout above into `folder` (created when
// missing; existing documents of the same names are replaced). `airports`
// counts the airports that got a base map.
bool buildFolder(const BuildOptions& options, const std::string& folder, int& airports,
                 std::string& error);

}  // namespace devserver
