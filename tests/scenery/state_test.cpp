#include "scenery/state.h"

#include <gtest/gtest.h>

#include "scenery/fixture.h"
#include "scenery/manifest.h"

using nlohmann::json;
using tl::TempDir;
using tl::writeFile;

TEST(StaleBackups, FindsReplacedFilesThroughMarksThenTheManifest) {
  TempDir d;
  const std::string root = d.path() + "/", plugin = d.path();
  auto pack = [&](const char* n) { return root + "Custom Scenery/" + n + "/Earth nav data/apt.dat"; };
  writeFile(root + "Custom Scenery/scenery_packs.ini",
            "SCENERY_PACK Custom Scenery/S/\nSCENERY_PACK Custom Scenery/OK/\nSCENERY_PACK Custom Scenery/S/\n");
  const std::string S = pack("S"), OK = pack("OK"), M = d / "unlisted/apt.dat", Z = d / "zero/apt.dat";
  for (const auto& p : {S, OK, M, Z}) {
    writeFile(p + ".taxilume-orig", "orig");
    writeFile(p, "current");
    tlsc::setMtime(p, 1700000000);
  }
  ASSERT_TRUE(orvel::writeMark(S, 7, 1699999999));   // time differs: stale
  ASSERT_TRUE(orvel::writeMark(OK, 7, 1700000000));  // matches
  // M is known only to the manifest, Z's row has no size: skipped.
  ASSERT_TRUE(orvel::saveManifest(plugin, json::parse("[{\"file\":\"" + M + "\",\"size\":3,\"mtime\":1700000000},"
                                                      "{\"file\":\"" + S + "\",\"size\":7,\"mtime\":1700000000},"
                                                      "{\"file\":\"" + Z + "\",\"size\":0}]")));
  EXPECT_EQ(lumo::staleBackups(root, plugin), (std::vector<std::string>{S, M}));
    // Without a root only the manifest speaks; S's mark file still decides.
  EXPECT_EQ(lumo::staleBackups("", plugin), (std::vector<std::string>{M, S}));
}

TEST(SuppressionState, SummarisesTheManifest) {
  struct Case {
    const char* rows;
    lumo::SuppressionSummary want;
  } cases[] = {
      {"[]", {false, 0, 0, "", ""}},
      {R"([{"file":"/a","sig":"","icao":"A"},{"file":"/a","sig":"r9","owner":"launcher"},{"file":"/b","sig":"r8"}])",
       {true, 3, 2, "r9", "plugin"}},
      {R"([{"file":"/a","owner":"","sig":"r1"},{"owner":"launcher"}])", {true, 2, 2, "r1", "launcher"}},
  };
  for (const auto& c : cases) {
    TempDir d;
    writeFile(d / "orvel_manifest.json", c.rows);
    lumo::SuppressionSummary s = lumo::suppressionState(d.path());
    EXPECT_EQ(s.inForce, c.want.inForce) << c.rows;
    EXPECT_EQ(s.airports, c.want.airports) << c.rows;
    EXPECT_EQ(s.files, c.want.files) << c.rows;
    EXPECT_EQ(s.signature, c.want.signature) << c.rows;
    EXPECT_EQ(s.owner, c.want.owner) << c.rows;
  }
}
