#include "ui/winrules.h"

#include "host/selfupdate.h"
#include "server/api.h"

namespace lumo {

bool pluginUpdateAvailable(bool latestKnown, const std::string& installed, const std::string& latest) {
  if (!latestKnown) return false;
  return installed.empty() || verNewer(latest, installed);
}

bool passFromOlderMap(bool suppressed, bool mapsLoaded, const std::string& rev, const std::string& signature) {
  if (!suppressed || !mapsLoaded || rev.empty()) return false;
  const bool current = signature == rev || signature.rfind(rev + "+", 0) == 0;
  return !current;
}

ButtonStates buttonStates(const ButtonInputs& in) {
  ButtonStates s;
  s.suppress = !in.xplaneRunning && !in.busy;
  s.launch = s.suppress && in.rootKnown && in.pluginInstalled;
  s.restore = s.suppress && in.suppressed;
  s.plugin = s.suppress && in.latestKnown;
  s.other = !in.busy;
  return s;
}

LogTone logTone(const std::string& line) {
  if (line.empty()) return LogTone::normal;
  if (line[0] == '!') return LogTone::error;
  if (line[0] == ' ') return LogTone::detail;
  return LogTone::normal;
}

std::vector<std::string> restartArgs(const std::string& self, const std::string& host, int port) {
  std::vector<std::string> args{self};
  if (host != kDefaultHost) {
    args.push_back("--host");
    args.push_back(host + ":" + std::to_string(port));
  }
  return args;
}

int windowHeight(bool haveMonitor, int workAreaHeight) {
  if (haveMonitor && workAreaHeight > 320 && workAreaHeight < kWindowMaxHeight) return workAreaHeight;
  return kWindowMaxHeight;
}

int grownHeight(int request, int currentHeight, int workAreaHeight) {
  if (request <= 0 || request <= currentHeight) return 0;
  int h = request;
  if (workAreaHeight > 0 && h > workAreaHeight) h = workAreaHeight;
  // A work area no taller than the window: the cap would not grow it.
  return h > currentHeight ? h : 0;
}

}  // namespace lumo
