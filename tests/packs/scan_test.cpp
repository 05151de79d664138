// Pack scan: which packs own which published airports, what the server's
// publisher lists and the saved choices make of each row.
#include "packs/scan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>

#include "packs/choices.h"
#include "scenery/files.h"
#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"

namespace {

TEST(PackNames, NameKeyAndPrefixRules) {
  struct Case {
    const char* path;
    const char* pack;
  };
  const Case names[] = {
      {"/x/Custom Scenery/Foo Bar - Frankfurt/Earth nav data/apt.dat", "Foo Bar - Frankfurt"},
      {"C:\\X\\Custom Scenery\\Pack\\Earth nav data\\apt.dat", "Pack"},
      {"Pack/Earth nav data/apt.dat", "Pack"},
      {"/x/Global Scenery/Global Airports/Earth nav data/apt.dat", ""},
      {"/x/Custom Scenery/Global Scenery/Earth nav data/apt.dat", ""},
      {"/Earth nav data/apt.dat", ""},  // nothing before the tail
      {"/x/Custom Scenery/Pack/apt.dat", ""},
      {"/x/Custom Scenery/Pack/Earth nav data/APT.DAT", ""},
  };
  for (const Case& c : names) EXPECT_EQ(lumo::packName(c.path), c.pack) << c.path;

  struct Prefix {
    const char* pack;
    const char* prefix;
  };
  const Prefix prefixes[] = {
      {"Foo Bar - Frankfurt", "Foo Bar"}, {"Foo Bar   - EDDF - v2", "Foo Bar"},
      {"NoDashHere", "NoDashHere"},       {" - Starts with it", " - Starts with it"},
      {"A-B - C", "A-B"},
  };
  for (const Prefix& c : prefixes) EXPECT_EQ(lumo::namePrefixOf(c.pack), c.prefix) << c.pack;

  EXPECT_EQ(lumo::packKeyOf("Foo Bar - ÄÖ Frankfurt"), "foobar-ÄÖfrankfurt");
  EXPECT_EQ(lumo::normaliseName(" Foo\tBAR "), "foo\tbar");  // only the blank is removed
}

// An X-Plane folder of hand-written packs, and a local server for the lists.
class Scan : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir / "X-Plane 12/";
    plugin = root + "Resources/plugins/Taxilume";
    served = dir / "served";
    tl::writeFile(served + "/publishers/EDDF.json", R"({"publishers":["FOOBAR","Other Pub"]})");
    tl::writeFile(served + "/publishers/EDDM.json", R"({"publishers":["foobar","Foo Bar"]})");
    tl::writeFile(served + "/publishers/LOWI.json", R"({"publishers":["Someone"]})");
    // KROC: no file, the server answers an empty list.
    std::string err;
    ASSERT_TRUE(server.start(served, 0, err)) << err;
    const char* doc = R"({"rev":"r1","airports":{
      "EDDF":{"lead":[[[50.0,8.5],[50.001,8.5]]]},
      "EDDM":{"lead":[[[48.3,11.7],[48.301,11.7]]]},
      "KROC":{"lead":[[[43.1,-77.6],[43.101,-77.6]]]},
      "LOWI":{"lead":[[[47.2,11.3],[47.201,11.3]]]}}})";
    ASSERT_TRUE(lumo::parseGeometry(nlohmann::json::parse(doc), maps));
  }

  // A pack whose apt.dat holds `rows` between the file header and "99".
  void pack(const std::string& name, const std::string& rows) {
    packs.push_back(name);
    tl::writeFile(root + "Custom Scenery/" + name + "/Earth nav data/apt.dat",
                  "I\r\n1000 Version\r\n\r\n" + rows + "99\r\n");
  }
  void writeIni() {
    std::string ini = "I\n1000 Version\nSCENERY\n\n";
    for (const auto& p : packs) ini += "SCENERY_PACK Custom Scenery/" + p + "/\n";
    ini += "SCENERY_PACK *GLOBAL_AIRPORTS*\n";
    tl::writeFile(root + "Custom Scenery/scenery_packs.ini", ini);
    tl::writeFile(root + "Global Scenery/Global Airports/Earth nav data/apt.dat",
                  "I\n1000 Version\n1 100 0 0 EDDF Frankfurt\n99\n");
  }
  lumo::PackScan scan(const lumo::LogFn& log = {}) {
    writeIni();
    return lumo::scanPacks(root, plugin, maps, "127.0.0.1", server.port(), log);
  }
  std::string file(const std::string& name) {
    return root + "Custom Scenery/" + name + "/Earth nav data/apt.dat";
  }

  tl::TempDir dir;
  std::string root, plugin, served;
  std::vector<std::string> packs;
  devserver::Server server;
  lumo::Geometry maps;
};

