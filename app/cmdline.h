// The options both front ends take, read the way command-line programs are
// expected to read them.
//
//   --root DIR | --root=DIR        the X-Plane 12 folder
//   --host H[:P] | --host=H[:P]    the server (port 443 means HTTPS)
//   --help | -h, --version
//
// Options come first; the first argument that does not start with "-" (or
// everything after a "--") and what follows it are the words: the command of
// taxilume-cli and its arguments. Anything else that starts with "-" is a
// usage error, and so is an option without its value: a mistyped option must
// not quietly start the launcher on some other folder or server.
//
// Calling order: readCommandLine(argc, argv) first thing in main, then
// frontEndAnswer(); when that returns kCarryOn, start-up takes the options
// (startupCore). Nothing here throws or touches g_app.
#pragma once

#include <string>
#include <vector>

namespace lumo {

struct CommandLine {
  std::string error;  // a usage error ("unknown option --rot"); empty when the line reads
  bool help = false;
  bool version = false;
  bool hostGiven = false, rootGiven = false;
  std::string host, root;          // the last value given for each
  std::vector<std::string> words;  // the command and its arguments, as given
};

CommandLine readCommandLine(int argc, char** argv);

constexpr int kCarryOn = -1;

// What a front end answers before it starts: for --version, the launcher's
// version on standard output (0); for --help, `usage` on standard output (0);
// for a usage error, "program: error" and `usage` on standard error (2).
// kCarryOn otherwise. --version and --help win over a usage error.
int frontEndAnswer(const CommandLine& cl, const char* program, const char* usage);

// Prints "program: why" (when why is not empty) and the usage on standard
// error; returns 2, the usage-error exit status.
int usageError(const char* program, const std::string& why, const char* usage);

}  // namespace lumo
