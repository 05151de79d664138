// The pack list's rules: which rows are listed, how they are counted, their
// order, and the height of the list.
#include "ui/packlist.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kPicked = lumo::kPackPicked, kMatched = lumo::kPackMatched, kNeedsPick = lumo::kPackNeedsPick,
                   kNoAddonMap = lumo::kPackNoAddonMap, kNoList = lumo::kPackNoList;

lumo::PackRow row(const std::string& icao, unsigned status, std::vector<std::string> pubs = {},
                  const std::string& publisher = "", bool dismissed = false) {
  lumo::PackRow r;
  r.pack = "Pack " + icao;
  r.packKey = "pack" + icao;
  r.icao = icao;
  r.status = status;
  r.publishers = std::move(pubs);
  r.publisher = publisher;
  r.listKnown = status != kNoList;
  r.dismissed = dismissed;
  return r;
}

std::vector<std::string> codes(const std::vector<AskRow>& rows) {
  std::vector<std::string> out;
  for (const AskRow& r : rows) out.push_back(r.icao);
  return out;
}

// One row of every kind.
std::vector<lumo::PackRow> everyKind() {
  return {
      row("PICK", kPicked, {"Alpha", "Beta"}, "Beta"),
      row("MTCH", kMatched, {"Alpha"}, "Alpha"),
      row("NEED", kNeedsPick, {"Alpha", "Beta"}),
      row("BASE", kNoAddonMap),
      row("NOLS", kNoList),
      row("DSMP", kMatched, {"Alpha"}, "Alpha", true),
      row("DSMN", kNeedsPick, {"Alpha", "Beta"}, "", true),
  };
}

TEST(PackList, AfterHideOnlyRowsThatNeedAPickOrWereTouchedStay) {
  const auto rows = everyKind();
  struct Case {
    const char* what;
    std::set<size_t> kept;
    bool showAll;
    std::vector<std::string> listed;
    lumo::PackCounts counts;  // needPick, picked, ownMap, baseMap, notSuppressed, hidden
  } cases[] = {
      {"hidden", {}, false, {"NEED"}, {1, 0, 2, 1, 3, 6}},
      {"show all", {}, true, {"PICK", "MTCH", "NEED", "BASE", "NOLS", "DSMP", "DSMN"}, {1, 0, 2, 1, 3, 6}},
      // kept rows are listed without "Show all"; kept rows with their own map count as picked,
      // a dismissed one too, but only when its status has a map
      {"kept", {0, 5, 6}, false, {"PICK", "NEED", "DSMP", "DSMN"}, {1, 2, 2, 1, 3, 3}},
      {"kept need-pick row adds nothing", {2}, false, {"NEED"}, {1, 0, 2, 1, 3, 6}},
  };
  for (const Case& c : cases) {
    const lumo::PackListing L = lumo::listPacks(rows, c.kept, c.showAll);
    EXPECT_EQ(codes(L.rows), c.listed) << c.what;
    EXPECT_EQ(L.counts.needPick, c.counts.needPick) << c.what;
    EXPECT_EQ(L.counts.picked, c.counts.picked) << c.what;
    EXPECT_EQ(L.counts.ownMap, c.counts.ownMap) << c.what;
    EXPECT_EQ(L.counts.baseMap, c.counts.baseMap) << c.what;
    EXPECT_EQ(L.counts.notSuppressed, c.counts.notSuppressed) << c.what;
    EXPECT_EQ(L.counts.hidden, c.counts.hidden) << c.what;
  }
}

TEST(PackList, RowsCarryTheirIndexStatusTextAndMap) {
  const auto rows = everyKind();
  const lumo::PackListing L = lumo::listPacks(rows, {}, true);
  ASSERT_EQ(L.rows.size(), rows.size());
  const struct {
    const char* text;
    bool hasMap;
  } want[] = {
      {"", true},
      {"", true},
      {"needs a publisher picked", false},
      {"no add-on map published - base map", false},
      {"no publisher list from the server", false},
      {"not suppressed", true},  // dismissed wins over the status's own text
      {"not suppressed", false},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(L.rows[i].index, i);
    EXPECT_EQ(L.rows[i].statusText, want[i].text) << rows[i].icao;
    EXPECT_EQ(L.rows[i].hasMap, want[i].hasMap) << rows[i].icao;
  }
}

