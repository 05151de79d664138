#include "scenery/order.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "scenery/fixture.h"

using tl::TempDir;
using tl::writeFile;

namespace {

const char* kGlobal = "Global Scenery/Global Airports/Earth nav data/apt.dat";

// An X-Plane root with packs A and B (both with an apt.dat), C (objects
// only), the global file, and the given pack list.
struct Root {
  TempDir dir;
  std::string root = dir.path() + "/";
  explicit Root(const std::string& ini) {
    writeFile(root + "Custom Scenery/A/Earth nav data/apt.dat", "A");
    writeFile(root + "Custom Scenery/B/Earth nav data/apt.dat", "B");
    writeFile(root + "Custom Scenery/C/objects/x.obj", "C");
    writeFile(root + kGlobal, "G");
    writeFile(root + "Custom Scenery/scenery_packs.ini", ini);
  }
  std::string pack(const std::string& name) const {
    return root + "Custom Scenery/" + name + "/Earth nav data/apt.dat";
  }
};

}  // namespace

TEST(SceneryOrder, PackListLinesBecomePathsInOrder) {
  const std::string head = "I\r\n1000 Version\r\nSCENERY\r\n\r\n";
  struct Case {
    const char* what;
    std::string ini;
    std::vector<std::string> expect;  // "G" for the global file, else a pack name
  } cases[] = {
      {"no global entry: global last", head + "SCENERY_PACK Custom Scenery/A/\nSCENERY_PACK Custom Scenery/B/\n",
       {"A", "B", "G"}},
      {"global third", "SCENERY_PACK Custom Scenery/A/\nSCENERY_PACK Custom Scenery/C/\n"
                       "SCENERY_PACK *GLOBAL_AIRPORTS*\nSCENERY_PACK Custom Scenery/B/\n",
       {"A", "G", "B"}},
      {"global word with slash; lower case is a pack name",
       "SCENERY_PACK *global_airports*\nSCENERY_PACK Custom Scenery/B\nSCENERY_PACK *GLOBAL_AIRPORTS*/\n",
       {"B", "G"}},
      {"disabled packs and indented lines contribute nothing",
       "SCENERY_PACK_DISABLED Custom Scenery/A/\n  SCENERY_PACK Custom Scenery/A/\nscenery_pack Custom Scenery/A/\n"
       "SCENERY_PACK Custom Scenery/B/\n",
       {"B", "G"}},
      {"CRLF line ends and trailing blanks and slashes",
       "SCENERY_PACK Custom Scenery/B/ / \r\nSCENERY_PACK Custom Scenery/A//\r\n", {"B", "A", "G"}},
      {"empty entries are skipped", "SCENERY_PACK \nSCENERY_PACK / / /\nSCENERY_PACK\nSCENERY_PACK Custom Scenery/A\n",
       {"A", "G"}},
      {"backslashes become slashes", "SCENERY_PACK Custom Scenery\\B\\\r\n", {"B", "G"}},
      {"repeated lines repeat", "SCENERY_PACK Custom Scenery/A/\nSCENERY_PACK *GLOBAL_AIRPORTS*\n"
                                "SCENERY_PACK Custom Scenery/A/\nSCENERY_PACK *GLOBAL_AIRPORTS*\n",
       {"A", "G", "A", "G"}},
      {"leading blanks and case are kept, so they name nothing",
       "SCENERY_PACK  Custom Scenery/A/\nSCENERY_PACK custom scenery/B/\n", {"G"}},
  };
  for (const auto& c : cases) {
    Root r(c.ini);
    std::vector<std::string> want;
    for (const auto& e : c.expect) want.push_back(e == "G" ? r.root + kGlobal : r.pack(e));
    EXPECT_EQ(orveldb::aptDatFilesInOrder(r.root), want) << c.what;
  }
}

TEST(SceneryOrder, AbsoluteAndDriveLetterEntriesDoNotGetTheRoot) {
  TempDir elsewhere;
  writeFile(elsewhere / "Abs/Earth nav data/apt.dat", "abs");
  Root r("SCENERY_PACK " + elsewhere.path() + "/Abs/\nSCENERY_PACK D:\\Sim\\Custom Scenery\\W\\\n");
  // Were the root put in front, this file would be found.
  writeFile(r.root + "D:/Sim/Custom Scenery/W/Earth nav data/apt.dat", "wrong");
  EXPECT_EQ(orveldb::aptDatFilesInOrder(r.root),
            (std::vector<std::string>{elsewhere / "Abs/Earth nav data/apt.dat", r.root + kGlobal}));

  // The drive-letter path is taken as it stands: relative to nothing but
  // the current folder, where it is found only if it is really there.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(elsewhere.path().c_str()), 0);
  writeFile(elsewhere / "D:/Sim/Custom Scenery/W/Earth nav data/apt.dat", "w");
  auto got = orveldb::aptDatFilesInOrder(r.root);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(got, (std::vector<std::string>{elsewhere / "Abs/Earth nav data/apt.dat",
                                           "D:/Sim/Custom Scenery/W/Earth nav data/apt.dat",
                                           r.root + kGlobal}));
}

TEST(SceneryOrder, MissingPackListLeavesTheGlobalFileAlone) {
  Root r("");
  ::unlink((r.root + "Custom Scenery/scenery_packs.ini").c_str());
  EXPECT_EQ(orveldb::aptDatFilesInOrder(r.root), std::vector<std::string>{r.root + kGlobal});
  ::unlink((r.root + kGlobal).c_str());
  EXPECT_TRUE(orveldb::aptDatFilesInOrder(r.root).empty());
  writeFile(r.root + kGlobal + ".taxilume-orig", "G");
  EXPECT_EQ(orveldb::aptDatBackupsInOrder(r.root), std::vector<std::string>{r.root + kGlobal});
}

TEST(SceneryOrder, BackupsListOnlyFilesThatAreGoneEachOnce) {
  Root r("SCENERY_PACK Custom Scenery/D/\nSCENERY_PACK Custom Scenery/A/\nSCENERY_PACK Custom Scenery/D/\n"
         "SCENERY_PACK_DISABLED Custom Scenery/E/\n");
  writeFile(r.pack("D") + ".taxilume-orig", "d");  // apt.dat gone: listed
  writeFile(r.pack("A") + ".taxilume-orig", "a");  // apt.dat still there: never listed
  writeFile(r.pack("E") + ".taxilume-orig", "e");  // disabled: not named by the list
  writeFile(r.root + kGlobal + ".taxilume-orig", "g");
  EXPECT_EQ(orveldb::aptDatBackupsInOrder(r.root), std::vector<std::string>{r.pack("D")});
  ::unlink((r.root + kGlobal).c_str());
  EXPECT_EQ(orveldb::aptDatBackupsInOrder(r.root), (std::vector<std::string>{r.pack("D"), r.root + kGlobal}));
}
