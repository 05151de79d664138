#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/selfupdate.h"

namespace {

lumo::CommandLine read(std::vector<std::string> args) {
  args.insert(args.begin(), "prog");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return lumo::readCommandLine(static_cast<int>(argv.size()), argv.data());
}

struct Case {
  std::vector<std::string> args;
  std::string error;  // empty: reads
  std::string host, root;
  std::vector<std::string> words;
  bool help = false, version = false;
};

TEST(CommandLine, OptionsBothFormsWordsAndUsageErrors) {
  const std::vector<Case> cases = {
      {{}, "", "", "", {}},
      {{"--root", "/games/X-Plane 12", "--host", "h:8443"}, "", "h:8443", "/games/X-Plane 12", {}},
      {{"--root=/games/X-Plane 12", "--host=h"}, "", "h", "/games/X-Plane 12", {}},
      {{"--root=/a", "--root", "/b"}, "", "", "/b", {}},                       // the last one counts
      {{"--root", "--host", "status"}, "", "", "--host", {"status"}},           // a value is a value
      {{"--root=a=b", "x"}, "", "", "a=b", {"x"}},
      {{"pick", "1", "--host"}, "", "", "", {"pick", "1", "--host"}},          // after the command: its words
      {{"--", "-1", "x"}, "", "", "", {"-1", "x"}},
      {{"--rot", "/x"}, "unknown option --rot", "", "", {"/x"}},
      {{"-r"}, "unknown option -r", "", "", {}},
      {{"--rootx=/a"}, "unknown option --rootx=/a", "", "", {}},
      {{"--root"}, "--root needs the X-Plane 12 folder", "", "", {}},
      {{"--root="}, "--root needs the X-Plane 12 folder", "", "", {}},
      {{"--root", ""}, "--root needs the X-Plane 12 folder", "", "", {}},       // an unset variable
      {{"--host", "h", "--host"}, "--host needs a server (HOST or HOST:PORT)", "h", "", {}},
      {{"--bad", "--worse"}, "unknown option --bad", "", "", {}},              // the first error
      {{"--help", "--bogus"}, "unknown option --bogus", "", "", {}, true},
      {{"-h"}, "", "", "", {}, true},
      {{"--version", "status"}, "", "", "", {"status"}, false, true},
  };
  for (const Case& c : cases) {
    std::string what;
    for (const auto& a : c.args) what += "[" + a + "]";
    const lumo::CommandLine cl = read(c.args);
    EXPECT_EQ(cl.error, c.error) << what;
    EXPECT_EQ(cl.hostGiven, !c.host.empty()) << what;
    EXPECT_EQ(cl.host, c.host) << what;
    EXPECT_EQ(cl.rootGiven, !c.root.empty()) << what;
    EXPECT_EQ(cl.root, c.root) << what;
    EXPECT_EQ(cl.words, c.words) << what;
    EXPECT_EQ(cl.help, c.help) << what;
    EXPECT_EQ(cl.version, c.version) << what;
  }
}

TEST(CommandLine, FrontEndAnswers) {
  const char* usage = "usage: prog\n";
  const std::string version = std::string(lumo::kLauncherVersion) + "\n";
  struct Answer {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  };
  const std::vector<Answer> answers = {
      {{"--version"}, 0, version, ""},
      {{"--help"}, 0, "usage: prog\n", ""},
      {{"--bogus", "--version"}, 0, version, ""},  // asked for the version: it gets it
      {{"--bogus"}, 2, "", "prog: unknown option --bogus\nusage: prog\n"},
      {{"--root", "/x"}, lumo::kCarryOn, "", ""},
  };
  for (const Answer& a : answers) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = lumo::frontEndAnswer(read(a.args), "prog", usage);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, a.status) << a.args[0];
    EXPECT_EQ(out, a.out) << a.args[0];
    EXPECT_EQ(err, a.err) << a.args[0];
  }
}

}  // namespace
