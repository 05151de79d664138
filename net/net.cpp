#include "net/net.h"

#include "common/text.h"

#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace net {

const Limits kDocumentLimits{2, 4, 0, 0, kDocumentMaxBody};
// 1000 bytes/s over 30 s: a stalled line is given up within half a minute,
// while a slow one that keeps moving may take as long as the file needs.
const Limits kDownloadLimits{2, 0, 1000, 30, kDownloadMaxBody};

CURL* g_curl = nullptr;
std::mutex g_curlMtx;
std::once_flag g_curlOnce;

namespace {

bool fetchOn(CURL* h, const std::string& host, int port, const std::string& path, std::string& out,
             int& status, const Limits& limits);

struct Sink {
  std::string* out;
  std::size_t maxBody;
  bool capped = false;
};

size_t writeCb(char* data, size_t size, size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  // The cap is checked here rather than with CURLOPT_MAXFILESIZE alone: a
  // chunked or compressed answer announces no length.
  if (sink->out->size() + n > sink->maxBody) {
    sink->capped = true;
    return 0;  // anything short of n aborts the transfer
  }
  sink->out->append(data, n);
  return n;
}

CURLcode request(CURL* h, const std::string& theUrl, std::string& out, int& status, bool fresh,
                 const Limits& limits, bool& capped) {
  out.clear();
  Sink sink{&out, limits.maxBody};
  curl_easy_reset(h);  // options go back to the defaults; the connection cache stays
  curl_easy_setopt(h, CURLOPT_URL, theUrl.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeCb);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Taxilume/1.0");
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, limits.connectSecs);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, limits.totalSecs);
  if (limits.lowSpeedBytes > 0 && limits.lowSpeedSecs > 0) {
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSecs);
  }
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  // An announced length over the cap is refused before any body arrives.
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBody));
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  if (fresh) curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);

  CURLcode rc = curl_easy_perform(h);
  status = 0;
  if (rc == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    status = static_cast<int>(code);
  }
  capped = sink.capped || rc == CURLE_FILESIZE_EXCEEDED;
  return rc;
}

// One operation on handle h: one attempt, then one on a fresh connection
// if the transfer failed.
bool fetchOn(CURL* h, const std::string& host, int port, const std::string& path, std::string& out,
             int& status, const Limits& limits) {
  const std::string theUrl = url(host, port, path);
  if (theUrl.empty()) {
    status = 0;
    return false;
  }
  bool capped = false;
  CURLcode rc = request(h, theUrl, out, status, false, limits, capped);
  // A kept-alive connection the server has closed meanwhile fails the first
  // attempt; a fresh one covers that. An over-long answer would only be
  // over-long again.
  if (rc != CURLE_OK && !capped) rc = request(h, theUrl, out, status, true, limits, capped);
  if (rc != CURLE_OK) {
    status = 0;
    if (capped) std::string().swap(out);  // give the memory back
    return false;
  }
  return status >= 200 && status <= 299;
}

}  // namespace

namespace {

struct UrlFree {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
  void operator()(char* s) const { curl_free(s); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlFree>;

std::string part(CURLU* u, CURLUPart which, unsigned flags = 0) {
  char* raw = nullptr;
  if (curl_url_get(u, which, &raw, flags) != CURLUE_OK || !raw) return {};
  const std::unique_ptr<char, UrlFree> owned(raw);
  return raw;
}

// Bytes that have no business in a published location: they would be
// re-read differently by some URL parser or forge a line where shown.
bool plainLocation(const std::string& s) {
  if (s.empty() || s.size() > 2048) return false;
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f || c == '\\') return false;
  }
  return true;
}

}  // namespace

std::string url(const std::string& host, int port, const std::string& path) {
  // libcurl builds the part up to the path (it refuses a host with "@",
  // "/" or blanks in it); the path is appended as given - libcurl would
  // rewrite its escapes - after a "/", so nothing in it can reach back into
  // the host or the port.
  UrlHandle u(curl_url());
  if (!u) return {};
  bool ok = curl_url_set(u.get(), CURLUPART_SCHEME, port == 443 ? "https" : "http", 0) == CURLUE_OK &&
            curl_url_set(u.get(), CURLUPART_HOST, host.c_str(), 0) == CURLUE_OK;
  if (ok && port != 80 && port != 443)
    ok = curl_url_set(u.get(), CURLUPART_PORT, std::to_string(port).c_str(), 0) == CURLUE_OK;
  std::string base = ok ? part(u.get(), CURLUPART_URL) : std::string();
  if (base.empty()) return {};
  if (base.back() == '/') base.pop_back();
  return base + (path.empty() || path[0] != '/' ? "/" : "") + path;
}

