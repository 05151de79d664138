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

// ---------------------------------------------------------------------------
// suppressAll: the order of backup, marks and rewrite for one file.

#include "engine/taken.h"
#include "scenery/manifest.h"
#include "scenery/order.h"
#include "scenery/restore.h"
#include "tools/geomkit/geomkit.h"

namespace {

// One lit taxiway under a lead-on line: everything lit on it is taken.
const std::string kLit =
    "I\r\n1000 Version - hand-made\r\n\r\n"
    "1 500 0 0 TEST Test Field\r\n"
    "120 Lit taxiway\r\n"
    "111 47.0000000 8.0000000 1 101\r\n"
    "111 47.0000000 8.0010000 1 101\r\n"
    "115 47.0000000 8.0020000 1 101\r\n"
    "1 500 0 0 DARK Unlit Field\r\n"
    "120 Painted only\r\n"
    "111 47.1000000 8.0000000 1\r\n"
    "115 47.1000000 8.0010000 1\r\n"
    "99\r\n";

orveldb::ScopeMap litScope() {
  orveldb::ScopeMap m;
  m["TEST"].lead = {{{47.0, 8.0}, {47.0, 8.002}}};
  return m;
}

struct Sim {
  TempDir dir;
  std::string root = dir.path() + "/";
  std::string plugin = dir.path() + "/Resources/plugins/Taxilume";
  std::string P = root + "Custom Scenery/Pack/Earth nav data/apt.dat";
  Sim() {
    std::filesystem::create_directories(plugin);
    writeFile(root + "Custom Scenery/scenery_packs.ini", "SCENERY_PACK Custom Scenery/Pack/\r\n");
  }
  orvel::OpResult pass(std::vector<std::string>* touched = nullptr, orveldb::TakenMap* taken = nullptr) const {
    std::vector<std::string> t;
    return orveldb::suppressAll(P, litScope(), orvel::SuppressScope{}, touched ? *touched : t, taken, plugin);
  }
  void finalMark() const {
    int64_t s = 0, t = 0;
    ASSERT_TRUE(orvel::fileStat(P, s, t));
    ASSERT_TRUE(orvel::writeMark(P, s, t));
  }
  void row() const { ASSERT_TRUE(orveldb::recordPass(plugin, P, {"TEST"}, "r", "launcher", false)); }
};

// The file as one pass leaves it.
std::string oursOf(const std::string& orig) {
  Sim s;
  writeFile(s.P, orig);
  EXPECT_TRUE(s.pass().changed);
  return readFile(s.P);
}

}  // namespace

TEST(SuppressAll, RewritesBacksUpMarksAndReports) {
  Sim s;
  writeFile(s.P, kLit);
  std::vector<std::string> touched{"EARLIER"};
  orveldb::TakenMap taken;
  orvel::OpResult r = s.pass(&touched, &taken);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(r.file, s.P);
  EXPECT_EQ(r.message, "1 airport(s), " + std::to_string(r.exclusions) + " exclusion(s)");
  EXPECT_EQ(touched, (std::vector<std::string>{"EARLIER", "TEST"}));
  ASSERT_EQ(taken.count("TEST"), 1u);
  EXPECT_FALSE(taken["TEST"].empty());
  const std::string ours = readFile(s.P);
  EXPECT_EQ(ours.find('\r'), std::string::npos);
  EXPECT_EQ(ours.find(" 101"), std::string::npos) << ours;
  EXPECT_EQ(readFile(s.P + ".taxilume-orig"), kLit);
  orvel::CutMark m = orvel::readCutMark(s.P);
  EXPECT_TRUE(m.valid && m.size == static_cast<int64_t>(ours.size()) && orvel::markSays(m, s.P));
  EXPECT_FALSE(exists(s.P + ".taxilume-tmp"));
}

TEST(SuppressAll, AFileWithNothingToTakeIsNotTouched) {
  struct Case {
    const char* what;
    orveldb::ScopeMap scopes;
    const char* message;
  } cases[] = {
      {"no airport of the scope", {{"ELSE", litScope()["TEST"]}}, "defines none of them"},
      {"an unlit airport", {{"DARK", litScope()["TEST"]}}, "defines 1, nothing lit to take"},
      {"an airport with empty geometry", {{"TEST", orveldb::AirportScope{}}}, "defines 1, nothing lit to take"},
      {"an empty scope map", {}, "nothing left to claim"},
  };
  for (const auto& c : cases) {
    Sim s;
    writeFile(s.P, kLit);
    tlsc::setMtime(s.P, 1600000000);
    std::vector<std::string> touched;
    orvel::OpResult r = orveldb::suppressAll(s.P, c.scopes, {}, touched, nullptr, s.plugin);
    EXPECT_TRUE(r.ok) << c.what;
    EXPECT_FALSE(r.changed) << c.what;
    EXPECT_EQ(r.message, c.message) << c.what;
    EXPECT_EQ(readFile(s.P), kLit) << c.what;
    EXPECT_EQ(tlsc::mtimeOf(s.P), 1600000000) << c.what;
    EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty()) << c.what;
  }
  // The empty scope map does not even read the file.
  Sim s;
  std::vector<std::string> touched;
  EXPECT_TRUE(orveldb::suppressAll(s.P, {}, {}, touched, nullptr, "").ok);
}

