// taxilume-devserver: a local server that answers the launcher's API from a
// folder, and builds such a folder from real scenery. See --help.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/devserver/devserver.h"

namespace {

const char* kHelp =
    "usage: taxilume-devserver [serve] --folder DIR [--port N]\n"
    "       taxilume-devserver build --folder DIR --apt-dat FILE [options]\n"
    "\n"
    "serve   Answers the launcher's requests from DIR on 127.0.0.1. Without\n"
    "        --port (or with --port 0) a free port is picked and printed on\n"
    "        standard output, alone on one line, so scripts can read it.\n"
    "        Runs until interrupted (SIGINT or SIGTERM). Point the launcher at\n"
    "        it with --host 127.0.0.1:PORT.\n"
    "\n"
    "build   Writes the documents into DIR from the airports of an apt.dat:\n"
    "        geometry.json (base maps), add-on maps and publisher lists,\n"
    "        orvel/airports.json and one network per airport, and, with\n"
    "        --plugin-zip, files/ and releases/xplane.json.\n"
    "  --apt-dat FILE             airports that get base maps and networks\n"
    "  --addon NAME[=FILE]        add-on maps and networks for publisher NAME,\n"
    "                             from FILE (default: the --apt-dat file);\n"
    "                             may be given more than once\n"
    "  --rev REV                  revision of the maps (letters and digits; r1)\n"
    "  --no-networks              write no ORVEL networks\n"
    "  --plugin-zip FILE          publish FILE as the plugin package\n"
    "  --plugin-version V         its version (1.0.0)\n"
    "\n"
    "Folder layout (every file optional):\n"
    "  geometry.json              /api/suppress/geometry; ?rev=<its rev> gets 304\n"
    "  releases/<platform>.json   /api/version?pub=1&platform=<platform>\n"
    "  publishers/<ICAO>.json     /api/scenery/publishers?icao=<ICAO>&platform=xplane\n"
    "  orvel/airports.json        /api/orvel/airports\n"
    "  orvel/<ICAO>/net.json      /api/orvel/<ICAO>/net?platform=xplane\n"
    "  orvel/<ICAO>/pub/<P>.json  the same with &publisher=<P>, P percent-encoded\n"
    "  files/<path>               /files/<path>\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (message on standard error),\n"
    "2 on a usage error.\n";

int usage(const std::string& why) {
  std::fprintf(stderr, "taxilume-devserver: %s\n(try --help)\n", why.c_str());
  return 2;
}

bool number(const char* s, int& out) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < 0 || v > 65535) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  std::string mode = "serve";
  if (i < argc && (std::strcmp(argv[i], "serve") == 0 || std::strcmp(argv[i], "build") == 0))
    mode = argv[i++];

  std::string folder;
  int port = 0;
  devserver::BuildOptions opt;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--folder") {
      if (!value(folder)) return usage("--folder needs a folder");
    } else if (a == "--port" && mode == "serve") {
      if (!value(v) || !number(v.c_str(), port)) return usage("--port needs a number 0 to 65535");
    } else if (a == "--apt-dat" && mode == "build") {
      if (!value(opt.aptDat)) return usage("--apt-dat needs a file");
    } else if (a == "--addon" && mode == "build") {
      if (!value(v) || v.empty()) return usage("--addon needs a publisher name");
      size_t eq = v.find('=');
      opt.addOns.push_back({v.substr(0, eq), eq == std::string::npos ? "" : v.substr(eq + 1)});
    } else if (a == "--rev" && mode == "build") {
      if (!value(opt.rev)) return usage("--rev needs a revision");
    } else if (a == "--no-networks" && mode == "build") {
      opt.networks = false;
    } else if (a == "--plugin-zip" && mode == "build") {
      if (!value(opt.pluginZip)) return usage("--plugin-zip needs a file");
    } else if (a == "--plugin-version" && mode == "build") {
      if (!value(opt.pluginVersion)) return usage("--plugin-version needs a version");
    } else {
      return usage("unknown argument " + a);
    }
  }
  if (folder.empty()) return usage("--folder is required");

  std::string error;
  if (mode == "build") {
    if (opt.aptDat.empty()) return usage("--apt-dat is required");
    int airports = 0;
    if (!devserver::buildFolder(opt, folder, airports, error)) {
      std::fprintf(stderr, "taxilume-devserver: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "wrote maps for %d airport(s) into %s\n", airports, folder.c_str());
    return 0;
  }

  // The signals are taken synchronously below; block them before the
  // server's threads exist so that none of those receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  devserver::Server server;
  if (!server.start(folder, port, error)) {
    std::fprintf(stderr, "taxilume-devserver: %s\n", error.c_str());
    return 1;
  }
  if (port == 0) {
    std::printf("%d\n", server.port());
    std::fflush(stdout);
  }
  std::fprintf(stderr, "serving %s on 127.0.0.1:%d\n", folder.c_str(), server.port());
  int sig = 0;
  sigwait(&stopSignals, &sig);
  server.stop();
  return 0;
}
