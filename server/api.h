// Server API: the five documents the launcher asks the server for.
//
// Each function sends one GET through the transport (net/net.h) to host and
// port (by default kDefaultHost on 443, i.e. HTTPS), reads the JSON answer
// and fills its result record. They keep no state and may be called in any
// order from the job thread; callers cache answers where they need to.
//
// Failure: each returns false and sets `error` to a short phrase worded for
// the log (the caller puts "!! " in front or embeds it); on success `error`
// is left untouched. Nothing throws. The phrases:
//   "no answer from " + host          request failed, non-2xx, empty body
//                                     ("no answer for " + icao for a network)
//   "could not read the version answer"
//   "no version published for " + product
//   host + " sent something we could not read"   maps document unreadable,
//                                     including values of the wrong type
//   "no airports in the database"
//   icao + ": could not read the publisher list"
//   "no airport list", "could not read the ORVEL airport list"
//   icao + ": no network geometry", icao + ": could not read the network"
//
// Composite keys join an airport code and a publisher with kUnitSep (0x1F).
//
// Text the window and the log show is made printable where it arrives
// (net::printable): a release's version and notes, and publisher names,
// wherever they come from (publisher lists, the ORVEL airport list, the
// maps' variants), the same way everywhere so that they still match.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "engine/geo.h"
#include "server/maps.h"

namespace lumo {

// The product's server. Downloads named by absolute URLs must lie on it.
constexpr const char* kDefaultHost = "api.taxilume.net";
constexpr int kDefaultPort = 443;
constexpr char kUnitSep = '\x1f';
// Longest version and notes kept from a release answer.
constexpr std::size_t kShownVersionMax = 64;
constexpr std::size_t kShownNotesMax = 2000;

// A published release; every field empty when not published.
struct Release {
  std::string version;
  std::string url;    // a path on the server, or an absolute URL on kDefaultHost
  std::string notes;
};

// One airport's ORVEL taxi-route network.
struct OrvelNet {
  std::vector<std::vector<orvel::Pt>> edges;  // one polyline per usable edge
  bool available = false;    // a network is published for this request
  bool byPublisher = false;  // drawn for a publisher's scenery ("geom": "publisher")
  std::string pubRev;        // the network's revision
};

// Percent-encoding of query values: letters, digits and "-._~" stay, every
// other byte becomes "%" and two upper-case hex digits.
std::string urlEncode(const std::string& s);

// /api/version?pub=1&platform=<product> ("xplane", "xplane-launcher-lin").
[[nodiscard]] bool fetchLatest(const std::string& host, int port, Release& release, std::string& error,
                 const std::string& product);

// /api/suppress/geometry, asking "?rev=<knownRev>" when knownRev is 1..64
// ASCII letters and digits. A 304 to that sets notModified and returns true
// with `geometry` untouched; `geometry` is replaced only by a readable
// document with at least one airport.
[[nodiscard]] bool fetchGeometry(const std::string& host, int port, Geometry& geometry, std::string& error,
                   const std::string& knownRev, bool& notModified);

// /api/scenery/publishers?icao=<icao>&platform=xplane; appends the names.
[[nodiscard]] bool fetchPublishersFor(const std::string& host, int port, const std::string& icao,
                        std::vector<std::string>& publishers, std::string& error);
// Its two halves, for requests sent side by side (net::Batch): the path, and
// the reading of what came back (`answered`: the request succeeded), with
// the same results and messages.
std::string publishersQuery(const std::string& icao);
bool readPublishers(bool answered, const std::string& body, const std::string& host, const std::string& icao,
                    std::vector<std::string>& publishers, std::string& error);

// /api/orvel/airports; inserts codes into `icaos` and code + kUnitSep +
// publisher (empty for the canonical network) into `pairs`.
[[nodiscard]] bool fetchOrvelAirports(const std::string& host, int port, std::set<std::string>& icaos,
                        std::set<std::string>& pairs, std::string& error);

// /api/orvel/<icao>/net?platform=xplane[&publisher=<publisher>]. True with no
// edges when no network is available; false with an empty `error` when a
// network is available but none of its edges is usable. Fields already set
// when a fault is found stay set.
[[nodiscard]] bool fetchOrvelNet(const std::string& host, int port, const std::string& icao,
                   const std::string& publisher, OrvelNet& net, std::string& error);

// The path fetchOrvelNet asks for.
std::string orvelNetPath(const std::string& icao, const std::string& publisher);

// The reading half of fetchOrvelNet: one network answer's body, with the same
// results and messages (an empty body is "no answer for " + icao).
[[nodiscard]] bool readOrvelNet(const std::string& body, const std::string& icao, OrvelNet& net,
                  std::string& error);

}  // namespace lumo
