#include "support/tmpdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace tl {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tl-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    ADD_FAILURE() << "mkdtemp failed for " << tmpl;
    return;
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Tests may leave read-only files or folders behind; make them removable.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code ec2;
    if (!it->is_symlink(ec2)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec2);
  }
  fs::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string testData(const std::string& name) {
  const char* other = std::getenv("TAXILUME_TEST_DATA");
  return std::string(other && *other ? other : TL_TEST_DATA) + "/" + name;
}
std::map<std::string, std::string> listing(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    struct stat st {};
    const std::string p = it->path().string();
    if (::lstat(p.c_str(), &st) != 0) continue;
    std::string v = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                    std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode)) v += " " + readFile(p);
    out[p] = v;
  }
  return out;
}

std::string buildDir() { return TL_BUILD_DIR; }

}  // namespace tl
