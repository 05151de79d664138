// Test support: a fresh temporary folder per test, and where the data lives.
//
// Every test that touches files makes its own TempDir; nothing is ever
// written to the current folder or shared between tests. The folder and all
// it holds are removed when the TempDir goes out of scope.
#pragma once

#include <map>
#include <string>

namespace tl {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing slash.
  const std::string& path() const { return path_; }
  // path() + "/" + rel
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Whole-file helpers for fixtures; they fail the current test on error.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);  // creates parent folders

// Every entry under folder, path -> its mode, nanosecond modification time,
// size and (for a regular file) bytes: two listings are equal only when
// nothing under the folder was created, removed, changed or even touched.
std::map<std::string, std::string> listing(const std::string& folder);

// tests/data/<name>: of this project, or of the folder that
// TAXILUME_TEST_DATA names (a copy of the project that runs this build's
// tests against its own data)
std::string testData(const std::string& name);
// the build folder (for screenshots and other artefacts a person may look at)
std::string buildDir();

}  // namespace tl
