#include "plugin/install.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "host/paths.h"
#include "host/xplane.h"
#include "net/net.h"
#include "net/text.h"
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

std::string megabytes(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB"; }

// Bytes the regular files below folder hold now; the tree may be changing.
uint64_t bytesBelow(const std::string& folder) {
  uint64_t total = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    struct stat st;
    if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) total += static_cast<uint64_t>(st.st_size);
  }
  return total;
}

// Free bytes for this user in the file system of path; max when unknown.
uint64_t freeBytes(const std::string& path) {
  struct statvfs vfs;
  if (::statvfs(path.c_str(), &vfs) != 0) return UINT64_MAX;
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

// unzip's exit status for "the disk is (or was) full during extraction".
constexpr int kUnzipDiskFull = 50;
// Room left over beyond what the package needs, for the file system's own use.
constexpr uint64_t kSpareBytes = 8u << 20;

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

bool extractZip(const std::string& zip, const std::string& folder, std::string& error, uint64_t maxBytes) {
  std::vector<ZipEntry> entries;
  if (!listZip(zip, entries, error) || !checkZipEntries(entries, error)) return false;
  uint64_t declared = 0, largest = 0;
  for (const ZipEntry& e : entries) {
    declared += e.size;
    largest = std::max(largest, e.size);
  }
  if (declared > maxBytes) {
    error = "the package would unpack to " + megabytes(declared) + " - refusing";
    return false;
  }
  const uint64_t before = freeBytes(folder);
  if (before < declared + kSpareBytes) {
    error = "no space left in " + folder + " for the package: it unpacks to " + megabytes(declared) + ", " +
            megabytes(before) + " are free";
    return false;
  }
  const std::vector<std::vector<std::string>> attempts = {
      {"/usr/bin/tar", "-xf", zip, "-C", folder},
      {"tar", "-xf", zip, "-C", folder},
      {"unzip", "-o", "-q", zip, "-d", folder},
  };
  std::error_code ignored;
  for (const auto& argv : attempts) {
    // The archive's word is checked above; these hold it to it: no file
    // past the largest declared size, nothing past maxBytes in all.
    bool over = false;
    const auto keepGoing = [&] {
      over = over || bytesBelow(folder) > maxBytes;
      return !over;
    };
    int code = -1;
    if (!runQuietCapped(argv, largest + 1, keepGoing, code)) continue;
    if (over || bytesBelow(folder) > maxBytes) {
      error = "the package would unpack to more than " + megabytes(maxBytes) + " - refusing";
      return false;
    }
    if (code == 0) return checkUnpacked(folder, entries, error);
    // A tool that failed part-way tells why only on its silenced output;
    // what it left behind and the disk tell the rest.
    std::string overgrown;
    if (!checkUnpacked(folder, entries, overgrown) && overgrown.find("larger than") != std::string::npos) {
      error = "the package would unpack to more than it declares - refusing";
      return false;
    }
    if (code == kUnzipDiskFull || freeBytes(folder) < kSpareBytes) {
      error = "no space left in " + folder + " while unpacking the package";
      return false;
    }
    // A tool that read the archive (it unpacked something) and then failed
    // found it damaged or lying - bsdtar, for one, cuts a file at its
    // declared size and fails. Another tool would not make it sound.
    if (bytesBelow(folder) > 0 || !fs::is_empty(folder, ignored)) {
      error = "the package did not unpack cleanly - refusing it";
      return false;
    }
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

  std::string path;
  if (!net::publishedPath(release.url, host, port, kDefaultHost, path)) {
    error = std::string("the published download is not on ") + kDefaultHost;
    return false;
  }

  say(log, "Downloading " + version + "...");
  std::string body;
  if (!net::download(host, port, path, body) || body.empty()) {
    error = "download failed: " + host + net::printable(path);
    return false;
  }
  if (body.size() < kMinPluginBytes) {
    error = "the download was only " + std::to_string(body.size()) + " bytes - that is not a plugin";
    return false;
  }
  if (!writeFresh(download, body, 0644)) {
    const int err = errno;
    std::error_code ignored;
    fs::remove(download, ignored);
    error = err == ENOSPC ? "no space left in " + tmp + " for the download" : "could not write " + download;
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

  // A plugin folder that is a link (one plugin shared between installations)
  // is followed, as the refresh and the pass do; anything else that is not
  // a folder is refused before a single file is written.
  std::string into = pluginDir;
  if (::lstat(pluginDir.c_str(), &st) == 0) {
    char real[PATH_MAX];
    if (::stat(pluginDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !::realpath(pluginDir.c_str(), real)) {
      error = "could not write into the plugin folder: " + pluginDir + " is not a folder";
      cleanUp();
      return false;
    }
    into = real;
  }

  // No plugin file yet (a first installation): simply no backup, which is
  // why a failed copy is not an error here.
  (void)orvel::copyFile(xplPath(pluginDir), xplPath(pluginDir) + ".bak-" + version);
  if (!copyTree(package, into, error)) {
    cleanUp();
    return false;
  }

  std::string why;
  if (!writeFileOver(pluginDir + "/" + kPluginVersionFile, version, &why)) {
    // The plugin itself is in place; only the record of its version is not.
    error = "the plugin was installed, but " + pluginDir + "/" + kPluginVersionFile + " could not be written (" +
            why + ")";
    cleanUp();
    return false;
  }
  cleanUp();
  say(log, "Installed Taxilume " + version + ".");
  return true;
}

}  // namespace lumo