// Every state a crash can leave beside one apt.dat, and what the next pass
// and a restore do with it.
TEST(SuppressAll, EveryCrashStateIsHandledByTheNextPassAndByRestore) {
  const std::string ours = oursOf(kLit);
  enum P_ { ORIG, OURS, THEIRS, SAME };
  struct Case {
    const char* state;
    void (*setup)(const Sim&, const std::string& ours);
    // next pass
    bool passOk;
    std::string (*passMsg)(const std::string& P);  // null: "1 airport(s), ..." or "defines 1, ..."
    P_ passLeaves;
    // restore (restoreAll)
    int restored;      // files worked on
    P_ restoreLeaves;  // P afterwards
    const char* logStart;
  };
  auto changedSince = [](const std::string& P) {
    return P + " changed since Taxilume cut it (a sim or scenery update?) - the copy at " + P +
           ".taxilume-orig is from BEFORE that change. Delete it (or put it back by hand) before suppressing again.";
  };
  auto already = [](const std::string& P) {
    return "Taxilume already suppressed " + P + " and its backup (" + P +
           ".taxilume-orig) is gone - restore the scenery (or reinstall the pack) before suppressing again";
  };
  Case cases[] = {
      {"nothing beside the original", [](const Sim& s, const std::string&) { writeFile(s.P, kLit); }, true, nullptr,
       OURS, 0, ORIG, nullptr},
      {"a stray part copy of the backup",
       [](const Sim& s, const std::string&) {
         writeFile(s.P, kLit);
         writeFile(s.P + ".taxilume-orig.taxilume-part", "half a co");
       },
       true, nullptr, OURS, 0, ORIG, "   cleaned   "},
      {"backup, no mark, no row",
       [](const Sim& s, const std::string&) {
         writeFile(s.P, kLit);
         writeFile(s.P + ".taxilume-orig", kLit);
       },
       true, nullptr, OURS, 1, ORIG, "   orphan    "},
      {"backup, provisional mark, original",
       [](const Sim& s, const std::string&) {
         writeFile(s.P, kLit);
         writeFile(s.P + ".taxilume-orig", kLit);
         ASSERT_TRUE(orvel::writeMark(s.P, -1, 0));
       },
       true, nullptr, OURS, 1, ORIG, "   orphan    "},
      {"backup, provisional mark naming the rewrite, rewritten",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P + ".taxilume-orig", kLit);
         writeFile(s.P, o);
         int64_t size = 0, mtime = 0;
         ASSERT_TRUE(orvel::fileStat(s.P, size, mtime));
         ASSERT_TRUE(orvel::writeNextMark(s.P, size, mtime));
       },
       true, nullptr, OURS, 1, ORIG, "   orphan    "},
      // No time window makes a file ours: a provisional mark that names no
      // rewrite proves nothing, however fresh.
      {"backup, provisional mark naming nothing, rewritten",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P + ".taxilume-orig", kLit);
         ASSERT_TRUE(orvel::writeMark(s.P, -1, 0));
         writeFile(s.P, o);
       },
       false, changedSince, THEIRS, 0, THEIRS, "   left      "},
      {"an interrupted restore: the original back, backup, mark and row still there",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P + ".taxilume-orig", kLit);
         writeFile(s.P, o);
         s.finalMark();
         s.row();
         writeFile(s.P, kLit + "");
         ASSERT_TRUE(orvel::copyFile(s.P + ".taxilume-orig", s.P));
       },
       true, nullptr, OURS, 1, ORIG, "   restored  "},
      {"an interrupted restore: backup gone, mark and row still there",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P, o);
         s.finalMark();
         s.row();
         writeFile(s.P, kLit + "");
       },
       true, nullptr, OURS, 1, ORIG, "   restored  "},
      {"backup, final matching mark, our rewrite",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P + ".taxilume-orig", kLit);
         writeFile(s.P, o);
         s.finalMark();
         s.row();
       },
       true, nullptr, OURS, 1, ORIG, "   restored  "},
      {"backup, final mark, replaced since",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P + ".taxilume-orig", kLit);
         writeFile(s.P, o);
         s.finalMark();
         s.row();
         writeFile(s.P, kLit + "1 1 0 0 NEWA New\r\n");
       },
       false, changedSince, THEIRS, 1, THEIRS, "   FAILED    "},
      {"backup, provisional mark, replaced since",
       [](const Sim& s, const std::string&) {
         writeFile(s.P + ".taxilume-orig", kLit);
         ASSERT_TRUE(orvel::writeMark(s.P, -1, 0));
         writeFile(s.P, kLit + "1 1 0 0 NEWA New\r\n");
       },
       false, changedSince, THEIRS, 0, THEIRS, "   left      "},
      {"no backup, matching mark",
       [](const Sim& s, const std::string& o) {
         writeFile(s.P, o);
         s.finalMark();
         s.row();
       },
       false, already, OURS, 1, OURS, "   FAILED    "},
  };
  for (const auto& c : cases) {
    auto bytes = [&](P_ p, const std::string& before) {
      return p == ORIG ? kLit : p == OURS ? ours : before;
    };
    {
      Sim s;
      c.setup(s, ours);
      const std::string before = readFile(s.P);
      const bool hadBackup = exists(s.P + ".taxilume-orig");
      orvel::OpResult r = s.pass();
      EXPECT_EQ(r.ok, c.passOk) << c.state << ": " << r.message;
      if (c.passMsg) {
        EXPECT_EQ(r.message, c.passMsg(s.P)) << c.state;
      }
      EXPECT_TRUE(readFile(s.P) == bytes(c.passLeaves, before)) << c.state;
      if (c.passOk) {
        EXPECT_EQ(readFile(s.P + ".taxilume-orig"), kLit) << c.state;
        if (r.changed) {
          EXPECT_TRUE(orvel::markSays(orvel::readCutMark(s.P), s.P)) << c.state;
        }
        EXPECT_TRUE(hadBackup || r.changed) << c.state;
      }
      EXPECT_TRUE(tlsc::leftovers(s.dir.path(), {".taxilume-part", ".taxilume-tmp"}).empty()) << c.state;
    }
    {
      Sim s;
      c.setup(s, ours);
      const std::string before = readFile(s.P);
      std::vector<std::string> log;
      int n = lumo::restoreAll(s.plugin, [&](const std::string& l) { log.push_back(l); }, s.root);
      EXPECT_EQ(n, c.restored) << c.state;
      EXPECT_TRUE(readFile(s.P) == bytes(c.restoreLeaves, before)) << c.state;
      if (c.logStart) {
        ASSERT_FALSE(log.empty()) << c.state;
        EXPECT_EQ(log[0].substr(0, 13), c.logStart) << c.state << ": " << log[0];
      } else {
        EXPECT_TRUE(log.empty()) << c.state;
      }
      if (c.restoreLeaves == ORIG && c.restored == 1) {
        EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty()) << c.state;
      }
    }
  }
}

