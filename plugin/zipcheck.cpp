#include "plugin/zipcheck.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "net/text.h"

namespace lumo {

namespace {

constexpr size_t kEocdSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;

uint32_t le16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t le32(const std::string& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

// A name fit for a log line.
std::string shown(const std::string& name) { return "\"" + net::printable(name, 80) + "\""; }

bool refuse(std::string& error, const std::string& why) {
  error = "refusing the package: " + why;
  return false;
}

std::string withoutSlash(std::string s) {
  if (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

bool walk(const std::string& dir, const std::string& rel, const std::map<std::string, uint64_t>& files,
          std::string& error) {
  DIR* d = opendir(dir.c_str());
  if (!d) return refuse(error, "could not read the unpacked " + shown(rel.empty() ? "." : rel));
  bool ok = true;
  while (const struct dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string r = rel.empty() ? name : rel + "/" + name;
    const std::string full = dir + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) {
      ok = refuse(error, "could not examine the unpacked " + shown(r));
    } else if (S_ISLNK(st.st_mode)) {
      ok = refuse(error, "the unpacked " + shown(r) + " is a link");
    } else if (S_ISDIR(st.st_mode)) {
      ok = walk(full, r, files, error);
    } else if (!S_ISREG(st.st_mode)) {
      ok = refuse(error, "the unpacked " + shown(r) + " is a device or special file");
    } else if (!files.count(r)) {
      ok = refuse(error, "the unpacked " + shown(r) + " is not in the archive's list");
    } else if (static_cast<uint64_t>(st.st_size) > files.at(r)) {
      ok = refuse(error, "the unpacked " + shown(r) + " is larger than the archive says");
    }
    if (!ok) break;
  }
  closedir(d);
  return ok;
}

}  // namespace

bool listZip(const std::string& path, std::vector<ZipEntry>& entries, std::string& error) {
  entries.clear();
  std::ifstream in(path, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string unreadable = "refusing the package: it is not a zip archive we can read";
  if (!in.eof() && in.fail()) {
    error = unreadable;
    return false;
  }
  // The end record is the last 22 bytes plus a comment of up to 64 KiB; take
  // the one whose comment ends exactly at the end of the file.
  size_t eocd = std::string::npos;
  if (b.size() >= kEocdSize) {
    const size_t lowest = b.size() > kEocdSize + 65535 ? b.size() - kEocdSize - 65535 : 0;
    for (size_t at = b.size() - kEocdSize + 1; at-- > lowest;) {
      if (b.compare(at, 4, "PK\x05\x06") == 0 && at + kEocdSize + le16(b, at + 20) == b.size()) {
        eocd = at;
        break;
      }
    }
  }
  if (eocd == std::string::npos) {
    error = unreadable;
    return false;
  }
  const uint32_t disk = le16(b, eocd + 4), cdDisk = le16(b, eocd + 6);
  const uint32_t onDisk = le16(b, eocd + 8), total = le16(b, eocd + 10);
  const uint32_t cdSize = le32(b, eocd + 12), cdOffset = le32(b, eocd + 16);
  if (disk != 0 || cdDisk != 0 || onDisk != total || total == 0xFFFF || cdOffset == 0xFFFFFFFFu ||
      static_cast<uint64_t>(cdOffset) + cdSize > eocd) {
    error = unreadable;
    return false;
  }
  size_t at = cdOffset;
  for (uint32_t i = 0; i < total; ++i) {
    if (at + kCentralSize > eocd || b.compare(at, 4, "PK\x01\x02") != 0) {
      error = unreadable;
      return false;
    }
    const uint32_t flags = le16(b, at + 8);
    const uint32_t nameLen = le16(b, at + 28), extraLen = le16(b, at + 30), commentLen = le16(b, at + 32);
    const uint32_t packed = le32(b, at + 20), unpacked = le32(b, at + 24);
    const uint32_t attrs = le32(b, at + 38), local = le32(b, at + 42);
    // All ones means the real sizes are in a Zip64 record, which we do not
    // read; a plugin package never needs one.
    if (packed == 0xFFFFFFFFu || unpacked == 0xFFFFFFFFu) {
      error = unreadable;
      return false;
    }
    if (at + kCentralSize + nameLen > eocd) {
      error = unreadable;
      return false;
    }
    ZipEntry e;
    e.name = b.substr(at + kCentralSize, nameLen);
    e.mode = attrs >> 16;
    e.size = unpacked;
    e.encrypted = (flags & 1) != 0;
    // Tools that read the archive front to back see the local headers, not
    // this directory: both must name the same file.
    if (static_cast<uint64_t>(local) + kLocalSize > b.size() || b.compare(local, 4, "PK\x03\x04") != 0 ||
        local + kLocalSize + le16(b, local + 26) > b.size() ||
        b.compare(local + kLocalSize, le16(b, local + 26), e.name) != 0) {
      error = "refusing the package: the entry " + shown(e.name) + " is named differently inside";
      return false;
    }
    entries.push_back(e);
    at += kCentralSize + nameLen + extraLen + commentLen;
  }
  return true;
}

bool checkZipEntries(const std::vector<ZipEntry>& entries, std::string& error) {
  std::set<std::string> names, folders, files;
  for (const ZipEntry& e : entries) {
    const std::string& n = e.name;
    const std::string entry = "the entry " + shown(n);
    if (n.empty()) return refuse(error, "an entry has no name");
    if (e.encrypted) return refuse(error, entry + " is encrypted");
    for (const char c : n) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7f) return refuse(error, entry + " has control characters in its name");
      if (c == '\\') return refuse(error, entry + " has a backslash in its name");
    }
    if (n[0] == '/') return refuse(error, entry + " has an absolute name");
    const std::string bare = withoutSlash(n);
    size_t start = 0;
    for (;;) {
      const size_t slash = bare.find('/', start);
      const std::string part = bare.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
      if (part == "..") return refuse(error, entry + " climbs out of its folder");
      if (part.empty() || part == ".") return refuse(error, entry + " has an empty or \".\" part in its name");
      if (slash == std::string::npos) break;
      folders.insert(bare.substr(0, slash));
      start = slash + 1;
    }
    const uint32_t type = e.mode & S_IFMT;
    if (type == S_IFLNK) return refuse(error, entry + " is a link");
    if (type != 0 && type != S_IFREG && type != S_IFDIR)
      return refuse(error, entry + " is a device or special file");
    if (!names.insert(bare).second) return refuse(error, entry + " appears twice");
    const bool folder = n.back() == '/' || type == S_IFDIR;
    if (folder)
      folders.insert(bare);
    else
      files.insert(bare);
  }
  for (const std::string& f : files)
    if (folders.count(f)) return refuse(error, "the entry " + shown(f) + " is both a file and a folder");
  return true;
}

bool checkUnpacked(const std::string& folder, const std::vector<ZipEntry>& entries, std::string& error) {
  std::map<std::string, uint64_t> files;
  for (const ZipEntry& e : entries)
    if (!e.name.empty() && e.name.back() != '/') files[e.name] = e.size;
  return walk(folder, "", files, error);
}

}  // namespace lumo