TEST_F(Scan, RowsOwnershipAndClassification) {
  pack("Foo Bar - Frankfurt", "1 364 0 0 EDDF Frankfurt Main\r\n1 364 0 0 EDDF again\r\n");
  // The header's identifier is replaced by the 1302 code; ZZZZ is not published.
  pack("Foo Bar - Munich", "1   1487 0 0 XMUC Munich\n1302 city Munich\n1302 icao_code EDDM\n"
                           "17 10 0 0 ZZZZ Pad\n");
  pack("Rochester", "1 559 0 0 KROC Rochester\n");
  pack("Rochester Copy", "1 559 0 0 KROC Rochester\n16 0 0 0 LOWI Seaplane\n");
  pack("Frankfurt Again", "1 364 0 0 EDDF Frankfurt\n");

  std::vector<std::string> lines;
  const lumo::PackScan s = scan([&](const std::string& l) { lines.push_back(l); });

  struct Want {
    std::string pack, icao, prefix, publisher;
    uint32_t status;
  };
  const std::vector<Want> want = {
      {"Foo Bar - Frankfurt", "EDDF", "Foo Bar", "FOOBAR", lumo::kPackMatched},
      {"Foo Bar - Munich", "EDDM", "Foo Bar", "", lumo::kPackNeedsPick},  // two names match
      {"Rochester", "KROC", "Rochester", "", lumo::kPackNoAddonMap},
      {"Rochester Copy", "LOWI", "Rochester Copy", "", lumo::kPackNeedsPick},
  };
  ASSERT_EQ(s.rows.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const lumo::PackRow& r = s.rows[i];
    SCOPED_TRACE(want[i].icao);
    EXPECT_EQ(r.file, file(want[i].pack));
    EXPECT_EQ(r.pack, want[i].pack);
    EXPECT_EQ(r.packKey, lumo::packKeyOf(want[i].pack));
    EXPECT_EQ(r.icao, want[i].icao);
    EXPECT_EQ(r.namePrefix, want[i].prefix);
    EXPECT_EQ(r.publisher, want[i].publisher);
    EXPECT_EQ(r.status, want[i].status);
    EXPECT_TRUE(r.listKnown);
    EXPECT_FALSE(r.dismissed);
  }
  EXPECT_EQ(s.rows[0].publishers, (std::vector<std::string>{"FOOBAR", "Other Pub"}));
  EXPECT_TRUE(s.note.empty());
  EXPECT_TRUE(lines.empty());
  // One question per published airport; the unpublished ZZZZ and the
  // simulator's own file cost nothing. The questions go out side by side,
  // so they may arrive in any order.
  std::vector<std::string> asked = server.log();
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{
                              "/api/scenery/publishers?icao=EDDF&platform=xplane",
                              "/api/scenery/publishers?icao=EDDM&platform=xplane",
                              "/api/scenery/publishers?icao=KROC&platform=xplane",
                              "/api/scenery/publishers?icao=LOWI&platform=xplane"}));
}