TEST(SuppressAll, AFailedBackupOrRewriteSaysWhereTheOriginalIs) {
  TLSHIM_RERUN();
  Sim s;
  writeFile(s.P, kLit);
  std::vector<std::string> touched;
  tlshim::arm("write", ".taxilume-orig.taxilume-part", ENOSPC, 10);
  orvel::OpResult r = s.pass(&touched);
  EXPECT_EQ(tlshim::left(), 0);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "backup copy failed for " + s.P + " (No space left on device)");
  EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty()) << "a failed copy writes no mark";

  tlshim::arm("fsync", ".taxilume-tmp", EIO);
  r = s.pass(&touched);
  EXPECT_EQ(tlshim::left(), 0);
  EXPECT_FALSE(r.ok);
  // P was never replaced: the pass takes away what it made.
  EXPECT_EQ(r.message, "rewrite failed for " + s.P + " (Input/output error) - the file was not changed");
  EXPECT_TRUE(touched.empty());
  EXPECT_EQ(readFile(s.P), kLit);
  EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty());
}

// A cut mark that cannot be written must not leave a file whose record
// stops matching later: the first mark failing stops before any change; the
// final one failing leaves the provisional mark, through which restore puts
// the original back.
TEST(SuppressAll, AMarkThatCannotBeWrittenFailsTheFile) {
  TLSHIM_RERUN();
  {
    Sim s;
    writeFile(s.P, kLit);
    tlshim::arm("write", ".taxilume-cut.taxilume-part", ENOSPC, 0);
    orvel::OpResult r = s.pass();
    EXPECT_EQ(tlshim::left(), 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "could not write the cut mark for " + s.P + " (No space left on device)");
    EXPECT_EQ(readFile(s.P), kLit);
    EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty());
  }
  for (bool backupBefore : {false, true}) {
    Sim s;
    writeFile(s.P, kLit);
    if (backupBefore) writeFile(s.P + ".taxilume-orig", kLit);
    std::vector<std::string> touched;
    // The provisional marks ("-1 0\n", then "-1 0 next SIZE MTIME\n") go
    // through, the final one fails.
    const std::string ours = oursOf(kLit);
    const long next = static_cast<long>(std::string("-1 0 next  0123456789\n").size() + std::to_string(ours.size()).size());
    tlshim::arm("write", ".taxilume-cut.taxilume-part", ENOSPC, 5 + next);
    orvel::OpResult r = s.pass(&touched);
    EXPECT_EQ(tlshim::left(), 0) << backupBefore;
    tlshim::disarm();
    EXPECT_FALSE(r.ok) << backupBefore;
    EXPECT_EQ(r.message, "could not write the cut mark for " + s.P + " - the original is at " + s.P +
                             ".taxilume-orig");
    EXPECT_TRUE(touched.empty());
    EXPECT_EQ(readFile(s.P + ".taxilume-cut").rfind("-1 0 next " + std::to_string(ours.size()) + " ", 0), 0u)
        << backupBefore;
    EXPECT_EQ(lumo::restoreAll(s.plugin, nullptr, s.root), 1) << backupBefore;
    EXPECT_EQ(readFile(s.P), kLit) << backupBefore;
    EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty()) << backupBefore;
  }
}

