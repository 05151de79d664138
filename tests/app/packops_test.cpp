// Picking a map and excluding a pack: the two pick files on disk, the scan
// in g_app re-classified, the row kept listed, and one log line.
#include "app/packops.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "app/state.h"
#include "support/tmpdir.h"

namespace {

lumo::PackRow row(const std::string& pack, const std::string& icao, std::vector<std::string> pubs) {
  lumo::PackRow r;
  r.file = "/x/Custom Scenery/" + pack + "/Earth nav data/apt.dat";
  r.pack = pack;
  r.packKey = lumo::packKeyOf(pack);
  r.icao = icao;
  r.namePrefix = lumo::namePrefixOf(pack);
  r.publishers = std::move(pubs);
  r.listKnown = true;
  r.status = lumo::kPackNeedsPick;
  return r;
}

class PackOps : public ::testing::Test {
 protected:
  tl::TempDir tmp;
  std::string plugin = tmp / "xp/Resources/plugins/Taxilume";

  void SetUp() override { reset(plugin); }
  void reset(const std::string& pluginDir) {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.pluginDir = pluginDir;
    g_app.scan = lumo::PackScan{};
    // Two airports of one pack (one key), and a pack of its own.
    g_app.scan.rows = {row("Alpha Works - Seattle", "KSEA", {"Beta", "Gamma"}),
                       row("Alpha Works - Seattle", "KBFI", {"Beta", "Gamma"}),
                       row("Zed Pack", "EGLL", {"Delta", "Epsilon"})};
    g_app.keepListed.clear();
    g_app.log.clear();
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    return g_app.log;
  }
  lumo::PackRow rowAt(size_t i) {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    return g_app.scan.rows[i];
  }
  std::set<size_t> kept() {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    return g_app.keepListed;
  }
  std::string picksFile() { return plugin + "/resources/publishers.json"; }
  std::string dismissedFile() { return plugin + "/resources/launcher_packs.json"; }
};

TEST_F(PackOps, PickSavesAllPicksInKeyOrderAndAppliesToEveryRowOfThePack) {
  tl::writeFile(picksFile(), R"({"zzz": "Q", "aaa": "", "bad": 3})");
  pickPack(0, "Gamma");
  EXPECT_EQ(tl::readFile(picksFile()), "{\n  \"aaa\": \"\",\n  \"alphaworks-seattle\": \"Gamma\",\n  \"zzz\": \"Q\"\n}");
  for (size_t i : {0u, 1u}) {
    EXPECT_EQ(rowAt(i).status, lumo::kPackPicked) << i;
    EXPECT_EQ(rowAt(i).publisher, "Gamma") << i;
  }
  EXPECT_EQ(rowAt(2).status, lumo::kPackNeedsPick);
  EXPECT_EQ(kept(), (std::set<size_t>{0}));
  EXPECT_EQ(log(), (std::vector<std::string>{"KSEA -> Gamma. Press Update & Suppress."}));
}

TEST_F(PackOps, BaseMapPickTakesThePackBackFromTheDismissedList) {
  tl::writeFile(dismissedFile(), R"({"dismissed": ["aaa", "alphaworks-seattle", "zzz"]})");
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    lumo::reclassifyPacks(plugin, g_app.scan);
  }
  ASSERT_TRUE(rowAt(1).dismissed);
  pickPack(1, "");
  EXPECT_EQ(tl::readFile(picksFile()), "{\n  \"alphaworks-seattle\": \"\"\n}");
  EXPECT_EQ(tl::readFile(dismissedFile()), "{\n  \"dismissed\": [\n    \"aaa\",\n    \"zzz\"\n  ]\n}");
  EXPECT_FALSE(rowAt(0).dismissed);
  EXPECT_EQ(rowAt(0).status, lumo::kPackPicked);
  EXPECT_EQ(rowAt(0).publisher, "");
  EXPECT_EQ(log(), (std::vector<std::string>{"KBFI -> base map. Press Update & Suppress."}));
}

TEST_F(PackOps, MalformedPicksFileIsReplacedByTheNewPick) {
  tl::writeFile(picksFile(), "[\"not\", \"an object\"");
  pickPack(2, "Delta");
  EXPECT_EQ(tl::readFile(picksFile()), "{\n  \"zedpack\": \"Delta\"\n}");
}

TEST_F(PackOps, DismissingKeepsPicksAndWritesKeysInOrder) {
  pickPack(0, "Beta");
  setPackDismissed(2, true);
  setPackDismissed(0, true);  // clicked second, sorts first
  EXPECT_EQ(tl::readFile(dismissedFile()),
            "{\n  \"dismissed\": [\n    \"alphaworks-seattle\",\n    \"zedpack\"\n  ]\n}");
  EXPECT_TRUE(rowAt(1).dismissed);
  setPackDismissed(0, false);
  EXPECT_FALSE(rowAt(0).dismissed);
  EXPECT_FALSE(rowAt(1).dismissed);
  // the pick made before is still in force
  EXPECT_EQ(rowAt(0).publisher, "Beta");
  EXPECT_EQ(tl::readFile(picksFile()), "{\n  \"alphaworks-seattle\": \"Beta\"\n}");
  EXPECT_EQ(kept(), (std::set<size_t>{0, 2}));
  EXPECT_EQ(log(), (std::vector<std::string>{"KSEA -> Beta. Press Update & Suppress.", "EGLL: not suppressed.",
                                             "KSEA: not suppressed.", "KSEA: back on the list."}));
}

TEST_F(PackOps, FailedWritesAreLoggedAndLeaveTheRowAsItWasButListed) {
  // A file where the plugin folder's parent should be: nothing can be created below it.
  tl::writeFile(tmp / "blocked", "x");
  const struct {
    const char* what;
    std::string pluginDir;
    bool pick;
    const char* line;
  } cases[] = {
      {"pick, folder not creatable", tmp / "blocked/Taxilume", true,
       "!! could not save that pick - publishers.json was not written."},
      {"dismiss, folder not creatable", tmp / "blocked/Taxilume", false,
       "!! could not save that - launcher_packs.json was not written."},
      {"pick, no plugin folder known", "", true, "!! could not save that pick - publishers.json was not written."},
      {"dismiss, no plugin folder known", "", false, "!! could not save that - launcher_packs.json was not written."},
  };
  for (const auto& c : cases) {
    reset(c.pluginDir);
    if (c.pick)
      pickPack(2, "Delta");
    else
      setPackDismissed(2, true);
    EXPECT_EQ(log(), (std::vector<std::string>{c.line})) << c.what;
    EXPECT_EQ(rowAt(2).status, lumo::kPackNeedsPick) << c.what;
    EXPECT_FALSE(rowAt(2).dismissed) << c.what;
    EXPECT_EQ(kept(), (std::set<size_t>{2})) << c.what;
  }
  EXPECT_FALSE(std::ifstream("/resources/publishers.json").good());
}

TEST_F(PackOps, AnIndexOutsideTheScanDoesNothing) {
  pickPack(3, "Beta");
  setPackDismissed(99, true);
  EXPECT_TRUE(log().empty());
  EXPECT_TRUE(kept().empty());
  EXPECT_FALSE(std::ifstream(picksFile()).good());
  EXPECT_FALSE(std::ifstream(dismissedFile()).good());
}

}  // namespace