TEST_F(Scan, SavedChoicesAndReclassify) {
  pack("Foo Bar - Frankfurt", "1 364 0 0 EDDF Frankfurt\n");
  pack("FooBar - Munich", "1 1487 0 0 EDDM Munich\n");
  pack("foo bar - Innsbruck", "1 1906 0 0 LOWI Innsbruck\n");
  // A saved pick of "" (the base map) beats the name match; a value that is
  // not a string is no pick.
  tl::writeFile(plugin + "/resources/publishers.json",
                R"({"foobar-frankfurt":"","foobar-munich":7})");
  lumo::PackScan s = scan();
  ASSERT_EQ(s.rows.size(), 3u);
  EXPECT_EQ(s.rows[0].status, lumo::kPackPicked);
  EXPECT_EQ(s.rows[0].publisher, "");
  EXPECT_EQ(s.rows[1].status, lumo::kPackNeedsPick);
  EXPECT_EQ(s.rows[2].status, lumo::kPackNeedsPick);

  // "foo bar - Innsbruck" and "Foo Bar - Innsbruck" share a key; so does a
  // dismissal made on either. Reclassify touches nothing but the choice.
  const lumo::PackScan before = s;
  tl::writeFile(plugin + "/resources/publishers.json", R"({"foobar-munich":"Foo Bar"})");
  ASSERT_TRUE(lumo::saveDismissedPacks(plugin, {lumo::packKeyOf("Foo Bar - Innsbruck")}));
  server.resetCounts();
  lumo::reclassifyPacks(plugin, s);
  EXPECT_EQ(server.requests(), 0);
  EXPECT_EQ(s.rows[0].status, lumo::kPackMatched);  // the pick is gone: name match again
  EXPECT_EQ(s.rows[0].publisher, "FOOBAR");
  EXPECT_EQ(s.rows[1].status, lumo::kPackPicked);
  EXPECT_EQ(s.rows[1].publisher, "Foo Bar");
  EXPECT_FALSE(s.rows[1].dismissed);
  EXPECT_TRUE(s.rows[2].dismissed);
  for (size_t i = 0; i < s.rows.size(); ++i) {
    EXPECT_EQ(s.rows[i].file, before.rows[i].file);
    EXPECT_EQ(s.rows[i].publishers, before.rows[i].publishers);
    EXPECT_EQ(s.rows[i].listKnown, before.rows[i].listKnown);
  }
}

TEST_F(Scan, PublisherListsThatFail) {
  pack("Foo Bar - Frankfurt", "1 364 0 0 EDDF Frankfurt\n");
  pack("Munich", "1 1487 0 0 EDDM Munich\n");
  pack("Rochester", "1 559 0 0 KROC Rochester\n");
  tl::writeFile(plugin + "/resources/publishers.json", R"({"rochester":"Someone"})");
  tl::writeFile(served + "/publishers/EDDM.json", "{\"publishers\": [");  // garbage midway

  std::vector<std::string> lines;
  lumo::PackScan s = scan([&](const std::string& l) { lines.push_back(l); });
  ASSERT_EQ(s.rows.size(), 3u);
  EXPECT_EQ(s.rows[0].status, lumo::kPackMatched);
  EXPECT_EQ(s.rows[1].status, lumo::kPackNoList);
  EXPECT_FALSE(s.rows[1].listKnown);
  EXPECT_EQ(s.rows[2].status, lumo::kPackPicked);  // the pick needs no list
  EXPECT_EQ(s.note, "EDDM: could not read the publisher list");
  EXPECT_EQ(lines, (std::vector<std::string>{"!! publishers for EDDM: EDDM: could not read the publisher list"}));

  // Server gone: every row without a pick has no list; the note keeps the first error.
  server.stop();
  lines.clear();
  s = scan([&](const std::string& l) { lines.push_back(l); });
  ASSERT_EQ(s.rows.size(), 3u);
  EXPECT_EQ(s.rows[0].status, lumo::kPackNoList);
  EXPECT_EQ(s.rows[1].status, lumo::kPackNoList);
  EXPECT_EQ(s.rows[2].status, lumo::kPackPicked);
  EXPECT_EQ(s.note, "no answer from 127.0.0.1");
  EXPECT_EQ(lines.size(), 3u);
}

TEST_F(Scan, UnreadablePackAndNoPacks) {
  pack("Broken", "1 364 0 0 EDDF Frankfurt\n");
  writeIni();
  // A folder where the file should be: the pack is listed but unreadable.
  const std::string f = file("Broken");
  std::remove(f.c_str());
  std::filesystem::create_directories(f);
  EXPECT_TRUE(lumo::scanPacks(root, plugin, maps, "127.0.0.1", server.port(), {}).rows.empty());
  EXPECT_EQ(server.requests(), 0);
}

}  // namespace
