#include "pass/choice.h"

#include <algorithm>
#include <cstdio>

namespace lumo {

namespace {

std::string joinKey(const std::string& a, const std::string& b) {
  std::string k = a;
  k.push_back(kUnitSep);
  k += b;
  return k;
}

}  // namespace

void hashBytes(uint64_t& hash, const std::string& text) {
  for (unsigned char b : text) {
    hash ^= b;
    hash *= 0x100000001b3ULL;
  }
}

std::string passSignature(const std::string& rev, uint64_t hash) {
  if (hash == kSignatureStart) return rev;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%012llx",
                static_cast<unsigned long long>(hash & 0xffffffffffffULL));
  return rev + "+" + hex;
}

PackIndex indexPackRows(const PackScan& scan) {
  PackIndex index;
  for (const PackRow& row : scan.rows) index.emplace(joinKey(row.file, row.icao), &row);
  return index;
}

void chooseAirport(const std::string& file, const std::string& pack, const std::string& icao,
                   const Geometry& maps, const PackIndex& rows, PassShared& shared,
                   FileChoice& out, const LogFn& log) {
  const auto g = maps.airports.find(icao);
  if (g == maps.airports.end()) return;
  const AirportGeom& geom = g->second;
  std::string publisher;
  const orveldb::AirportScope* map = &geom.base;

  if (!pack.empty()) {
    const auto it = rows.find(joinKey(file, icao));
    if (it == rows.end()) return;  // the scan did not find the airport in this pack
    const PackRow& row = *it->second;
    if (row.dismissed || row.status == kPackNeedsPick || row.status == kPackNoList) {
      out.notSuppressed.push_back(icao);
      std::string line = "   " + icao + " not suppressed - " + pack;
      if (!row.dismissed)
        line += row.status == kPackNoList ? ": no publisher list from the server"
                                          : ": needs a publisher picked";
      say(log, line);
      return;
    }
    publisher = row.publisher;
    if (!publisher.empty()) {
      const auto v = geom.variants.find(publisher);
      if (v == geom.variants.end()) {
        out.notSuppressed.push_back(icao);
        say(log, "   " + icao + " not suppressed - no " + publisher + " map published for it");
        return;
      }
      map = &v->second;
      if (std::find(out.ownMapPublishers.begin(), out.ownMapPublishers.end(), publisher) ==
          out.ownMapPublishers.end())
        out.ownMapPublishers.push_back(publisher);
      ++out.ownMapAirports;
    }
  }

  // Without bars or lead-on lines there is nothing to hold the file against;
  // the airport stays unclaimed for files later in scenery order.
  if (map->bars.empty() && map->lead.empty()) return;

  orveldb::AirportScope& entry = out.scopes[icao];
  if (!shared.planning) {
    entry.bars = map->bars;
    entry.lead = map->lead;
    entry.network = map->network;
    entry.barx = map->barx;
  }

  if (shared.orvelAirports.count(icao) == 0) return;
  std::string netPublisher;
  if (!pack.empty()) {
    // A pack without a publisher of its own has no network drawn for it.
    if (publisher.empty()) return;
    if (shared.orvelPairs.count(joinKey(icao, publisher)) == 0) return;
    netPublisher = publisher;
  }

  const std::string key = joinKey(icao, netPublisher);
  if (shared.planning) {
    if (shared.netCache.count(key) == 0 && shared.planned.emplace(key, shared.plannedPaths.size()).second)
      shared.plannedPaths.push_back(orvelNetPath(icao, netPublisher));
    return;
  }
  auto cached = shared.netCache.find(key);
  if (cached == shared.netCache.end()) {
    OrvelNet net;
    std::string error;
    const auto planned = shared.planned.find(key);
    bool ok;
    if (shared.ahead && planned != shared.planned.end()) {
      std::string body;
      if (!shared.ahead->take(planned->second, body)) body.clear();
      ok = readOrvelNet(body, icao, net, error);
    } else {
      ok = fetchOrvelNet(shared.host, shared.port, icao, netPublisher, net, error);
    }
    if (!ok && !error.empty()) say(log, "!! ORVEL network " + icao + ": " + error);
    // Stored whatever the outcome, so a failing network is asked once per pass.
    cached = shared.netCache.emplace(key, std::move(net)).first;
  }
  const OrvelNet& net = cached->second;
  if (!net.available) return;
  const bool fits = net.byPublisher == !pack.empty();
  if (!fits) {
    say(log, "   " + icao + ": ORVEL network published, but not for this scenery - taxiway lights left alone");
    return;
  }
  entry.network = net.edges;
  hashBytes(shared.hash, net.pubRev);
  const std::string label = pack.empty() ? " [canonical]" : " [" + publisher + "'s network]";
  say(log, "   " + icao + ": ORVEL network " + std::to_string(net.edges.size()) + " edge(s)" + label +
               " - its taxiway centreline lights go with the pass");
}

}  // namespace lumo