TEST(PackList, RowsNeedingAChoiceComeFirstInScanOrder) {
  std::vector<lumo::PackRow> rows = {
      row("A", kMatched, {"P"}, "P"),
      row("B", kNeedsPick, {"P", "Q"}),
      row("C", kNoAddonMap),                      // nothing to choose from
      row("D", kNeedsPick, {"P", "Q"}, "", true),  // dismissed: no choice needed
      row("E", kNeedsPick, {"Q", "R"}),
      row("F", kNoList),
  };
  std::vector<AskRow> listed = lumo::listPacks(rows, {}, true).rows;
  const std::vector<lumo::PackRow> atScan = rows;
  lumo::orderAskRows(listed, atScan);
  EXPECT_EQ(codes(listed), (std::vector<std::string>{"B", "E", "A", "C", "D", "F"}));

  // B picked and E dismissed since the scan: both keep their places until the next scan.
  rows[1] = row("B", kPicked, {"P", "Q"}, "Q");
  rows[4] = row("E", kNeedsPick, {"Q", "R"}, "", true);
  listed = lumo::listPacks(rows, {1, 4}, true).rows;
  lumo::orderAskRows(listed, atScan);
  EXPECT_EQ(codes(listed), (std::vector<std::string>{"B", "E", "A", "C", "D", "F"}));
  // Judged afresh (a new scan), they move down.
  listed = lumo::listPacks(rows, {1, 4}, true).rows;
  lumo::orderAskRows(listed, rows);
  EXPECT_EQ(codes(listed), (std::vector<std::string>{"A", "B", "C", "D", "E", "F"}));
}

TEST(PackList, APickCountsAsAChangeOnlyWhenTheNextPassWouldDifferFromTheScan) {
  const std::vector<lumo::PackRow> atScan = {
      row("A", kNeedsPick, {"P", "Q"}),
      row("B", kMatched, {"P"}, "P"),
      row("C", kPicked, {"P", "Q"}, "Q", true),
  };
  struct Case {
    const char* what;
    lumo::PackRow now;
    size_t index;
    bool changed;
  } cases[] = {
      {"a map where none was", row("A", kPicked, {"P", "Q"}, "Q"), 0, true},
      {"the same map picked again", row("B", kPicked, {"P"}, "P"), 1, false},
      {"the base map instead of its own", row("B", kPicked, {"P"}, ""), 1, true},
      {"taken out of suppression", row("B", kMatched, {"P"}, "P", true), 1, true},
      {"toggled back and forth", row("C", kPicked, {"P", "Q"}, "Q", true), 2, false},
      {"taken back", row("C", kPicked, {"P", "Q"}, "Q"), 2, true},
  };
  for (const Case& c : cases) {
    std::vector<lumo::PackRow> now = atScan;
    now[c.index] = c.now;
    EXPECT_EQ(lumo::choicesChanged(now, atScan, {c.index}), c.changed) << c.what;
    // Only rows the user touched count.
    EXPECT_FALSE(lumo::choicesChanged(now, atScan, {})) << c.what;
  }
}

TEST(PackList, HeightFitsUpToThreeRowsAndAsksToGrowWhenShort) {
  // ImGui's metrics for the launcher's style at 17 px text: line 26, frame 39,
  // spacing 9, window padding 14 (padY 28). One row is 65 pixels; the last
  // row's spacing is not drawn, so the list ends right under it.
  lumo::ListMetrics m;
  m.lineH = 26;
  m.frameH = 39;
  m.spacingY = 9;
  m.padY = 28;
  m.displayH = 800;
  const float rowH = 65;

  // Room for two rows, five rows listed: two rows high, scrolls, asks to grow by one row.
  m.room = 2 * rowH + 28 - 9;
  lumo::ListSize s = lumo::packListSize(5, m);
  EXPECT_FLOAT_EQ(s.height, 2 * rowH + 28 - 9);
  EXPECT_TRUE(s.scrollbar);
  EXPECT_EQ(s.growTo, int(rowH + 800 + 1));

  // After growing by that much the list is three rows high and still scrolls.
  m.room += float(s.growTo - 800);
  m.displayH = float(s.growTo);
  s = lumo::packListSize(5, m);
  EXPECT_FLOAT_EQ(s.height, 3 * rowH + 28 - 9);
  EXPECT_EQ(s.growTo, 0);
  EXPECT_TRUE(s.scrollbar);

  // Plenty of room, two rows: exactly two rows high, no scrollbar.
  m.room = 1000;
  s = lumo::packListSize(2, m);
  EXPECT_FLOAT_EQ(s.height, 2 * rowH + 28 - 9);
  EXPECT_EQ(s.growTo, 0);
  EXPECT_FALSE(s.scrollbar);

  // Less room than one row: one row high all the same, and a request.
  m.room = 10;
  m.displayH = 600;
  s = lumo::packListSize(1, m);
  EXPECT_FLOAT_EQ(s.height, rowH + 28 - 9);
  EXPECT_EQ(s.growTo, int(rowH + 28 - 9 - 10 + 600 + 1));
}

}  // namespace
