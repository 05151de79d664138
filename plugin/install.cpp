#include "plugin/install.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "host/paths.h"
#include "host/xplane.h"
#include "net/net.h"
#include "plugin/zipcheck.h"
#include "scenery/files.h"
#include "scenery/state.h"

namespace fs = std::filesystem;

namespace lumo {

namespace {

bool startsWithPK(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[2] = {0, 0};
  in.read(head, 2);
  return in.gcount() == 2 && head[0] == 'P' && head[1] == 'K';
}

std::string why(int err) { return std::strerror(err ? err : EIO); }

// Copies the unpacked package folder src into dst without ever following a
// link: src was walked by checkUnpacked (plain folders and files only), and
// a link already in the plugin folder is replaced (file) or refused
// (folder) rather than written through.
bool copyTree(const std::string& src, const std::string& dst, std::string& error) {
  struct stat st;
  if (::lstat(dst.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      error = "could not write into the plugin folder: " + dst + " is not a folder";
      return false;
    }
  } else {
    std::error_code ec;
    fs::create_directories(dst, ec);
    if (ec) {
      error = "could not write into the plugin folder: " + ec.message();
      return false;
    }
  }
  DIR* d = opendir(src.c_str());
  if (!d) {
    error = "could not write into the plugin folder: " + why(errno);
    return false;
  }
  std::vector<std::string> names;
  while (const struct dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  for (const std::string& n : names) {
    const std::string from = src + "/" + n, to = dst + "/" + n;
    if (::lstat(from.c_str(), &st) != 0) {
      error = "could not write into the plugin folder: " + why(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!copyTree(from, to, error)) return false;
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      error = "could not write into the plugin folder: " + from + " is not a file";
      return false;
    }
    errno = 0;
    if (!orvel::copyFile(from, to)) {
      error = "could not write into the plugin folder: " + why(errno);
      return false;
    }
    // Keep the package's permission bits but never set-id or sticky bits
    // (the tools restore them when run as root).
    ::chmod(to.c_str(), st.st_mode & 0777);
  }
  return true;
}

}  // namespace

std::string installedVersion(const std::string& pluginDir) {
  std::ifstream in(pluginDir + "/" + kPluginVersionFile, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

bool extractZip(const std::string& zip, const std::string& folder, std::string& error) {
  std::vector<ZipEntry> entries;
  if (!listZip(zip, entries, error) || !checkZipEntries(entries, error)) return false;
  const std::vector<std::vector<std::string>> attempts = {
      {"/usr/bin/tar", "-xf", zip, "-C", folder},
      {"tar", "-xf", zip, "-C", folder},
      {"unzip", "-o", "-q", zip, "-d", folder},
  };
  for (const auto& argv : attempts) {
    int code = -1;
    if (runQuiet(argv, code) && code == 0) return checkUnpacked(folder, entries, error);
  }
  error = "the download could not be unpacked - this system has no tar that reads a zip, and no unzip";
  return false;
}

bool installPlugin(const std::string& root, const std::string& pluginDir, const std::string& host, int port,
                   const Release& release, const LogFn& log, std::string& error) {
  if (pluginDir.empty()) {
    error = "no X-Plane folder is known";
    return false;
  }
  if (simRunning(lowerAscii(root))) {
    error = "X-Plane is running - close it first (the plugin file is locked while the sim is up)";
    return false;
  }
  if (suppressionState(pluginDir).inForce) {
    error = "the scenery is still suppressed - restore it before changing the plugin";
    return false;
  }
  // The version becomes part of three file names below.
  const std::string& version = release.version;
  if (!plainVersion(version)) {
    error = "the published plugin version is not a plain version text";
    return false;
  }
  const std::string tmp = tempDir();
  const std::string download = tmp + "Taxilume-" + version + ".zip";
  const std::string stage = tmp + "Taxilume-" + version + "-stage";

  std::string path = release.url;
  if (path.compare(0, 4, "http") == 0) {
    const size_t scheme = path.find("://");
    const size_t slash = scheme == std::string::npos ? std::string::npos : path.find('/', scheme + 3);
    if (slash == std::string::npos || path.find(kDefaultHost) == std::string::npos) {
      error = std::string("the published download is not on ") + kDefaultHost;
      return false;
    }
    path = path.substr(slash);
  }

  say(log, "Downloading " + version + "...");
  std::string body;
  if (!net::download(host, port, path, body) || body.empty()) {
    error = "download failed: " + host + path;
    return false;
  }
  if (body.size() < kMinPluginBytes) {
    error = "the download was only " + std::to_string(body.size()) + " bytes - that is not a plugin";
    return false;
  }
  if (!writeFresh(download, body, 0644)) {
    error = "could not write " + download;
    return false;
  }
  body.clear();
  body.shrink_to_fit();
  std::error_code ec;
  if (!startsWithPK(download)) {
    fs::remove(download, ec);
    error = "that download was not a plugin package";
    return false;
  }

  // A staging folder left by an earlier attempt (or planted in the shared
  // temporary folder) is removed, links included, and made afresh by this
  // process alone: mkdir fails rather than reuse whatever appeared there.
  fs::remove_all(stage, ec);
  if (::mkdir(stage.c_str(), 0700) != 0) {
    error = "could not create " + stage;
    fs::remove(download, ec);
    return false;
  }
  say(log, "Unpacking...");
  // From here on every outcome removes the working files: a refused
  // package must not stay unpacked in the shared temporary folder.
  const auto cleanUp = [&] {
    fs::remove(download, ec);
    fs::remove_all(stage, ec);
  };
  if (!extractZip(download, stage, error)) {
    cleanUp();
    return false;
  }

  const std::string package = stage + "/Taxilume";
  struct stat st;
  if (::lstat(package.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::lstat(xplPath(package).c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    error = "the package did not contain Taxilume.xpl";
    cleanUp();
    return false;
  }

  // No plugin file yet (a first installation): simply no backup.
  orvel::copyFile(xplPath(pluginDir), xplPath(pluginDir) + ".bak-" + version);
  if (!copyTree(package, pluginDir, error)) {
    cleanUp();
    return false;
  }

  {
    std::ofstream out(pluginDir + "/" + kPluginVersionFile, std::ios::binary | std::ios::trunc);
    out << version;
  }
  cleanUp();
  say(log, "Installed Taxilume " + version + ".");
  return true;
}

}  // namespace lumo
