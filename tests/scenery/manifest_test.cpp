#include "scenery/manifest.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "scenery/fixture.h"
#include "scenery/shim.h"

using nlohmann::json;
using tl::readFile;
using tl::TempDir;
using tl::writeFile;

namespace {

std::vector<std::string> column(const json& m, const char* key) {
  std::vector<std::string> out;
  for (const auto& r : m) out.push_back(r.value(key, ""));
  return out;
}

}  // namespace

TEST(Manifest, RecordPassWritesTheFileThePluginReads) {
  TempDir d;
  const std::string apt = d / "apt.dat";
  writeFile(apt, "12345");
  tlsc::setMtime(apt, 1700000000);
  ASSERT_TRUE(orveldb::recordPass(d.path(), apt, {"EDDM"}, "r7+0123456789ab", "launcher", true));
  EXPECT_EQ(readFile(d / "orvel_manifest.json"),
            "[\n {\n  \"backup\": \"" + apt + ".taxilume-orig\",\n  \"file\": \"" + apt +
                "\",\n  \"icao\": \"EDDM\",\n  \"mtime\": 1700000000,\n  \"owner\": \"launcher\",\n"
                "  \"quitrestore\": true,\n  \"sig\": \"r7+0123456789ab\",\n  \"size\": 5\n }\n]");
  ASSERT_TRUE(orvel::saveManifest(d.path(), json::array()));
  EXPECT_EQ(readFile(d / "orvel_manifest.json"), "[]");
}

TEST(Manifest, RecordPassReplacesOneFilesRowsAndKeepsTheRest) {
  TempDir d;
  writeFile(d / "orvel_manifest.json",
            R"([{"file":"/a","icao":"A1"},{"file":"/b","icao":"B1"},{"file":"/a","icao":"A2"},)"
            R"({"file":"/b","icao":"B2"}])");
  ASSERT_TRUE(orveldb::recordPass(d.path(), "/a", {"X", "Y", "X"}, "r", "launcher", false));
  json m = orvel::loadManifest(d.path());
  EXPECT_EQ(column(m, "icao"), (std::vector<std::string>{"B1", "B2", "X", "Y", "X"}));
  // /a could not be stat'ed: size and time 0, which is no mark.
  EXPECT_EQ(m[2]["size"], 0);
  EXPECT_EQ(m[2]["mtime"], 0);
  EXPECT_FALSE(orvel::ourMark(d.path(), "/a").valid);

  ASSERT_TRUE(orveldb::recordPass(d.path(), "/a", {}, "r", "launcher", false));
  EXPECT_EQ(column(orvel::loadManifest(d.path()), "icao"), (std::vector<std::string>{"B1", "B2"}));
}

TEST(Manifest, UnusableContentReadsAsEmpty) {
  const char* cases[] = {R"({"file":"/a"})", "[{\"file\":", "", "\"text\"", "[1, 2] trailing"};
  for (const char* text : cases) {
    TempDir d;
    writeFile(d / "orvel_manifest.json", text);
    json m = orvel::loadManifest(d.path());
    EXPECT_TRUE(m.is_array() && m.empty()) << text;
    ASSERT_TRUE(orveldb::recordPass(d.path(), "/new", {"N"}, "r", "launcher", false));
    EXPECT_EQ(column(orvel::loadManifest(d.path()), "icao"), std::vector<std::string>{"N"}) << text;
  }
  TempDir none;
  EXPECT_TRUE(orvel::loadManifest(none.path()).empty());
}

TEST(Manifest, OurMarkPrefersTheMarkFileThenTheFirstRow) {
  struct Case {
    const char* what;
    const char* rows;
    bool valid;
    int64_t size, mtime;
  } cases[] = {
      {"no row", R"([{"file":"/other","size":9,"mtime":9}])", false, 0, 0},
      {"size without mtime", R"([{"file":"/x/apt.dat","size":5000}])", true, 5000, 0},
      {"first row wins", R"([{"file":"/x/apt.dat","size":7,"mtime":8},{"file":"/x/apt.dat","size":1,"mtime":1}])",
       true, 7, 8},
      {"size 0", R"([{"file":"/x/apt.dat","size":0,"mtime":5}])", false, 0, 5},
      {"size missing", R"([{"file":"/x/apt.dat","mtime":5}])", false, 0, 5},
      {"wrong types and a stray element", R"([3,{"file":"/x/apt.dat","size":"5000","mtime":[1]}])", false, 0, 0},
  };
  for (const auto& c : cases) {
    TempDir d;
    writeFile(d / "orvel_manifest.json", c.rows);
    orvel::CutMark m = orvel::ourMark(d.path(), "/x/apt.dat");
    EXPECT_EQ(m.valid, c.valid) << c.what;
    if (c.valid) {
      EXPECT_EQ(m.size, c.size) << c.what;
      EXPECT_EQ(m.mtime, c.mtime) << c.what;
    }
  }
  TempDir d;
  const std::string apt = d / "apt.dat";
  writeFile(d / "orvel_manifest.json", "[{\"file\":\"" + apt + "\",\"size\":7,\"mtime\":8}]");
  writeFile(apt + ".taxilume-cut", "-1 0\n");
  orvel::CutMark m = orvel::ourMark(d.path(), apt);
  EXPECT_TRUE(m.valid);
  EXPECT_EQ(m.size, -1);
}

// A pack folder whose name is not UTF-8 (a Latin-1 "ü") must be recorded,
// found again by its exact bytes, and leave a manifest that is valid JSON.
TEST(Manifest, PathsThatAreNotUtf8ComeBackByteForByte) {
  TempDir d;
  const std::string apt = d / "Z\xfcrich\xff/apt.dat";
  writeFile(apt, "abc");
  ASSERT_TRUE(orveldb::recordPass(d.path(), apt, {"K\xe9X"}, "r", "launcher", false));
  json raw;
  ASSERT_NO_THROW(raw = json::parse(readFile(d / "orvel_manifest.json")));
  json m = orvel::loadManifest(d.path());
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0]["file"], apt);
  EXPECT_EQ(m[0]["backup"], apt + ".taxilume-orig");
  EXPECT_EQ(m[0]["icao"], "K\xe9X");
  EXPECT_TRUE(orvel::ourMark(d.path(), apt).valid);
}

// The manifest is the one record of what was changed: a save that fails
// part way must leave the old manifest readable in full.
TEST(Manifest, AFailedSaveKeepsTheOldManifest) {
  TLSHIM_RERUN();
  TempDir d;
  ASSERT_TRUE(orveldb::recordPass(d.path(), "/a", {"A1", "A2"}, "r", "launcher", false));
  const std::string before = readFile(d / "orvel_manifest.json");
  const char* ops[] = {"write", "fsync", "rename"};
  for (const char* op : ops) {
    tlshim::arm(op, "orvel_manifest.json", std::string(op) == "write" ? ENOSPC : EIO, 20);
    EXPECT_FALSE(orveldb::recordPass(d.path(), "/b", {"B1"}, "r", "launcher", false)) << op;
    EXPECT_EQ(tlshim::left(), 0) << op;
    EXPECT_EQ(readFile(d / "orvel_manifest.json"), before) << op;
    EXPECT_FALSE(tlsc::exists(d / "orvel_manifest.json.taxilume-part")) << op;
  }
}
