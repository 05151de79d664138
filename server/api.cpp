#include "server/api.h"

#include <cmath>

#include "net/net.h"
#include "net/text.h"

namespace lumo {

using nlohmann::json;

namespace {

// Deeper than any answer of ours could be; a hostile body nested millions
// deep would otherwise cost memory out of all proportion to its size.
constexpr int kMaxDepth = 256;

bool tooDeep(const std::string& s) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : s) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// Strict JSON (no comments, valid UTF-8); false when the body does not parse.
bool parseAnswer(const std::string& body, json& out) {
  if (tooDeep(body)) return false;
  try {
    out = json::parse(body, nullptr, /*allow_exceptions=*/false);
  } catch (const std::exception&) {
    return false;
  }
  return !out.is_discarded();
}

// Copies a string member when it is one; `present` says whether the key was
// there at all, so callers can tell "missing" from "wrong type".
bool stringMember(const json& obj, const char* key, std::string& out, bool& wrongType) {
  auto it = obj.find(key);
  if (it == obj.end()) return false;
  if (!it->is_string()) {
    wrongType = true;
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool isRevision(const std::string& rev) {
  if (rev.empty() || rev.size() > 64) return false;
  for (unsigned char c : rev)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
      return false;
  return true;
}

// The airport code goes into the path: encoded like a query value so that a
// code with "/", "?" or "#" cannot reach another endpoint, and a code of dots
// cannot be folded into a parent folder. Real codes are sent unchanged.
std::string pathSegment(const std::string& icao) {
  if (icao == ".") return "%2E";
  if (icao == "..") return "%2E%2E";
  return urlEncode(icao);
}

// (latitude, longitude) of a point in a network answer, when usable.
bool usablePoint(const json& v, orvel::Pt& p) {
  if (!v.is_array() || v.size() < 2 || !v[0].is_number() || !v[1].is_number()) return false;
  p = orvel::Pt{v[0].get<double>(), v[1].get<double>()};
  return std::isfinite(p.lat) && std::isfinite(p.lon);
}

}  // namespace

std::string urlEncode(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool fetchLatest(const std::string& host, int port, Release& release, std::string& error,
                 const std::string& product) {
  std::string body;
  if (!net::get(host, port, "/api/version?pub=1&platform=" + product, body) || body.empty()) {
    error = "no answer from " + host;
    return false;
  }
  json doc;
  if (!parseAnswer(body, doc)) {
    error = "could not read the version answer";
    return false;
  }
  Release r;
  if (doc.is_object()) {
    bool ignored = false;
    stringMember(doc, "version", r.version, ignored);
    stringMember(doc, "url", r.url, ignored);
    stringMember(doc, "notes", r.notes, ignored);
  }
  // Shown in the window and the log. The url stays as published: it is only
  // ever judged by net::publishedPath, which refuses control characters.
  r.version = net::printable(r.version, kShownVersionMax);
  r.notes = net::printable(r.notes, kShownNotesMax);
  release = std::move(r);
  if (release.version.empty()) {
    error = "no version published for " + product;
    return false;
  }
  return true;
}

bool fetchGeometry(const std::string& host, int port, Geometry& geometry, std::string& error,
                   const std::string& knownRev, bool& notModified) {
  notModified = false;
  const bool conditional = isRevision(knownRev);
  std::string path = "/api/suppress/geometry";
  if (conditional) path += "?rev=" + knownRev;
  std::string body;
  int status = 0;
  if (!net::getCond(host, port, path, body, status)) {
    if (status == 304 && conditional) {
      notModified = true;
      return true;
    }
    error = "no answer from " + host;
    return false;
  }
  if (body.empty()) {
    error = "no answer from " + host;
    return false;
  }
  json doc;
  if (!parseAnswer(body, doc)) {
    error = host + " sent something we could not read";
    return false;
  }
  std::string fault;
  if (!parseGeometry(doc, geometry, &fault)) {
    error = fault.empty() ? "no airports in the database"
                          : host + " sent something we could not read";
    return false;
  }
  return true;
}

std::string publishersQuery(const std::string& icao) {
  return "/api/scenery/publishers?icao=" + urlEncode(icao) + "&platform=xplane";
}

bool fetchPublishersFor(const std::string& host, int port, const std::string& icao,
                        std::vector<std::string>& publishers, std::string& error) {
  std::string body;
  const bool answered = net::get(host, port, publishersQuery(icao), body);
  return readPublishers(answered, body, host, icao, publishers, error);
}

bool readPublishers(bool answered, const std::string& body, const std::string& host, const std::string& icao,
                    std::vector<std::string>& publishers, std::string& error) {
  if (!answered || body.empty()) {
    error = "no answer from " + host;
    return false;
  }
  json doc;
  if (!parseAnswer(body, doc)) {
    error = icao + ": could not read the publisher list";
    return false;
  }
  if (!doc.is_object()) return true;
  auto list = doc.find("publishers");
  if (list == doc.end() || !list->is_array()) return true;
  for (const json& e : *list)
    if (e.is_string()) publishers.push_back(publisherName(e.get<std::string>()));
  return true;
}

bool fetchOrvelAirports(const std::string& host, int port, std::set<std::string>& icaos,
                        std::set<std::string>& pairs, std::string& error) {
  std::string body;
  if (!net::get(host, port, "/api/orvel/airports", body) || body.empty()) {
    error = "no answer from " + host;
    return false;
  }
  json doc;
  if (!parseAnswer(body, doc)) {
    error = "could not read the ORVEL airport list";
    return false;
  }
  auto list = doc.is_object() ? doc.find("airports") : doc.end();
  if (!doc.is_object() || list == doc.end() || !list->is_array()) {
    error = "no airport list";
    return false;
  }
  for (const json& e : *list) {
    bool wrong = false;
    std::string platform, icao, publisher;
    if (e.is_object()) {
      stringMember(e, "platform", platform, wrong);
      stringMember(e, "icao", icao, wrong);
      stringMember(e, "publisher", publisher, wrong);
    }
    if (!e.is_object() || wrong) {
      error = "could not read the ORVEL airport list";
      return false;
    }
    if (platform != "xplane" || icao.empty()) continue;
    icaos.insert(icao);
    pairs.insert(icao + kUnitSep + publisherName(publisher));
  }
  return true;
}

std::string orvelNetPath(const std::string& icao, const std::string& publisher) {
  std::string path = "/api/orvel/" + pathSegment(icao) + "/net?platform=xplane";
  if (!publisher.empty()) path += "&publisher=" + urlEncode(publisher);
  return path;
}

bool fetchOrvelNet(const std::string& host, int port, const std::string& icao,
                   const std::string& publisher, OrvelNet& net, std::string& error) {
  std::string body;
  if (!net::get(host, port, orvelNetPath(icao, publisher), body)) body.clear();
  return readOrvelNet(body, icao, net, error);
}

bool readOrvelNet(const std::string& body, const std::string& icao, OrvelNet& net,
                  std::string& error) {
  if (body.empty()) {
    error = "no answer for " + icao;
    return false;
  }
  const std::string unreadable = icao + ": could not read the network";
  json doc;
  if (!parseAnswer(body, doc) || !doc.is_object()) {
    error = unreadable;
    return false;
  }

  // The three fields are set in order; a fault keeps what was set before it.
  auto avail = doc.find("available");
  if (avail != doc.end() && !avail->is_boolean()) {
    error = unreadable;
    return false;
  }
  net.available = avail != doc.end() && avail->get<bool>();
  bool wrong = false;
  std::string geom;
  stringMember(doc, "geom", geom, wrong);
  if (wrong) {
    error = unreadable;
    return false;
  }
  net.byPublisher = geom == "publisher";
  std::string pubRev;
  stringMember(doc, "pubRev", pubRev, wrong);
  if (wrong) {
    error = unreadable;
    return false;
  }
  net.pubRev = pubRev;

  if (!net.available) return true;
  auto nodes = doc.find("nodes");
  auto edges = doc.find("edges");
  if (nodes == doc.end() || edges == doc.end() || !edges->is_array()) {
    error = icao + ": no network geometry";
    return false;
  }
  for (const json& e : *edges) {
    if (!e.is_object()) {
      error = unreadable;
      return false;
    }
    std::string a, b;
    stringMember(e, "a", a, wrong);
    stringMember(e, "b", b, wrong);
    if (wrong) {
      error = unreadable;
      return false;
    }
    if (!nodes->is_object()) continue;
    auto na = nodes->find(a), nb = nodes->find(b);
    if (na == nodes->end() || nb == nodes->end()) continue;
    std::vector<orvel::Pt> line;
    orvel::Pt p;
    if (!usablePoint(*na, p)) continue;
    line.push_back(p);
    auto shape = e.find("shape");
    if (shape != e.end() && shape->is_array())
      for (const json& s : *shape)
        if (usablePoint(s, p)) line.push_back(p);
    if (!usablePoint(*nb, p)) continue;
    line.push_back(p);
    net.edges.push_back(std::move(line));
  }
  return !net.edges.empty();
}

}  // namespace lumo
