#include "tools/devserver/devserver.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/net.h"
#include "server/api.h"
#include "support/tmpdir.h"

extern char** environ;

namespace {

struct Answer {
  bool ok;
  int status;
  std::string body;
};

Answer ask(int port, const std::string& path) {
  Answer a;
  a.ok = net::getCond("127.0.0.1", port, path, a.body, a.status);
  return a;
}

class DevServer : public ::testing::Test {
 protected:
  tl::TempDir dir;
  devserver::Server server;
  int port = 0;
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server.start(dir.path(), 0, err)) << err;
    port = server.port();
    ASSERT_GT(port, 0);
  }
  void put(const std::string& rel, const std::string& body) { tl::writeFile(dir / rel, body); }
};

TEST_F(DevServer, AnswersEachRequestFromItsDocument) {
  put("geometry.json", R"({"rev":"r5","airports":{}})");
  put("releases/xplane.json", "REL");
  put("publishers/EDDF.json", "PUBS");
  put("orvel/airports.json", "LIST");
  put("orvel/EDDF/net.json", "NET");
  put("orvel/EDDF/pub/Foo%20Bar%26Co.json", "PUBNET");
  put("files/sub/p.zip", std::string("PK\0\x03\xff", 5));
  const std::string missingNet = R"({"available":false})";
  struct Case {
    std::string path;
    int status;
    std::string body;
  } cases[] = {
      {"/api/suppress/geometry", 200, R"({"rev":"r5","airports":{}})"},
      {"/api/suppress/geometry?rev=r5", 304, ""},
      {"/api/suppress/geometry?rev=r4", 200, R"({"rev":"r5","airports":{}})"},
      {"/api/version?pub=1&platform=xplane", 200, "REL"},
      {"/api/version?pub=1&platform=xplane-launcher-lin", 404, "not found\n"},
      {"/api/scenery/publishers?icao=EDDF&platform=xplane", 200, "PUBS"},
      {"/api/scenery/publishers?icao=LFPG&platform=xplane", 200, R"({"publishers":[]})"},
      {"/api/scenery/publishers?icao=EDDF&platform=other", 200, R"({"publishers":[]})"},
      {"/api/orvel/airports", 200, "LIST"},
      {"/api/orvel/EDDF/net?platform=xplane", 200, "NET"},
      {"/api/orvel/EDDF/net?platform=xplane&publisher=Foo%20Bar%26Co", 200, "PUBNET"},
      {"/api/orvel/EDDF/net?platform=xplane&publisher=Other", 200, missingNet},
      {"/api/orvel/LFPG/net?platform=xplane", 200, missingNet},
      {"/files/sub/p.zip", 200, std::string("PK\0\x03\xff", 5)},
      {"/files/none.zip", 404, "not found\n"},
      {"/elsewhere", 404, "not found\n"},
      // Nothing outside the folder's own places is reachable.
      {"/files/%2E%2E/geometry.json", 404, "not found\n"},
      {"/api/version?pub=1&platform=..%2Fgeometry", 404, "not found\n"},
      {"/api/scenery/publishers?icao=..%2Freleases%2Fxplane&platform=xplane", 200,
       R"({"publishers":[]})"},
      {"/api/orvel/%2E%2E/net?platform=xplane", 200, missingNet},
  };
  for (const auto& c : cases) {
    Answer a = ask(port, c.path);
    EXPECT_EQ(a.status, c.status) << c.path;
    EXPECT_EQ(a.body, c.body) << c.path;
  }
  // A missing maps document is a 404; the list and publishers have answers.
  std::remove((dir / "geometry.json").c_str());
  EXPECT_EQ(ask(port, "/api/suppress/geometry").status, 404);
  std::remove((dir / "orvel/airports.json").c_str());
  EXPECT_EQ(ask(port, "/api/orvel/airports").body, R"({"airports":[]})");
}

TEST_F(DevServer, CountsRequestsAndConnections) {
  for (int i = 0; i < 4; ++i) ask(port, "/api/orvel/airports?n=" + std::to_string(i));
  EXPECT_EQ(server.requests(), 4);
  EXPECT_EQ(server.connections(), 1);  // the launcher's handle keeps its connection
  ASSERT_EQ(server.log().size(), 4u);
  EXPECT_EQ(server.log()[3], "/api/orvel/airports?n=3");
  server.resetCounts();
  EXPECT_EQ(server.requests(), 0);
  EXPECT_TRUE(server.log().empty());
}

TEST_F(DevServer, StartFailures) {
  devserver::Server other;
  std::string err;
  EXPECT_FALSE(other.start(dir / "absent", 0, err));
  EXPECT_EQ(err, "no folder " + (dir / "absent"));
  EXPECT_FALSE(other.start(dir.path(), port, err));
  EXPECT_EQ(err, "cannot listen on 127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(other.port(), 0);
  server.stop();
  server.stop();
  EXPECT_EQ(server.port(), 0);
  EXPECT_FALSE(ask(port, "/api/orvel/airports").ok);
}

#ifdef TL_DEVSERVER_EXE
// The program: start it with a picked port, read the port from its standard
// output, talk to it with the launcher's own requests, stop it with SIGTERM.
struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child spawn(const std::vector<std::string>& args) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Child c;
  EXPECT_EQ(posix_spawn(&c.pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  c.out = fds[0];
  return c;
}

std::string readLine(int fd) {
  std::string line;
  char ch;
  while (read(fd, &ch, 1) == 1 && ch != '\n') line += ch;
  return line;
}

int exitCode(pid_t pid) {
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(DevServerProgram, ServesAPickedPortUntilTerminated) {
  tl::TempDir dir;
  tl::writeFile(dir / "releases/xplane.json", R"({"version":"2.0.1","url":"/files/p.zip"})");
  Child c = spawn({TL_DEVSERVER_EXE, "--folder", dir.path()});
  std::string line = readLine(c.out);
  int port = std::atoi(line.c_str());
  ASSERT_GT(port, 0) << "first line: " << line;
  lumo::Release r;
  std::string error;
  EXPECT_TRUE(lumo::fetchLatest("127.0.0.1", port, r, error, "xplane")) << error;
  EXPECT_EQ(r.version, "2.0.1");
  kill(c.pid, SIGTERM);
  EXPECT_EQ(exitCode(c.pid), 0);
  close(c.out);
}

TEST(DevServerProgram, CommandLine) {
  tl::TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* firstLine;  // start of standard output
  } cases[] = {
      {{"--help"}, 0, "usage: taxilume-devserver"},
      {{"serve", "--port"}, 2, ""},
      {{"serve", "--port", "70000", "--folder", dir.path()}, 2, ""},
      {{"--bogus"}, 2, ""},
      {{"serve"}, 2, ""},
      {{"--folder", dir / "absent"}, 1, ""},
      {{"build", "--folder", dir.path()}, 2, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{TL_DEVSERVER_EXE};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Child ch = spawn(args);
    std::string line = readLine(ch.out);
    EXPECT_EQ(exitCode(ch.pid), c.code) << c.args[0];
    EXPECT_EQ(line.rfind(c.firstLine, 0), 0u) << line;
    close(ch.out);
  }
}
#endif

}  // namespace
