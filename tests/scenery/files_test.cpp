#include "scenery/files.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "scenery/fixture.h"
#include "scenery/shim.h"

using tl::readFile;
using tl::TempDir;
using tl::writeFile;
using tlsc::exists;

TEST(CutMark, ReadsWhatIsThereAndRejectsWhatIsNot) {
  struct Case {
    const char* text;
    bool valid;
    int64_t size, mtime;
  } cases[] = {
      {"1234567 1700000000\n", true, 1234567, 1700000000},
      {"-1 0\n", true, -1, 0},
      {" \n 12\t34 and more words", true, 12, 34},
      {"12\n", false, 0, 0},
      {"", false, 0, 0},
      {"twelve 34", false, 0, 0},
      {"99999999999999999999 1", false, 0, 0},  // beyond 64 bits
  };
  TempDir d;
  const std::string apt = d / "apt.dat";
  for (const auto& c : cases) {
    writeFile(apt + ".taxilume-cut", c.text);
    orvel::CutMark m = orvel::readCutMark(apt);
    EXPECT_EQ(m.valid, c.valid) << c.text;
    EXPECT_EQ(m.size, c.size) << c.text;
    EXPECT_EQ(m.mtime, c.mtime) << c.text;
  }
  ASSERT_TRUE(orvel::clearCutMark(apt));
  EXPECT_FALSE(orvel::readCutMark(apt).valid);
  ASSERT_TRUE(orvel::clearCutMark(apt));  // a missing mark is no error
}

TEST(CutMark, WritesTheExactFormat) {
  TempDir d;
  const std::string apt = d / "apt.dat";
  ASSERT_TRUE(orvel::writeMark(apt, 1234567, 1700000000));
  EXPECT_EQ(readFile(apt + ".taxilume-cut"), "1234567 1700000000\n");
  ASSERT_TRUE(orvel::writeMark(apt, -1, 0));
  EXPECT_EQ(readFile(apt + ".taxilume-cut"), "-1 0\n");
  EXPECT_TRUE(tlsc::leftovers(d.path(), {".taxilume-part"}).empty());
}

TEST(CutMark, MarkSaysFollowsSizeTimeAndTheProvisionalHour) {
  TempDir d;
  const std::string apt = d / "apt.dat";
  const std::string cut = apt + ".taxilume-cut";
  writeFile(apt, "0123456789");
  tlsc::setMtime(apt, 1700000000);
  EXPECT_TRUE(orvel::markSays({10, 1700000000, true}, apt));
  EXPECT_FALSE(orvel::markSays({10, 1700000001, true}, apt));
  EXPECT_FALSE(orvel::markSays({11, 1700000000, true}, apt));
  EXPECT_FALSE(orvel::markSays({10, 1700000000, false}, apt));

  // Provisional: only the rewrite it names counts, however recent the
  // mark; no time window makes a file ours.
  writeFile(cut, "-1 0\n");
  for (long long after : {-5000LL, 0LL, 60LL, 3600LL}) {
    tlsc::setMtime(cut, 1700000000);
    tlsc::setMtime(apt, 1700000000 + after);
    EXPECT_FALSE(orvel::markSays(orvel::readCutMark(apt), apt)) << after;
  }
  tlsc::setMtime(apt, 1700000000);
  ASSERT_TRUE(orvel::writeNextMark(apt, 10, 1700000000));
  EXPECT_EQ(readFile(cut), "-1 0 next 10 1700000000\n");
  const orvel::CutMark next = orvel::readCutMark(apt);
  EXPECT_TRUE(next.valid && next.hasNext && next.size == -1 && next.mtime == 0);
  EXPECT_TRUE(orvel::markSays(next, apt));
  tlsc::setMtime(apt, 1700000001);
  EXPECT_FALSE(orvel::markSays(next, apt));
  writeFile(cut, "-1 0 next 10\n");  // a torn tail proves nothing
  EXPECT_FALSE(orvel::readCutMark(apt).hasNext);

  ::unlink(apt.c_str());
  EXPECT_FALSE(orvel::markSays({10, 1700000000, true}, apt));
}

TEST(CopyFile, ReplacesTheDestinationAndNeedsASource) {
  TempDir d;
  writeFile(d / "src", std::string("a\r\nb\0c\r\n", 8));
  writeFile(d / "dst", "older and longer content");
  ASSERT_TRUE(orvel::copyFile(d / "src", d / "dst"));
  EXPECT_EQ(readFile(d / "dst"), readFile(d / "src"));

  EXPECT_FALSE(orvel::copyFile(d / "nothing", d / "new"));
  EXPECT_FALSE(exists(d / "new"));
  EXPECT_FALSE(exists(d / "new.taxilume-part"));

  // An empty source copies to an empty file (our choice; airport files are
  // never empty, but a user's file may be).
  writeFile(d / "empty", "");
  ASSERT_TRUE(orvel::copyFile(d / "empty", d / "dst"));
  EXPECT_EQ(readFile(d / "dst"), "");
  EXPECT_TRUE(tlsc::leftovers(d.path(), {".taxilume-part"}).empty());
}

