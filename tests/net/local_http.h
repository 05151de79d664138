// A bare HTTP server on 127.0.0.1 for transport tests: handlers are set per
// test, and it counts the requests and the client connections it saw.
#pragma once

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace tl {

class LocalHttp {
 public:
  httplib::Server svr;

  LocalHttp() {
    svr.set_keep_alive_max_count(100000);
    // stop() waits for idle kept-alive connections to time out.
    svr.set_keep_alive_timeout(1);
    svr.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mtx_);
      ++requests_;
      conns_.insert(req.remote_port);
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }
  ~LocalHttp() { stop(); }

  // Call after the handlers are set.
  int start() {
    port_ = svr.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { svr.listen_after_bind(); });
    while (!svr.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port_;
  }
  void stop() {
    if (!thread_.joinable()) return;
    svr.stop();
    thread_.join();
  }
  int port() const { return port_; }
  int requests() {
    std::lock_guard<std::mutex> lock(mtx_);
    return requests_;
  }
  int connections() {
    std::lock_guard<std::mutex> lock(mtx_);
    return static_cast<int>(conns_.size());
  }

 private:
  std::thread thread_;
  int port_ = 0;
  std::mutex mtx_;
  int requests_ = 0;
  std::set<int> conns_;
};

}  // namespace tl
