// One local server per test suite, serving a folder the tests write their
// documents into (it is read on every request).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"

namespace tl {

class Served : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    server_ = new devserver::Server;
    std::string err;
    ASSERT_TRUE(server_->start(dir_->path(), 0, err)) << err;
  }
  static void TearDownTestSuite() {
    delete server_;
    delete dir_;
    server_ = nullptr;
    dir_ = nullptr;
  }
  void SetUp() override { server_->resetCounts(); }

  static const char* host() { return "127.0.0.1"; }
  static int port() { return server_->port(); }
  static devserver::Server& server() { return *server_; }
  // Writes a document of the folder (path relative to it).
  static void put(const std::string& rel, const std::string& body) { writeFile(*dir_ / rel, body); }
  static void drop(const std::string& rel) { std::remove((*dir_ / rel).c_str()); }
  static std::string lastTarget() {
    auto log = server_->log();
    return log.empty() ? "" : log.back();
  }

 private:
  static inline TempDir* dir_ = nullptr;
  static inline devserver::Server* server_ = nullptr;
};

}  // namespace tl