TEST(JsonText, EveryByteStringRoundTripsThroughValidJson) {
  const std::string cases[] = {
      "/home/u/X-Plane 12/Custom Scenery/Zürich/Earth nav data/apt.dat",  // valid UTF-8: unchanged
      "/scenery/Z\xfcrich/apt.dat",                                        // Latin-1 byte
      "\xff\xfe", "\xc3", "abc\xe2\x82",                                   // stray and cut-off sequences
      "\xc0\xaf", "\xed\xa0\x80",                                          // overlong, surrogate
      "\xf4\x8f\xbe\x80 real U+10FF80",                                    // a real character of the escape range
      "\xf4\x8f\xbe\x80\xff", std::string("nul\0inside", 10), "ctl\x01\x1f",
  };
  for (const auto& s : cases) {
    const std::string enc = lumo::textForJson(s);
    nlohmann::json j = enc;
    std::string text;
    ASSERT_NO_THROW(text = j.dump()) << s;
    nlohmann::json back;
    ASSERT_TRUE(lumo::parseJson(text, back)) << s;
    EXPECT_EQ(back.get<std::string>(), s);
  }
  EXPECT_EQ(lumo::textForJson(cases[0]), cases[0]);
}

TEST(WriteJsonOver, WritesSortedIndentedJsonAndSurvivesBadBytes) {
  TempDir d;
  const std::string p = d / "picks.json";
  nlohmann::json j = {{"zeta", 1}, {"alpha", {{"b", true}}}};
  ASSERT_TRUE(lumo::writeJsonOver(p, j));
  EXPECT_EQ(readFile(p), "{\n  \"alpha\": {\n    \"b\": true\n  },\n  \"zeta\": 1\n}");

  nlohmann::json bad = {{"pack\xff", "Z\xfcrich"}};
  ASSERT_TRUE(lumo::writeJsonOver(p, bad));
  nlohmann::json back;
  ASSERT_TRUE(lumo::parseJson(readFile(p), back));
  EXPECT_EQ(back, bad);
  EXPECT_FALSE(exists(p + ".taxilume-part"));
}

// Each file operation of the replace helpers fails for real; the target must
// keep its old bytes and no part file may stay behind.
TEST(ReplaceFailure, TargetKeepsItsBytesAtEveryFailingStep) {
  TLSHIM_RERUN();
  struct Case {
    const char* what;
    const char* op;
    const char* sub;
    int err;
    long after;
  } cases[] = {
      {"cannot create the part file", "open", ".taxilume-part", EACCES, 0},
      {"disk full at once", "write", ".taxilume-part", ENOSPC, 0},
      {"short write, then disk full", "write", ".taxilume-part", ENOSPC, 7},
      {"fsync reports an error", "fsync", ".taxilume-part", EIO, 0},
      {"close reports an error", "close", ".taxilume-part", EIO, 0},
      {"rename fails", "rename", ".taxilume-part", EXDEV, 0},
      {"source read fails mid-way", "read", "src.bin", EIO, 5},
  };
  const std::string old = "the old content\n";
  const std::string fresh(100000, 'n');
  for (const auto& c : cases) {
    TempDir d;
    writeFile(d / "src.bin", fresh);
    writeFile(d / "target", old);
    writeFile(d / "copy", old);
    bool isRead = std::string(c.op) == "read";
    if (!isRead) {
      tlshim::arm(c.op, c.sub, c.err, c.after);
      EXPECT_FALSE(lumo::writeFileOver(d / "target", fresh)) << c.what;
      EXPECT_EQ(tlshim::left(), 0) << c.what << ": the failure did not happen";
      EXPECT_EQ(readFile(d / "target"), old) << c.what;
    }
    tlshim::arm(c.op, c.sub, c.err, c.after);
    EXPECT_FALSE(orvel::copyFile(d / "src.bin", d / "copy")) << c.what;
    EXPECT_EQ(tlshim::left(), 0) << c.what << ": the failure did not happen";
    tlshim::disarm();
    EXPECT_EQ(readFile(d / "copy"), old) << c.what;
    EXPECT_TRUE(tlsc::leftovers(d.path(), {".taxilume-part"}).empty()) << c.what;
  }
}
