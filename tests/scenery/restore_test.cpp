#include "scenery/restore.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "scenery/fixture.h"
#include "scenery/manifest.h"
#include "scenery/shim.h"

using nlohmann::json;
using tl::readFile;
using tl::TempDir;
using tl::writeFile;
using tlsc::exists;

namespace {

struct Sim {
  TempDir dir;
  std::string root = dir.path() + "/";
  std::string plugin = dir.path() + "/Resources/plugins/Taxilume";
  Sim() { std::filesystem::create_directories(plugin); }
  std::string pack(const std::string& name) const {
    return root + "Custom Scenery/" + name + "/Earth nav data/apt.dat";
  }
  // The state a pass leaves: original in the backup, our bytes in the file,
  // a final mark that matches.
  void suppressed(const std::string& p, const std::string& orig, const std::string& ours) const {
    writeFile(p + ".taxilume-orig", orig);
    writeFile(p, ours);
    int64_t s = 0, t = 0;
    ASSERT_TRUE(orvel::fileStat(p, s, t));
    ASSERT_TRUE(orvel::writeMark(p, s, t));
  }
  void row(const std::string& p, const std::string& icao) const {
    json m = orvel::loadManifest(plugin);
    int64_t s = 0, t = 0;
    orvel::fileStat(p, s, t);
    m.push_back({{"file", p}, {"icao", icao}, {"size", s}, {"mtime", t}, {"owner", "launcher"}});
    ASSERT_TRUE(orvel::saveManifest(plugin, m));
  }
};

}  // namespace

// Every way a file can come to restore, in one installation: through the
// manifest (one pack's folder name is not UTF-8), swept as an orphan, gone
// with only its backup left, and the backups restore must leave alone.
TEST(RestoreAll, PutsBackWhatIsOursAndReportsTheRest) {
  Sim s;
  const std::string A = s.pack("A\xff"), B = s.pack("B"), C = s.pack("C"), D = s.pack("D"), E = s.pack("E"),
                    F = s.pack("F"), G = s.pack("G");
  std::string ini = "I\n1000 Version\nSCENERY\n\n";
  for (const char* p : {"A\xff", "B", "C", "D", "E", "F"}) ini += std::string("SCENERY_PACK Custom Scenery/") + p + "/\n";
  writeFile(s.root + "Custom Scenery/scenery_packs.ini", ini);

  s.suppressed(A, "A original\r\n", "A ours\n");
  for (const char* c : {"AAA1", "AAA2", "AAA3"}) s.row(A, c);
  s.suppressed(B, "B original\r\n", "B ours\n");
  s.row(B, "BBB1");
  ::unlink(B.c_str());                      // deleted since: copied back without asking
  writeFile(C + ".taxilume-orig", "C original");  // orphan: provisional mark naming C, no row
  writeFile(C, "C ours");
  {
    int64_t size = 0, mtime = 0;
    ASSERT_TRUE(orvel::fileStat(C, size, mtime));
    ASSERT_TRUE(orvel::writeNextMark(C, size, mtime));
  }
  writeFile(D + ".taxilume-orig", "D original");  // only the backup is left
  writeFile(E + ".taxilume-orig", "E backup");    // backup with no mark
  writeFile(E, "E current");
  s.suppressed(F, "F original", "F ours");        // replaced since by an update
  writeFile(F, "F updated by someone else");
  s.suppressed(G, "G original", "G ours");        // not in the pack list at all
  writeFile(s.plugin + "/tlm_taken.json", "{}");

  std::vector<std::string> log;
  int failed = -1;
  int n = lumo::restoreAll(s.plugin, [&](const std::string& l) { log.push_back(l); }, s.root, &failed);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "   orphan    " + C + " - a backup with no manifest row; putting it back",
                     "   unknown   " + E + " - a backup with no suppression mark; restore it by hand if it is ours",
                     "!! an older copy of " + E + " is kept at " + E + ".taxilume-orig - it was not put back",
                     "   left      " + F + " - changed since we suppressed it; our copy stays at .taxilume-orig",
                     "!! an older copy of " + F + " is kept at " + F + ".taxilume-orig - it was not put back",
                     "   MISSING   " + D + " - no apt.dat, only our backup; putting it back",
                     "   restored  " + A + "  - restored original apt.dat",
                     "   restored  " + B + "  - restored original apt.dat",
                     "   restored  " + C + "  - restored original apt.dat",
                     "   restored  " + D + "  - restored original apt.dat",
                 }));
  EXPECT_EQ(readFile(A), "A original\r\n");
  EXPECT_EQ(readFile(B), "B original\r\n");
  EXPECT_EQ(readFile(C), "C original");
  EXPECT_EQ(readFile(D), "D original");
  EXPECT_EQ(readFile(F), "F updated by someone else");
  EXPECT_TRUE(orvel::loadManifest(s.plugin).empty());
  EXPECT_FALSE(exists(s.plugin + "/tlm_taken.json"));
  std::vector<std::string> left = tlsc::leftovers(s.dir.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{E + ".taxilume-orig", F + ".taxilume-cut", F + ".taxilume-orig",
                                            G + ".taxilume-cut", G + ".taxilume-orig"}));

  // A second restore finds nothing to do; a taken record left by a restore
  // that stopped just before removing it goes, since nothing is cut.
  writeFile(s.plugin + "/tlm_taken.json", "{}");
  log.clear();
  failed = -1;
  EXPECT_EQ(lumo::restoreAll(s.plugin, [&](const std::string& l) { log.push_back(l); }, s.root, &failed), 0);
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(exists(s.plugin + "/tlm_taken.json"));
  EXPECT_EQ(log.back(), "   cleaned   " + s.plugin + "/tlm_taken.json - nothing is suppressed any more");

  // While a file is still cut (here one the manifest lost), it stays.
  writeFile(s.plugin + "/tlm_taken.json", "{}");
  s.suppressed(A, "A original\r\n", "A ours\n");
  ASSERT_TRUE(orvel::clearCutMark(A));
  {
    int64_t size = 0, mtime = 0;
    ASSERT_TRUE(orvel::fileStat(A, size, mtime));
    ::unlink((A + ".taxilume-orig").c_str());
    ASSERT_TRUE(orvel::writeMark(A, size, mtime));
  }
  EXPECT_EQ(lumo::restoreAll(s.plugin, nullptr, s.root, &failed), 0);
  EXPECT_TRUE(exists(s.plugin + "/tlm_taken.json"));
}

