#include "app/cmdline.h"

#include <cstdio>

#include "host/selfupdate.h"

namespace lumo {

namespace {

// "--root" or "--root=..." names the option `name`.
bool isOption(const std::string& arg, const char* name, std::string& inline_, bool& hasInline) {
  const std::string n = name;
  if (arg == n) {
    hasInline = false;
    return true;
  }
  if (arg.size() > n.size() && arg.compare(0, n.size(), n) == 0 && arg[n.size()] == '=') {
    inline_ = arg.substr(n.size() + 1);
    hasInline = true;
    return true;
  }
  return false;
}

}  // namespace

CommandLine readCommandLine(int argc, char** argv) {
  CommandLine cl;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i] ? argv[i] : "";
    if (a == "--") {
      ++i;
      break;
    }
    if (a.empty() || a[0] != '-') break;
    if (a == "--help" || a == "-h") {
      cl.help = true;
      continue;
    }
    if (a == "--version") {
      cl.version = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    const bool host = isOption(a, "--host", value, inlineValue);
    const bool root = !host && isOption(a, "--root", value, inlineValue);
    if (!host && !root) {
      if (cl.error.empty()) cl.error = "unknown option " + a;
      continue;
    }
    const char* what = host ? "--host needs a server (HOST or HOST:PORT)" : "--root needs the X-Plane 12 folder";
    if (!inlineValue) {
      if (i + 1 >= argc) {
        if (cl.error.empty()) cl.error = what;
        continue;
      }
      value = argv[++i];
    }
    // An empty value is a script's unset variable, not a wish to search.
    if (value.empty()) {
      if (cl.error.empty()) cl.error = what;
      continue;
    }
    (host ? cl.hostGiven : cl.rootGiven) = true;
    (host ? cl.host : cl.root) = value;
  }
  for (; i < argc; ++i) cl.words.push_back(argv[i] ? argv[i] : "");
  return cl;
}

int usageError(const char* program, const std::string& why, const char* usage) {
  if (!why.empty()) std::fprintf(stderr, "%s: %s\n", program, why.c_str());
  std::fputs(usage, stderr);
  return 2;
}

int frontEndAnswer(const CommandLine& cl, const char* program, const char* usage) {
  if (cl.version) {
    std::printf("%s\n", kLauncherVersion);
    return 0;
  }
  if (cl.help) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (!cl.error.empty()) return usageError(program, cl.error, usage);
  return kCarryOn;
}

}  // namespace lumo
