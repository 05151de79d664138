// Small helpers shared by the scenery tests: file times, existence, and the
// left-overs a finished operation must not leave beside an apt.dat.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/tmpdir.h"

namespace tlsc {

inline bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

inline void setMtime(const std::string& p, long long secs) {
  struct timespec ts[2];
  ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(secs);
  ts[0].tv_nsec = ts[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), ts, 0), 0) << p;
}

inline long long mtimeOf(const std::string& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_mtim.tv_sec);
}

// Every file under dir whose name carries one of our transient or sibling
// suffixes (or is named like the manifest/taken record when asked).
inline std::vector<std::string> leftovers(const std::string& dir,
                                          const std::vector<std::string>& suffixes = {
                                              ".taxilume-orig", ".taxilume-cut", ".taxilume-part",
                                              ".taxilume-tmp"}) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::string p = it->path().string();
    for (const auto& s : suffixes)
      if (p.size() >= s.size() && p.compare(p.size() - s.size(), s.size(), s) == 0) out.push_back(p);
  }
  return out;
}

}  // namespace tlsc