// Real scenery, end to end: the global file and two add-on packs (one with a
// folder name that is not UTF-8) are suppressed against geometry derived
// from their own lights, recorded, and restored byte for byte.
TEST(SuppressAll, RealSceneryRoundTripsByteForByte) {
  Sim s;
  const std::string global = s.root + "Global Scenery/Global Airports/Earth nav data/apt.dat";
  const std::string kroc = s.root + "Custom Scenery/KROC pack/Earth nav data/apt.dat";
  const std::string eddf = s.root + "Custom Scenery/EDDF \xff pack/Earth nav data/apt.dat";
  writeFile(s.root + "Custom Scenery/scenery_packs.ini",
            "I\r\n1000 Version\r\nSCENERY\r\n\r\nSCENERY_PACK Custom Scenery/KROC pack/\r\n"
            "SCENERY_PACK_DISABLED Custom Scenery/Other/\r\nSCENERY_PACK Custom Scenery/EDDF \xff pack/\r\n"
            "SCENERY_PACK *GLOBAL_AIRPORTS*\r\n");
  const std::map<std::string, std::string> originals = {
      {kroc, readFile(tl::testData("scenery/pack-kroc-crlf.dat"))},
      {eddf, readFile(tl::testData("scenery/pack-eddf-crlf.dat"))},
      {global, readFile(tl::testData("scenery/global-lzib-crlf.dat"))},
  };
  for (const auto& [p, bytes] : originals) writeFile(p, bytes);
  const std::vector<std::string> files = orveldb::aptDatFilesInOrder(s.root);
  ASSERT_EQ(files, (std::vector<std::string>{kroc, eddf, global}));

  orveldb::TakenMap taken;
  for (const auto& f : files) {
    orveldb::ScopeMap scopes;
    std::string err;
    ASSERT_TRUE(geomkit::deriveFile(f, scopes, err)) << err;
    ASSERT_FALSE(scopes.empty()) << f;
    std::vector<std::string> touched;
    orvel::OpResult r = orveldb::suppressAll(f, scopes, orvel::SuppressScope{}, touched, &taken, s.plugin);
    ASSERT_TRUE(r.ok) << f << ": " << r.message;
    EXPECT_TRUE(r.changed) << f;
    ASSERT_TRUE(orveldb::recordPass(s.plugin, f, touched, "r1", "launcher", false));
    const std::string now = readFile(f);
    EXPECT_NE(now, originals.at(f));
    EXPECT_EQ(now.find('\r'), std::string::npos) << f;
    EXPECT_TRUE(readFile(f + ".taxilume-orig") == originals.at(f)) << f;
    EXPECT_TRUE(orvel::markSays(orvel::ourMark(s.plugin, f), f)) << f;
  }
  ASSERT_TRUE(lumo::writeTaken(s.plugin, "r1", taken));

  int failed = -1;
  std::vector<std::string> log;
  EXPECT_EQ(lumo::restoreAll(s.plugin, [&](const std::string& l) { log.push_back(l); }, s.root, &failed), 3);
  EXPECT_EQ(failed, 0);
  for (const auto& l : log) EXPECT_EQ(l.substr(0, 13), "   restored  ") << l;
  for (const auto& [p, bytes] : originals) EXPECT_TRUE(readFile(p) == bytes) << p;
  EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty());
  EXPECT_EQ(readFile(s.plugin + "/orvel_manifest.json"), "[]");
  EXPECT_FALSE(exists(s.plugin + "/tlm_taken.json"));
}
