#include "host/discover.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "host/paths.h"
#include "host/xplane.h"

namespace fs = std::filesystem;

namespace lumo {

namespace {

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}

void trimTrailing(std::string& s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
}

// The launcher's own folder, from /proc/self/exe; "." when it cannot be told.
std::string ownFolder() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  const std::string exe = slashes(std::string(buf, static_cast<size_t>(n)));
  const size_t cut = exe.rfind('/');
  return cut == std::string::npos ? std::string(".") : exe.substr(0, cut);
}

// Picker outcome for one command.
enum class Pick { Next, Done };

Pick runPicker(const char* command, std::string& picked) {
  FILE* pipe = popen(command, "r");
  if (!pipe) return Pick::Next;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = pclose(pipe);
  if (status == -1) return Pick::Next;
  if (WIFSIGNALED(status)) return Pick::Done;
  if (!WIFEXITED(status)) return Pick::Next;
  const int code = WEXITSTATUS(status);
  if (code == 127) return Pick::Next;  // the shell found no such program
  if (code != 0) return Pick::Done;    // cancelled
  trimTrailing(out);
  if (!out.empty()) picked = withSlash(slashes(out));
  return Pick::Done;
}

}  // namespace

std::vector<std::string>& findRootProbed() {
  static std::vector<std::string> probed;
  return probed;
}

bool looksLikeXPlane(const std::string& folder) {
  const std::string f = withSlash(folder);
  for (const char* mark : {kXPlaneVersionFile, "X-Plane.exe", "X-Plane.app", kXPlaneExe})
    if (exists(f + mark)) return true;
  return false;
}

void addSteamRoot(const std::string& candidate, std::vector<std::string>& roots) {
  if (candidate.empty()) return;
  std::string root = slashes(candidate);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!exists(root)) return;
  for (const std::string& r : roots)
    if (r == root) return;
  roots.push_back(root);

  std::ifstream vdf(withSlash(root) + "steamapps/libraryfolders.vdf", std::ios::binary);
  if (!vdf) return;
  std::string line;
  while (std::getline(vdf, line)) {
    const size_t key = line.find("\"path\"");
    if (key == std::string::npos) continue;
    const size_t open = line.find('"', key + 6);
    if (open == std::string::npos) continue;
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos) continue;
    std::string value;
    for (size_t i = open + 1; i < close; ++i) {
      // A run of backslashes (the file escapes each one as two) is one.
      if (line[i] == '\\' && i > open + 1 && line[i - 1] == '\\') continue;
      value += line[i] == '\\' ? '/' : line[i];
    }
    bool known = false;
    for (const std::string& r : roots) known = known || r == value;
    if (!known) roots.push_back(value);
  }
}

std::string findRoot(const std::string& explicitRoot) {
  std::vector<std::string>& probed = findRootProbed();
  probed.clear();
  if (!explicitRoot.empty()) return withSlash(slashes(explicitRoot));

  // Beside the launcher and up to four folders above it; the file-system
  // root itself is never examined.
  std::string folder = ownFolder();
  for (int i = 0; i < 5; ++i) {
    if (folder.empty()) break;
    probed.push_back("beside the launcher: " + folder);
    if (looksLikeXPlane(folder)) return withSlash(folder);
    const size_t cut = folder.rfind('/');
    if (cut == std::string::npos) break;
    folder.erase(cut);
  }

  const std::string config = configDir();
  if (!config.empty()) {
    const std::string file = config + "/xproot.txt";
    probed.push_back("remembered (" + file + ")");
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (in && std::getline(in, line)) {
      const std::string root = withSlash(slashes(line));
      if (looksLikeXPlane(root)) return root;
    }
  }

  const std::string home = homeDir();
  if (!home.empty()) {
    std::vector<std::string> candidates;
    std::ifstream in(home + kInstallRecord, std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
      trimTrailing(line);
      if (line.empty()) continue;
      candidates.push_back(withSlash(slashes(line)));
    }
    for (const std::string& c : candidates) {
      probed.push_back("X-Plane's install record: " + c);
      if (looksLikeXPlane(c)) return c;
    }

    std::vector<std::string> steam;
    for (const std::string& suffix :
         {std::string("/.steam/steam"), std::string("/.steam/root"), std::string("/.local/share/Steam"),
          std::string("/.var/app/") + kSteamFlatpakId + "/.local/share/Steam"})
      addSteamRoot(home + suffix, steam);
    for (const std::string& lib : steam) {
      const std::string c = withSlash(lib) + "steamapps/common/X-Plane 12/";
      probed.push_back("Steam library: " + c);
      if (looksLikeXPlane(c)) return c;
    }
  }

  if (probed.empty()) probed.push_back(kNothingProbed);
  return {};
}

std::string canonicalRoot(const std::string& path) {
  if (path.empty()) return {};
  std::error_code ec;
  const fs::path canon = fs::weakly_canonical(fs::path(path), ec);
  if (ec || canon.empty()) return path;
  return withSlash(slashes(canon.string()));
}

void rememberRoot(const std::string& root) {
  const std::string dir = configDir();
  if (dir.empty()) return;
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::ofstream out(dir + "/xproot.txt", std::ios::binary | std::ios::trunc);
  if (out) out << root;
}

std::string browseForRoot(std::string* error) {
  static const char* const kPickers[] = {
      "zenity --file-selection --directory --title=\"Where is X-Plane 12?\" 2>/dev/null",
      "kdialog --getexistingdirectory \"$HOME\" --title \"Where is X-Plane 12?\" 2>/dev/null",
  };
  for (const char* command : kPickers) {
    std::string picked;
    if (runPicker(command, picked) == Pick::Done) return picked;
  }
  if (error)
    *error =
        "no folder picker on this system (install zenity or kdialog) - start the launcher with "
        "--root \"/path/to/X-Plane 12\" instead";
  return {};
}

}  // namespace lumo
