// The saved pack choices: exact file form, tolerant readers, the folder.
#include "packs/choices.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/tmpdir.h"

namespace {

TEST(Choices, DismissedKeysAreWrittenSortedAndReadBack) {
  tl::TempDir dir;
  const std::string plugin = dir / "Taxilume";  // resources/ does not exist yet
  ASSERT_TRUE(lumo::saveDismissedPacks(plugin, {"zebrapack", "alphapack"}));
  EXPECT_EQ(tl::readFile(plugin + "/resources/launcher_packs.json"),
            "{\n  \"dismissed\": [\n    \"alphapack\",\n    \"zebrapack\"\n  ]\n}");
  EXPECT_EQ(lumo::loadDismissedPacks(plugin), (std::set<std::string>{"alphapack", "zebrapack"}));
  EXPECT_FALSE(std::filesystem::exists(plugin + "/resources/launcher_packs.json.taxilume-part"));
}

// Keys come from folder names on the user's disk: any bytes must survive a
// save and a load unchanged.
TEST(Choices, KeysThatAreNotUtf8RoundTrip) {
  tl::TempDir dir;
  const std::string odd = std::string("caf\xe9") + "\xff" + "pack";
  ASSERT_TRUE(lumo::saveDismissedPacks(dir.path(), {odd, "plain"}));
  EXPECT_EQ(lumo::loadDismissedPacks(dir.path()), (std::set<std::string>{odd, "plain"}));
}

TEST(Choices, MalformedFilesReadAsEmptyOrKeepTheUsableMembers) {
  struct Case {
    const char* what;
    const char* publishers;  // nullptr: no file
    const char* packs;
    std::unordered_map<std::string, std::string> picks;
    std::set<std::string> dismissed;
  };
  const Case cases[] = {
      {"missing files", nullptr, nullptr, {}, {}},
      {"not JSON", "{\"a\": ", "[1,", {}, {}},
      {"arrays at the top", "[\"a\", \"b\"]", "[\"a\"]", {}, {}},
      {"wrong member types", "{\"a\": 1, \"b\": \"Pub\", \"c\": \"\", \"d\": null}",
       "{\"dismissed\": [42, \"keep\", {\"x\": 1}], \"other\": [\"no\"]}",
       {{"b", "Pub"}, {"c", ""}}, {"keep"}},
      {"dismissed not an array", "{}", "{\"dismissed\": \"keep\"}", {}, {}},
      {"dismissed missing", "{}", "{\"other\": [\"a\"]}", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tl::TempDir dir;
    if (c.publishers) tl::writeFile(dir / "resources/publishers.json", c.publishers);
    if (c.packs) tl::writeFile(dir / "resources/launcher_packs.json", c.packs);
    EXPECT_EQ(lumo::loadPublishers(dir.path()), c.picks);
    EXPECT_EQ(lumo::loadDismissedPacks(dir.path()), c.dismissed);
  }
}

TEST(Choices, NextSaveDropsWhatWasNotAString) {
  tl::TempDir dir;
  tl::writeFile(dir / "resources/launcher_packs.json", "{\"dismissed\": [7, \"b\"], \"x\": 1}");
  ASSERT_TRUE(lumo::saveDismissedPacks(dir.path(), lumo::loadDismissedPacks(dir.path())));
  EXPECT_EQ(tl::readFile(dir / "resources/launcher_packs.json"), "{\n  \"dismissed\": [\n    \"b\"\n  ]\n}");
}

TEST(Choices, SaveFailsWhenTheFolderCannotBeMade) {
  tl::TempDir dir;
  // A plain file where the folder should be: mkdir fails even for root.
  tl::writeFile(dir / "resources", "not a folder");
  EXPECT_FALSE(lumo::saveDismissedPacks(dir.path(), {"a"}));
  EXPECT_EQ(tl::readFile(dir / "resources"), "not a folder");
}

}  // namespace