TEST(RestoreAll, TheTakenRecordStaysWhileAFailedFileIsStillSuppressed) {
  struct Case {
    const char* what;
    void (*spoil)(const Sim& s, const std::string& p);  // applied to a suppressed, recorded file
    std::string (*message)(const std::string& p);
    bool takenKept;
  } cases[] = {
      {"backup lost, file still ours", [](const Sim&, const std::string& p) { ::unlink((p + ".taxilume-orig").c_str()); },
       [](const std::string& p) { return "no backup found (" + p + ".taxilume-orig)"; }, true},
      {"file changed by someone else", [](const Sim&, const std::string& p) { writeFile(p, "theirs, longer"); },
       [](const std::string& p) {
         return "the scenery changed since Taxilume cut it (updated or verified?) - our copy is kept at " + p +
                ".taxilume-orig; restore it by hand if that is what you want";
       },
       false},
      {"backup with no mark and a row without size",
       [](const Sim& s, const std::string& p) {
         ASSERT_TRUE(orvel::clearCutMark(p));
         ASSERT_TRUE(orvel::saveManifest(s.plugin, json::parse("[{\"file\":\"" + p + "\",\"icao\":\"PPPP\"}]")));
       },
       [](const std::string& p) {
         return "a backup with no record of the cut - the apt.dat beside it may not be ours; restore it by hand if "
                "it is (" + p + ".taxilume-orig)";
       },
       false},
  };
  for (const auto& c : cases) {
    Sim s;
    const std::string P = s.pack("P");
    s.suppressed(P, "orig", "ours");
    s.row(P, "PPPP");
    c.spoil(s, P);
    const std::string before = readFile(P);
    writeFile(s.plugin + "/tlm_taken.json", "{}");
    std::vector<std::string> log;
    int failed = -1;
    EXPECT_EQ(lumo::restoreAll(s.plugin, [&](const std::string& l) { log.push_back(l); }, s.root, &failed), 1)
        << c.what;
    EXPECT_EQ(failed, 1) << c.what;
    EXPECT_EQ(log, std::vector<std::string>{"   FAILED    " + P + "  - " + c.message(P)}) << c.what;
    EXPECT_EQ(exists(s.plugin + "/tlm_taken.json"), c.takenKept) << c.what;
    EXPECT_EQ(readFile(P), before) << c.what;
    EXPECT_EQ(orvel::loadManifest(s.plugin).size(), 1u) << c.what;
  }
}