bool publishedPath(const std::string& published, const std::string& host, int port, const std::string& home,
                   std::string& path) {
  if (!plainLocation(published)) return false;
  if (published[0] == '/') {
    if (published.size() > 1 && published[1] == '/') return false;  // "//other/x" names a host
    path = published;
    return true;
  }
  UrlHandle u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, published.c_str(), 0) != CURLUE_OK) return false;
  char* user = nullptr;
  if (curl_url_get(u.get(), CURLUPART_USER, &user, 0) == CURLUE_OK) {
    curl_free(user);
    return false;
  }
  const std::string scheme = lumo::lowerAscii(part(u.get(), CURLUPART_SCHEME));
  const std::string onHost = lumo::lowerAscii(part(u.get(), CURLUPART_HOST));
  const std::string onPort = part(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  const bool ours = scheme == (port == 443 ? "https" : "http") && onHost == lumo::lowerAscii(host) &&
                    onPort == std::to_string(port);
  const bool home443 = scheme == "https" && onHost == lumo::lowerAscii(home) && onPort == "443";
  if (!ours && !home443) return false;
  std::string p = part(u.get(), CURLUPART_PATH);
  const std::string query = part(u.get(), CURLUPART_QUERY);
  if (!query.empty()) p += "?" + query;
  // "https://home" with nothing after the host names no file.
  if (p.empty() || p == "/" || !plainLocation(p) || (p.size() > 1 && p[1] == '/')) return false;
  path = p;
  return true;
}

bool fetch(const std::string& host, int port, const std::string& path, std::string& out,
           int& status, const Limits& limits) {
  out.clear();
  status = 0;
  std::call_once(g_curlOnce, [] { curl_global_init(CURL_GLOBAL_ALL); });
  std::lock_guard<std::mutex> lock(g_curlMtx);
  if (!g_curl) g_curl = curl_easy_init();
  if (!g_curl) return false;

  return fetchOn(g_curl, host, port, path, out, status, limits);
}

bool get(const std::string& host, int port, const std::string& path, std::string& out) {
  int status = 0;
  return fetch(host, port, path, out, status, kDocumentLimits);
}

bool getCond(const std::string& host, int port, const std::string& path, std::string& out,
             int& status) {
  return fetch(host, port, path, out, status, kDocumentLimits);
}

bool download(const std::string& host, int port, const std::string& path, std::string& out,
              int* status) {
  int st = 0;
  bool ok = fetch(host, port, path, out, st, kDownloadLimits);
  if (status) *status = st;
  return ok;
}

struct Batch::Impl {
  std::string host;
  int port = 0;
  std::vector<std::string> paths;
  struct Result {
    bool done = false, ok = false;
    std::string body;
  };
  std::vector<Result> results;
  std::mutex mtx;
  std::condition_variable cv;
  std::size_t next = 0;     // the next request to send
  std::size_t horizon = 0;  // requests below this may be sent
  std::size_t window = 0;
  bool stopping = false;
  std::vector<std::thread> workers;

  void work() {
    CURL* h = curl_easy_init();
    for (;;) {
      std::size_t i;
      {
        std::unique_lock<std::mutex> lock(mtx);
        cv.wait(lock, [&] { return stopping || next >= paths.size() || next < horizon; });
        if (stopping || next >= paths.size()) break;
        i = next++;
      }
      std::string body;
      int status = 0;
      const bool ok = h && fetchOn(h, host, port, paths[i], body, status, kDocumentLimits);
      {
        std::lock_guard<std::mutex> lock(mtx);
        results[i].ok = ok;
        results[i].body = std::move(body);
        results[i].done = true;
      }
      cv.notify_all();
    }
    if (h) curl_easy_cleanup(h);
  }
};

Batch::Batch(const std::string& host, int port, std::vector<std::string> paths, std::size_t ahead)
    : impl_(new Impl) {
  std::call_once(g_curlOnce, [] { curl_global_init(CURL_GLOBAL_ALL); });
  Impl& b = *impl_;
  b.host = host;
  b.port = port;
  b.paths = std::move(paths);
  b.results.resize(b.paths.size());
  b.window = std::max<std::size_t>(ahead, 1);
  b.horizon = b.window;
  const std::size_t n = std::min<std::size_t>(kPoolConnections, b.paths.size());
  for (std::size_t i = 0; i < n; ++i) b.workers.emplace_back([&b] { b.work(); });
}

Batch::~Batch() {
  {
    std::lock_guard<std::mutex> lock(impl_->mtx);
    impl_->stopping = true;
  }
  impl_->cv.notify_all();
  for (std::thread& t : impl_->workers) t.join();
}

std::size_t Batch::size() const { return impl_->paths.size(); }

bool Batch::take(std::size_t i, std::string& body) {
  body.clear();
  Impl& b = *impl_;
  if (i >= b.paths.size()) return false;
  std::unique_lock<std::mutex> lock(b.mtx);
  // Taking request i lets the workers run up to `window` requests past it,
  // so answers never pile up far ahead of the reader.
  b.horizon = std::max(b.horizon, i + 1 + b.window);
  b.cv.notify_all();
  b.cv.wait(lock, [&] { return b.results[i].done; });
  body.swap(b.results[i].body);
  std::string().swap(b.results[i].body);
  const bool ok = b.results[i].ok;
  b.results[i].ok = false;
  return ok;
}

}  // namespace net
