#include "engine/blocks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <streambuf>

#include "support/tmpdir.h"

namespace {

// The bytes a pass-through walk must produce: CR LF and lone LF become LF,
// and the last line gets one.
std::string lfOnly(const std::string& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    out += in[i];
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

struct Walk {
  bool ok = false, changed = true;
  std::string out;
  std::vector<std::string> codes;
  std::vector<std::vector<std::string>> blocks;
};

Walk walk(const std::string& text, const orvel::BlockFn& change = nullptr) {
  Walk w;
  std::istringstream in(text);
  std::ostringstream out;
  w.ok = orvel::forEachBlock(in, out, [&](const std::string& code, std::vector<std::string>& rows) {
    w.codes.push_back(code);
    w.blocks.push_back(rows);
    return change ? change(code, rows) : false;
  }, w.changed);
  w.out = out.str();
  return w;
}

}  // namespace

TEST(BlockCode, MetadataCodeWinsThenHeaderTokenFour) {
  struct Case {
    std::vector<std::string> rows;
    std::string want;
  } cases[] = {
      {{"1 0 1 0 HEAD Name", "1302 icao_code EDKZ"}, "EDKZ"},
      {{"1 0 1 0 HEAD Name", "1302\ticao_code\tTAB1"}, "TAB1"},  // "1302" prefix, tok splits tabs
      {{"1 0 1 0 HEAD Name", "1302 icao_code", "1302 city X", "1302 icao_code LAST x"}, "LAST"},
      {{"1 0 1 0 HEAD Name", "1302 faa_code ABC"}, "HEAD"},
      {{"1 0 1 0 HEAD"}, "HEAD"},
      {{"1 0 1 0"}, ""},
      {{"1    23 1 0 NZAA Auckland"}, "NZAA"},
  };
  for (const auto& c : cases) {
    std::string text;
    for (const std::string& r : c.rows) text += r + "\n";
    const Walk w = walk(text + "99\n");
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.codes, std::vector<std::string>{c.want}) << c.rows.back();
  }
}

TEST(ForEachBlock, HandmadeFixtureCutsAndPassesThroughEveryByte) {
  const std::string text = tl::readFile(tl::testData("handmade.dat"));
  Walk w = walk(text);
  ASSERT_TRUE(w.ok);
  EXPECT_FALSE(w.changed);
  EXPECT_EQ(w.out, lfOnly(text));  // Latin-1, tabs, trailing blanks, text after 99
  EXPECT_EQ(w.codes, (std::vector<std::string>{"EDKZ", "ZZH1", "ZZS9", "", "Z\xffZ1"}));
  ASSERT_FALSE(w.blocks.empty());
  EXPECT_EQ(w.blocks[0][0], "1    1500 1 0 ZZA1 K\xf6ln Handmade Field  ");  // CR gone, blanks kept
  EXPECT_EQ(w.blocks.back().back(), "115 50.2001000 007.2000000");  // 99 ends the last block
}

TEST(ForEachBlock, RealSliceRoundTripsAndNamesItsAirports) {
  const std::string text = tl::readFile(tl::testData("lit-airports.dat"));
  Walk w = walk(text);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.out, lfOnly(text));
  EXPECT_EQ(w.codes, (std::vector<std::string>{"LZIB", "KROC", "LOWI", "YSSY"}));
}

TEST(ForEachBlock, WritesWhatTheFunctionLeftAndReportsTheChange) {
  const std::string text =
      "I\r\nhead\r\n1 0 1 0 AAAA a\r\nrow a\r\n17\t0 0 0 BBBB tab is no header\r\n"
      "16 0 0 1 CCCC c\r\nrow c\r\n99\r\n1 0 1 0 DDDD after the end\r\n";
  Walk w = walk(text, [](const std::string& code, std::vector<std::string>& rows) {
    if (code != "CCCC") return false;
    rows = {"16 rewritten", "x"};
    return true;
  });
  ASSERT_TRUE(w.ok);
  EXPECT_TRUE(w.changed);
  EXPECT_EQ(w.out, "I\nhead\n1 0 1 0 AAAA a\nrow a\n17\t0 0 0 BBBB tab is no header\n16 rewritten\nx\n99\n"
                   "1 0 1 0 DDDD after the end\n");
  EXPECT_EQ(w.codes, (std::vector<std::string>{"AAAA", "CCCC", "DDDD"}));
  EXPECT_EQ(w.blocks[0].size(), 3u);  // the tab row stays inside AAAA

  // A filter on the code sends the other blocks through untouched, unseen.
  std::istringstream in(text);
  std::ostringstream out;
  std::vector<std::string> seen;
  bool changed = false;
  ASSERT_TRUE(orvel::forEachBlock(in, out, [&](const std::string& code, std::vector<std::string>& rows) {
    seen.push_back(code);
    rows.push_back("added");
    return true;
  }, changed, [](const std::string& code) { return code == "AAAA"; }));
  EXPECT_TRUE(changed);
  EXPECT_EQ(seen, (std::vector<std::string>{"AAAA"}));
  EXPECT_EQ(out.str(), "I\nhead\n1 0 1 0 AAAA a\nrow a\n17\t0 0 0 BBBB tab is no header\nadded\n16 0 0 1 CCCC c\n"
                       "row c\n99\n1 0 1 0 DDDD after the end\n");
}

namespace {

// A stream that delivers `good` bytes and then fails the way a disk read
// error does: the buffer's underflow throws, which istream turns into badbit.
class FailingBuf : public std::streambuf {
 public:
  explicit FailingBuf(std::string good) : data_(std::move(good)) {
    setg(data_.data(), data_.data(), data_.data() + data_.size());
  }

 protected:
  int_type underflow() override { throw std::ios_base::failure("read error"); }

 private:
  std::string data_;
};

}  // namespace

TEST(ForEachBlock, ReadAndWriteErrorsAreNeverAnEndOfFile) {
  bool changed = false;
  {  // Reading a folder fails on the first read (EISDIR).
    tl::TempDir dir;
    std::ifstream in(dir.path(), std::ios::binary);
    std::ostringstream out;
    ASSERT_TRUE(in.is_open());
    EXPECT_FALSE(orvel::forEachBlock(in, out, nullptr, changed));
  }
  {  // A file that could not be opened is not an empty one.
    std::ifstream in("/nonexistent/apt.dat", std::ios::binary);
    std::ostringstream out;
    EXPECT_FALSE(orvel::forEachBlock(in, out, nullptr, changed));
  }
  {  // Fails part way through a block.
    FailingBuf buf("I\n1 0 1 0 AAAA a\nrow 1\nrow");
    std::istream in(&buf);
    std::ostringstream out;
    EXPECT_FALSE(orvel::forEachBlock(in, out, nullptr, changed));
    std::istream again(&buf);
    EXPECT_FALSE(orvel::visitBlocks(again, nullptr));
  }
  {  // A full disk.
    std::ofstream out("/dev/full", std::ios::binary);
    if (!out.is_open()) GTEST_SKIP() << "no /dev/full";
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "1 0 1 0 AAAA row of an airport block\n";
    std::istringstream in(big);
    EXPECT_FALSE(orvel::forEachBlock(in, out, nullptr, changed));
  }
}

TEST(VisitBlocks, StopsWhenAskedAndOnlyThen) {
  std::istringstream in(tl::readFile(tl::testData("lit-airports.dat")));
  std::vector<std::string> seen;
  EXPECT_FALSE(orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>&) {
    seen.push_back(code);
    return code != "KROC";
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"LZIB", "KROC"}));
}