TEST(RestoreFile, CopiesBackWhenTheFileIsGoneEmptyOrProvisionallyOurs) {
  struct Case {
    const char* what;
    void (*setup)(const std::string& p);
  } cases[] = {
      {"file deleted, no mark", [](const std::string& p) { ::unlink(p.c_str()); }},
      {"file emptied, no mark", [](const std::string& p) { writeFile(p, ""); }},
      {"provisional mark naming the rewrite",
       [](const std::string& p) {
         int64_t size = 0, mtime = 0;
         ASSERT_TRUE(orvel::fileStat(p, size, mtime));
         ASSERT_TRUE(orvel::writeNextMark(p, size, mtime));
       }},
  };
  for (const auto& c : cases) {
    Sim s;
    const std::string P = s.pack("P");
    writeFile(P + ".taxilume-orig", "the original\r\n");
    writeFile(P, "ours");
    c.setup(P);
    orvel::OpResult r = orvel::restoreFile(P, s.plugin);
    EXPECT_TRUE(r.ok) << c.what << ": " << r.message;
    EXPECT_EQ(r.message, "restored original apt.dat") << c.what;
    EXPECT_EQ(r.file, P);
    EXPECT_EQ(readFile(P), "the original\r\n") << c.what;
    EXPECT_TRUE(tlsc::leftovers(s.dir.path()).empty()) << c.what;
  }
}

TEST(RestoreFile, AGonePackOnlyDropsItsRecord) {
  Sim s;
  const std::string P = s.pack("P"), Q = s.pack("Q");
  s.row(P, "P1");
  s.row(Q, "Q1");
  s.row(P, "P2");
  writeFile(P + ".taxilume-cut", "10 10\n");  // the folder is gone but for a stray mark
  orvel::OpResult r = orvel::restoreFile(P, s.plugin);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.message, "the pack is gone (uninstalled?) - dropped its record");
  json m = orvel::loadManifest(s.plugin);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0]["file"], Q);
  EXPECT_FALSE(exists(P + ".taxilume-cut"));
}

TEST(RestoreFile, AFailedCopyKeepsEverything) {
  TLSHIM_RERUN();
  const char* ops[] = {"write", "fsync", "rename"};
  for (const char* op : ops) {
    Sim s;
    const std::string P = s.pack("P");
    s.suppressed(P, std::string(50000, 'o'), "ours");
    s.row(P, "PPPP");
    tlshim::arm(op, ".taxilume-part", std::string(op) == "write" ? ENOSPC : EIO, 1000);
    orvel::OpResult r = orvel::restoreFile(P, s.plugin);
    EXPECT_EQ(tlshim::left(), 0) << op;
    tlshim::disarm();
    EXPECT_FALSE(r.ok) << op;
    EXPECT_EQ(r.message.rfind("restore copy failed (", 0), 0u) << op << ": " << r.message;
    EXPECT_EQ(readFile(P), "ours") << op;
    EXPECT_TRUE(exists(P + ".taxilume-orig") && exists(P + ".taxilume-cut")) << op;
    EXPECT_FALSE(exists(P + ".taxilume-part")) << op;
    EXPECT_EQ(orvel::loadManifest(s.plugin).size(), 1u) << op;
  }
}
