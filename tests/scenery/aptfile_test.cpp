#include "engine/aptfile.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "scenery/fixture.h"
#include "scenery/shim.h"

using tl::readFile;
using tl::TempDir;
using tl::writeFile;
using tlsc::exists;

namespace {

// Rows before the first header, a block named by its 1302 row, one named by
// its header, a seaplane base and a heliport, a header whose first separator
// is a tab (not a header to the file reader), rows after 99, CRLF ends and a
// last line without any.
const std::string kMixed =
    "I\r\n1000 Version - data cycle 2013.10\r\n\r\n"
    "1       15 1 0 AAAA Header Named\r\n"
    "100 30.00 1 0 0.25 0 2 1 09\r\n"
    "1302 icao_code ZZZZ\r\n"
    "120 Taxi A\r\n"
    "111 47.0 8.0 1 101\r\n"
    "16 0 0 0 SEAP Water\r\n"
    "1302 city Somewhere\r\n"
    "17 0 0 0 HELI\r\n"
    "1\t9 0 0 TABX not a header\r\n"
    "1 9 0 0\r\n"
    "99\r\n"
    "after the end\r\n"
    "no line end";

struct Seen {
  std::string code, first;
  size_t rows;
};

}  // namespace

TEST(RewriteBlocks, CutsBlocksAndWritesLfEndsWhenSomethingChanged) {
  TempDir d;
  const std::string P = d / "apt.dat";
  writeFile(P, kMixed);
  std::vector<Seen> seen;
  bool changed = false;
  ASSERT_TRUE(orvel::rewriteBlocks(P, changed, [&](const std::string& code, std::vector<std::string>& rows) {
    seen.push_back({code, rows.front(), rows.size()});
    if (code != "SEAP") return false;
    rows.push_back("1302 datum_lat 0");
    return true;
  }));
  EXPECT_TRUE(changed);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].code, "ZZZZ");
  EXPECT_EQ(seen[0].rows, 5u);
  EXPECT_EQ(seen[1].code, "SEAP");
  EXPECT_EQ(seen[2].code, "HELI");
  EXPECT_EQ(seen[2].rows, 2u);  // the tab row belongs to the heliport's block
  EXPECT_EQ(seen[3].code, "");  // a header with four tokens names no airport
  EXPECT_EQ(readFile(P),
            "I\n1000 Version - data cycle 2013.10\n\n1       15 1 0 AAAA Header Named\n100 30.00 1 0 0.25 0 2 1 09\n"
            "1302 icao_code ZZZZ\n120 Taxi A\n111 47.0 8.0 1 101\n16 0 0 0 SEAP Water\n1302 city Somewhere\n"
            "1302 datum_lat 0\n17 0 0 0 HELI\n1\t9 0 0 TABX not a header\n1 9 0 0\n99\nafter the end\nno line end\n");
  EXPECT_TRUE(tlsc::leftovers(d.path()).empty());
}

TEST(RewriteBlocks, LeavesAnUnchangedFileUntouched) {
  TempDir d;
  const std::string P = d / "apt.dat";
  writeFile(P, kMixed);
  tlsc::setMtime(P, 1600000000);
  bool changed = true;
  ASSERT_TRUE(orvel::rewriteBlocks(P, changed, [](const std::string&, std::vector<std::string>&) { return false; }));
  EXPECT_FALSE(changed);
  EXPECT_EQ(readFile(P), kMixed);
  EXPECT_EQ(tlsc::mtimeOf(P), 1600000000);
  EXPECT_TRUE(tlsc::leftovers(d.path()).empty());
  EXPECT_FALSE(orvel::rewriteBlocks(d / "missing.dat", changed, nullptr));
}

// Each file operation of the rewrite fails for real. The apt.dat must stay
// byte-identical (or, for a lost rename, come back from the backup), and no
// temporary may stay behind. A read error part way must not pass for the
// end of the file: the rewrite changes a block near the start, so a
// shortened file would otherwise replace the whole one.
TEST(RewriteBlocks, AFailureAtAnyFileOperationLeavesTheFileWhole) {
  TLSHIM_RERUN();
  struct Case {
    const char* what;
    const char* op;
    const char* sub;
    int err;
    long after;
  } cases[] = {
      {"cannot create the temporary", "open", ".taxilume-tmp", EACCES, 0},
      {"short write, then disk full", "write", ".taxilume-tmp", ENOSPC, 3000},
      {"fsync reports an error", "fsync", ".taxilume-tmp", EIO, 0},
      {"close reports an error", "close", ".taxilume-tmp", EIO, 0},
      {"rename fails", "rename", ".taxilume-tmp", EXDEV, 0},
      {"rename fails and loses the file", "rename-lose", ".taxilume-tmp", EIO, 0},
      {"read error in the middle", "read", "apt.dat", EIO, 20000},
  };
  std::string big = "I\n1000 Version\n\n";
  for (int i = 0; i < 3000; ++i)
    big += "1 100 0 0 A" + std::to_string(i) + " Airport\r\n120 Taxi\r\n111 47.0 8.0 1 101\r\n";
  big += "99\r\n";
  for (const auto& c : cases) {
    TempDir d;
    const std::string P = d / "apt.dat";
    writeFile(P, big);
    writeFile(P + ".taxilume-orig", big);
    tlshim::arm(c.op, c.sub, c.err, c.after);
    bool changed = false;
    bool ok = orvel::rewriteBlocks(P, changed, [](const std::string& code, std::vector<std::string>& rows) {
      if (code != "A1") return false;
      rows.pop_back();
      return true;
    });
    EXPECT_EQ(tlshim::left(), 0) << c.what << ": the failure did not happen";
    tlshim::disarm();
    EXPECT_FALSE(ok) << c.what;
    EXPECT_FALSE(changed) << c.what;
    EXPECT_TRUE(readFile(P) == big) << c.what;
    EXPECT_FALSE(exists(P + ".taxilume-tmp")) << c.what;
    EXPECT_TRUE(readFile(P + ".taxilume-orig") == big) << c.what;
  }
}
