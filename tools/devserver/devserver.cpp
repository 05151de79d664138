#include "tools/devserver/devserver.h"
#include "server/api.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

#include <nlohmann/json.hpp>


namespace devserver {

namespace {

bool readWhole(const std::string& path, std::string& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

// A name taken from a request that is to become part of a file path.
bool safeName(const std::string& s) {
  return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos &&
         s.find('\0') == std::string::npos;
}

bool safeRelPath(const std::string& rel) {
  if (rel.empty()) return false;
  size_t start = 0;
  while (start <= rel.size()) {
    size_t slash = rel.find('/', start);
    std::string seg = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!safeName(seg)) return false;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}


}  // namespace

struct Server::Impl {
  httplib::Server svr;
  std::thread thread;
  std::string folder;
  int port = 0;
  std::atomic<bool> ended{false};
  std::atomic<int> delayMs{0};

  mutable std::mutex mtx;
  int requests = 0;
  std::set<std::pair<std::string, int>> conns;
  std::vector<std::string> log;

  void json(httplib::Response& res, const std::string& body) {
    res.status = 200;
    // With the charset named the library leaves the body as it is: its
    // on-the-fly compression (brotli at top quality when the client takes it)
    // costs seconds on a many-megabyte maps document, more than the
    // launcher's 4-second limit leaves, and gains nothing on 127.0.0.1.
    res.set_content(body, "application/json; charset=utf-8");
  }
  void document(httplib::Response& res, const std::string& rel, const char* missing) {
    std::string body;
    if (readWhole(folder + "/" + rel, body)) return json(res, body);
    if (missing) return json(res, missing);
    res.status = 404;
    res.set_content("not found\n", "text/plain");
  }
  void notFound(httplib::Response& res) {
    res.status = 404;
    res.set_content("not found\n", "text/plain");
  }

  void answer(const httplib::Request& req, httplib::Response& res) {
    const std::string& p = req.path;
    const bool xplane = req.get_param_value("platform") == "xplane";
    if (p == "/api/version") {
      std::string platform = req.get_param_value("platform");
      if (!safeName(platform)) return notFound(res);
      return document(res, "releases/" + platform + ".json", nullptr);
    }
    if (p == "/api/suppress/geometry") {
      std::string body;
      if (!readWhole(folder + "/geometry.json", body)) return notFound(res);
      if (req.has_param("rev")) {
        auto doc = nlohmann::json::parse(body, nullptr, false);
        if (doc.is_object() && doc.contains("rev") && doc["rev"].is_string() &&
            !doc["rev"].get<std::string>().empty() &&
            doc["rev"].get<std::string>() == req.get_param_value("rev")) {
          res.status = 304;
          return;
        }
      }
      return json(res, body);
    }
    if (p == "/api/scenery/publishers") {
      std::string icao = req.get_param_value("icao");
      if (!xplane || !safeName(icao)) return json(res, "{\"publishers\":[]}");
      return document(res, "publishers/" + icao + ".json", "{\"publishers\":[]}");
    }
    if (p == "/api/orvel/airports") return document(res, "orvel/airports.json", "{\"airports\":[]}");
    const std::string orvel = "/api/orvel/", tail = "/net";
    if (p.size() > orvel.size() + tail.size() && p.compare(0, orvel.size(), orvel) == 0 &&
        p.compare(p.size() - tail.size(), tail.size(), tail) == 0) {
      std::string icao = p.substr(orvel.size(), p.size() - orvel.size() - tail.size());
      const char* none = "{\"available\":false}";
      if (!xplane || !safeName(icao)) return json(res, none);
      std::string publisher = req.get_param_value("publisher");
      if (publisher.empty()) return document(res, "orvel/" + icao + "/net.json", none);
      return document(res, "orvel/" + icao + "/pub/" + lumo::urlEncode(publisher) + ".json", none);
    }
    const std::string files = "/files/";
    if (p.compare(0, files.size(), files) == 0) {
      std::string rel = p.substr(files.size()), body;
      if (!safeRelPath(rel) || !readWhole(folder + "/files/" + rel, body)) return notFound(res);
      res.status = 200;
      res.set_content(std::move(body), "application/octet-stream");
      return;
    }
    notFound(res);
  }
};

Server::Server() : impl_(new Impl) {}
Server::~Server() { stop(); }

bool Server::start(const std::string& folder, int port, std::string& error) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "no folder " + folder;
    return false;
  }
  if (impl_->thread.joinable()) {
    error = "already serving on 127.0.0.1:" + std::to_string(impl_->port);
    return false;
  }
  impl_ = std::make_unique<Impl>();
  Impl* im = impl_.get();
  im->folder = folder;
  // The launcher keeps its one connection for many requests; the library's
  // default of five per connection would hide a reuse fault.
  im->svr.set_keep_alive_max_count(100000);
  // stop() waits until idle kept-alive connections time out; a short idle
  // time keeps stopping quick (the launcher reconnects when it must).
  im->svr.set_keep_alive_timeout(1);
  // A kept-alive connection holds one of the library's worker threads; the
  // launcher's shared connection plus its side-by-side ones must not
  // outnumber them, or one waits for another's idle time to run out.
  im->svr.new_task_queue = [] { return new httplib::ThreadPool(24); };
  // Headers and body go out in separate writes; without this each answer
  // waits for the client's delayed acknowledgement.
  im->svr.set_tcp_nodelay(true);
  // The library's default also sets SO_REUSEPORT, which lets a second server
  // share a port in use without a word; only the address is reused here.
  im->svr.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  im->svr.set_pre_routing_handler([im](const httplib::Request& req, httplib::Response&) {
    {
      std::lock_guard<std::mutex> lock(im->mtx);
      ++im->requests;
      im->conns.insert({req.remote_addr, req.remote_port});
      im->log.push_back(req.target);
    }
    const int delay = im->delayMs.load();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return httplib::Server::HandlerResponse::Unhandled;
  });
  im->svr.Get(".*", [im](const httplib::Request& req, httplib::Response& res) { im->answer(req, res); });

  int bound = -1;
  if (port == 0) {
    bound = im->svr.bind_to_any_port("127.0.0.1");
  } else if (im->svr.bind_to_port("127.0.0.1", port)) {
    bound = port;
  }
  if (bound <= 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    return false;
  }
  im->port = bound;
  im->thread = std::thread([im] {
    im->svr.listen_after_bind();
    im->ended = true;
  });
  // stop() is only heard once the loop runs.
  while (!im->svr.is_running() && !im->ended)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (im->ended) {
    im->thread.join();
    error = "cannot listen on 127.0.0.1:" + std::to_string(bound);
    return false;
  }
  return true;
}

int Server::port() const { return impl_->thread.joinable() ? impl_->port : 0; }

void Server::setDelayMs(int ms) { impl_->delayMs = ms; }

void Server::stop() {
  if (!impl_->thread.joinable()) return;
  impl_->svr.stop();
  impl_->thread.join();
}

int Server::requests() const {
  std::lock_guard<std::mutex> lock(impl_->mtx);
  return impl_->requests;
}
int Server::connections() const {
  std::lock_guard<std::mutex> lock(impl_->mtx);
  return static_cast<int>(impl_->conns.size());
}
std::vector<std::string> Server::log() const {
  std::lock_guard<std::mutex> lock(impl_->mtx);
  return impl_->log;
}
void Server::resetCounts() {
  std::lock_guard<std::mutex> lock(impl_->mtx);
  impl_->requests = 0;
  impl_->conns.clear();
  impl_->log.clear();
}

}  // namespace devserver
