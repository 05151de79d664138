#include "app/state.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_fixture.h"

namespace {

class StateTest : public ::testing::Test {
 protected:
  void SetUp() override { tl::resetApp(); }
  void TearDown() override { tl::resetApp(); }
};

struct HostCase {
  std::string value;
  int portBefore;
  std::string host;  // empty: the default host
  int port;
};

TEST_F(StateTest, HostAndRootOptions) {
  const std::vector<HostCase> cases = {
      {"example.org:8443", 443, "example.org", 8443},
      {"example.org", 443, "example.org", 443},
      {":70000", 443, "", 443},
      {"h:0", 443, "h", 443},
      {"h:65535", 443, "h", 65535},
      {"h:port", 8080, "h", 443},     // not a number reads as 0
      {"a:b:c", 8080, "a:b:c", 8080},  // two colons: all host, port kept
      {"", 443, "", 443},             // empty host changes nothing
  };
  for (const auto& c : cases) {
    tl::resetApp();
    g_app.port = c.portBefore;
    takeHostOption(c.value);
    EXPECT_EQ(g_app.host, c.host.empty() ? std::string(lumo::kDefaultHost) : c.host) << c.value;
    EXPECT_EQ(g_app.port, c.port) << c.value;
  }
  tl::resetApp();
  takeRootOption("/games/X-Plane 12");
  EXPECT_EQ(g_app.root, "/games/X-Plane 12");
  takeRootOption("");
  EXPECT_EQ(g_app.root, "/games/X-Plane 12");
}

TEST_F(StateTest, LogKeepsTheNewest400LinesAndEchoesEveryLine) {
  std::vector<std::string> echoed;
  setLogEcho([&echoed](const std::string& l) { echoed.push_back(l); });
  for (int i = 1; i <= 401; ++i) g_app.say("line " + std::to_string(i));
  auto lines = tl::logLines();
  ASSERT_EQ(lines.size(), 400u);
  EXPECT_EQ(lines.front(), "line 2");
  EXPECT_EQ(lines.back(), "line 401");

  LOG("line 402");
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.sayLocked("line 403");
  }
  lines = tl::logLines();
  ASSERT_EQ(lines.size(), 400u);
  EXPECT_EQ(lines.front(), "line 4");
  EXPECT_EQ(lines.back(), "line 403");

  setLogEcho(nullptr);
  ASSERT_EQ(echoed.size(), 403u);
  for (int i = 1; i <= 403; ++i) ASSERT_EQ(echoed[i - 1], "line " + std::to_string(i));
}

TEST_F(StateTest, SecondRunWhileBusyIsDropped) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  int firstRuns = 0, secondRuns = 0;

  run("first", [&] {
    std::unique_lock<std::mutex> lock(m);
    ++firstRuns;
    cv.wait(lock, [&] { return release; });
  });
  run("second", [&] { ++secondRuns; });
  EXPECT_TRUE(g_app.busy.load());
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    EXPECT_EQ(g_app.jobName, "first");
  }
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  waitForIdle();

  EXPECT_EQ(firstRuns, 1);
  EXPECT_EQ(secondRuns, 0);
  std::lock_guard<std::mutex> lock(g_app.mtx);
  EXPECT_TRUE(g_app.jobName.empty());
  EXPECT_TRUE(g_app.log.empty()) << "a dropped request logs nothing";
}

TEST_F(StateTest, ThrowingJobIsLoggedAndTheRunnerFreesUp) {
  run("throwing", [] { throw std::runtime_error("disk on fire"); });
  waitForIdle();
  EXPECT_EQ(tl::logLines(), std::vector<std::string>{"!! disk on fire"});

  run("throwing anything", [] { throw 42; });
  waitForIdle();
  ASSERT_EQ(tl::logLines().size(), 2u);
  EXPECT_EQ(tl::logLines()[1].rfind("!! ", 0), 0u);

  bool ran = false;
  run("after", [&ran] { ran = true; });
  waitForIdle();
  EXPECT_TRUE(ran);
  std::lock_guard<std::mutex> lock(g_app.mtx);
  EXPECT_TRUE(g_app.jobName.empty());
}

}  // namespace
