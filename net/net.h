// HTTP transport: every exchange with the server goes through here.
//
// One libcurl easy handle (g_curl) serves the whole process so that
// connections, TLS sessions and name lookups are reused; one mutex serialises
// all requests, so a long download delays every other request. Call any
// operation from any thread, in any order; nothing needs setting up or
// shutting down.
//
// The URL is "https://" for port 443 and "http://" otherwise, then the host
// as given, then ":" + port unless the port is 80 or 443, then the path
// (query included), after a "/" when it does not begin with one. libcurl's
// URL API makes the part before the path, and a path always follows a "/",
// so no path - whatever the server published - can name another host or
// port. Port 443 verifies the peer and host against the system's
// certificate store; no other port uses TLS. Redirects are not followed.
//
// Failure: every operation returns true only when the transfer completed and
// the status is 200..299. `out` is cleared first and holds whatever body
// arrived (an error page with its 404, say). A transfer that failed (refused,
// timed out, dropped, TLS refused) is tried once more on a fresh connection;
// an HTTP error status is an answer and is not retried. The status reported
// is that of the completed transfer, 0 when none completed. Nothing is
// logged: callers word their own messages.
//
// Limits. Every body is capped while it arrives (a capped answer is a failed
// request, not retried, with `out` emptied), so a broken or hostile server
// cannot exhaust memory:
//   get, getCond  documents: 2 s to connect, 4 s for the whole transfer,
//                 at most kDocumentMaxBody bytes.
//   download      the plugin package and the launcher executable: 2 s to
//                 connect, no total limit but a low-speed cut-off (the
//                 transfer is given up when it averages under 1000 bytes/s
//                 over 30 s, i.e. when the line stalls), at most
//                 kDownloadMaxBody bytes. A large file may take as long as
//                 it needs on a slow line that keeps moving.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace net {

constexpr std::size_t kDocumentMaxBody = 32u << 20;   // 32 MiB
constexpr std::size_t kDownloadMaxBody = 256u << 20;  // 256 MiB

// The limits of one operation; the three public forms use the constants
// below. Exposed so tests can exercise the cut-offs without waiting for
// the real ones.
struct Limits {
  long connectSecs = 2;
  long totalSecs = 4;       // 0: no total limit
  long lowSpeedBytes = 0;   // 0: no low-speed cut-off
  long lowSpeedSecs = 0;
  std::size_t maxBody = kDocumentMaxBody;
};
extern const Limits kDocumentLimits;  // get, getCond
extern const Limits kDownloadLimits;  // download

// The URL a request goes to (the rule above); empty when libcurl will not
// take the host.
std::string url(const std::string& host, int port, const std::string& path);

// The one test of a download location the server published (a release's
// "url"): the path, query included, to request from host:port. Accepted are
// a path that begins with a single "/", and an absolute URL whose scheme,
// host and port are those of host:port ("https" exactly for port 443) or
// those of https://home:443, the product's own server; an absolute URL
// gives only its path and query. Refused (false, `path` untouched): any
// other text - a relative name ("@other:8080/x" would otherwise become the
// user-info part of our URL), "//other/x", another host, scheme or port,
// user-info, and control characters, blanks or backslashes anywhere.
[[nodiscard]] bool publishedPath(const std::string& published, const std::string& host, int port,
                                 const std::string& home, std::string& path);

// GET a document.
[[nodiscard]] bool get(const std::string& host, int port, const std::string& path, std::string& out);
// GET a document, reporting the status (304 for "unchanged", say).
[[nodiscard]] bool getCond(const std::string& host, int port, const std::string& path, std::string& out,
             int& status);
// GET a large file (plugin package, launcher executable) with the download
// limits; `status`, when given, as for getCond.
[[nodiscard]] bool download(const std::string& host, int port, const std::string& path, std::string& out,
              int* status = nullptr);

// The common operation behind the three: one attempt, then one on a fresh
// connection if the transfer failed.
[[nodiscard]] bool fetch(const std::string& host, int port, const std::string& path, std::string& out,
           int& status, const Limits& limits);

// Documents that do not wait on each other: GETs sent side by side over up
// to kPoolConnections connections of the batch's own (the shared handle
// above stays for everything else), in the order given, each with the
// document limits and the retry of fetch(). The reader takes the answers in
// any order it likes; workers run at most `ahead` requests past the last
// one taken, so a slow reader does not gather every answer in memory.
// Destroying the batch sends nothing more and waits for the requests under
// way (each bounded by the document limits).
constexpr std::size_t kPoolConnections = 8;

class Batch {
 public:
  Batch(const std::string& host, int port, std::vector<std::string> paths, std::size_t ahead = 64);
  ~Batch();
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  std::size_t size() const;
  // Waits for request i and moves its body out; true as get() would be.
  // Each request is taken once; a second take gives false and no body.
  bool take(std::size_t i, std::string& body);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
