#include "host/discover.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "host/host_support.h"
#include "support/tmpdir.h"

namespace fs = std::filesystem;

namespace {

// What a copy of the launcher stand-in at exe found: the root, then the
// probe lines.
struct Found {
  std::string root;
  std::vector<std::string> probes;
};

Found runFindRoot(const std::string& exe, const std::string& explicitRoot = "") {
  tl::copyExe(TL_HOST_PROBE, exe);
  std::vector<std::string> argv = {exe, "findroot"};
  if (!explicitRoot.empty()) argv.push_back(explicitRoot);
  std::istringstream out(tl::runOutput(argv));
  Found f;
  std::string line;
  while (std::getline(out, line)) {
    if (line.rfind("root ", 0) == 0) f.root = line.substr(5);
    else if (line.rfind("probe: ", 0) == 0) f.probes.push_back(line.substr(7));
  }
  return f;
}

void makeXPlane(const std::string& root) { tl::writeFile(root + "/Resources/version.txt", "12.1.0"); }

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    home = tmp / "home";
    fs::create_directories(home);
    env.set("HOME", home);
    env.unset("XDG_CONFIG_HOME");
  }
  tl::TempDir tmp;
  tl::EnvGuard env;
  std::string home;
};

TEST(LooksLikeXPlane, AnyOfTheFourMarks) {
  tl::TempDir tmp;
  EXPECT_FALSE(lumo::looksLikeXPlane(tmp.path()));
  EXPECT_FALSE(lumo::looksLikeXPlane(""));
  int n = 0;
  for (const char* mark : {"Resources/version.txt", "X-Plane.exe", "X-Plane.app", "X-Plane-x86_64"}) {
    const std::string dir = tmp / std::to_string(n++);
    tl::writeFile(dir + "/" + mark, "");
    EXPECT_TRUE(lumo::looksLikeXPlane(dir)) << mark;
    EXPECT_TRUE(lumo::looksLikeXPlane(dir + "/")) << mark;
  }
  fs::create_directories(tmp / "d/X-Plane.exe");
  EXPECT_TRUE(lumo::looksLikeXPlane(tmp / "d")) << "a folder named like the program counts too";
  tl::writeFile(tmp / "e/Resources/other.txt", "");
  EXPECT_FALSE(lumo::looksLikeXPlane(tmp / "e"));
}

TEST_F(Discovery, ExplicitRootIsTakenAsGivenAndProbesNothing) {
  const Found f = runFindRoot(tmp / "bin/launcher", "D:\\Games\\X-Plane 12");
  EXPECT_EQ(f.root, "D:/Games/X-Plane 12/");
  EXPECT_TRUE(f.probes.empty());
}

TEST_F(Discovery, BesideTheLauncherUpToFourLevelsAbove) {
  const std::string xp = tmp / "X-Plane 12";
  tl::writeFile(xp + "/X-Plane-x86_64", "");
  // In the folder itself and in the plugin's folder, three levels below.
  EXPECT_EQ(runFindRoot(xp + "/launcher").root, xp + "/");
  Found f = runFindRoot(xp + "/Resources/plugins/Taxilume/launcher");
  EXPECT_EQ(f.root, xp + "/");
  EXPECT_EQ(f.probes, (std::vector<std::string>{"beside the launcher: " + xp + "/Resources/plugins/Taxilume",
                                                "beside the launcher: " + xp + "/Resources/plugins",
                                                "beside the launcher: " + xp + "/Resources",
                                                "beside the launcher: " + xp}));
  EXPECT_EQ(runFindRoot(xp + "/a/b/c/d/launcher").root, xp + "/") << "four levels below";
  f = runFindRoot(xp + "/a/b/c/d/e/launcher");
  EXPECT_EQ(f.root, "") << "five levels below is too far";
  ASSERT_GE(f.probes.size(), 6u);
  EXPECT_EQ(f.probes[4], "beside the launcher: " + xp + "/a");
  EXPECT_EQ(f.probes[5], "remembered (" + home + "/.config/Taxilume/xproot.txt)");
}

// Every later source in one run, each passed over for its own reason, until
// a Steam library holds X-Plane.
TEST_F(Discovery, RememberedThenInstallRecordThenSteam) {
  const std::string cfg = home + "/.config/Taxilume";
  const std::string remembered = tmp / "remembered";
  makeXPlane(remembered);
  tl::writeFile(cfg + "/xproot.txt", remembered + "\r\nignored");  // not trimmed: no X-Plane there
  tl::writeFile(home + "/.x-plane/x-plane_install_12.txt",
                "/games/X-Plane 12  \n\n  /lead/space\r\n\t/tab\n");
  // ~/.steam/steam is missing; ~/.steam/root lists two libraries, one of
  // them twice and one that does not exist; ~/.local/share/Steam is a link
  // to ~/.steam/root and still counts as a root of its own.
  const std::string steamRoot = home + "/.steam/root";
  const std::string lib = tmp / "SteamLibrary";
  tl::writeFile(steamRoot + "/steamapps/libraryfolders.vdf",
                "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"D:\\\\SteamLibrary\"\n\t}\n"
                "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + lib + "/\"\n\t\t\"label\"\t\t\"\"\n\t}\n"
                "\t\"2\" { \"path\" \"" + lib + "/\" }\n\t\"path\" broken\n}\n");
  fs::create_directories(home + "/.local/share");
  fs::create_directory_symlink(steamRoot, home + "/.local/share/Steam");
  makeXPlane(lib + "/steamapps/common/X-Plane 12");

  const std::string exeDir = tmp / "bin";
  const Found f = runFindRoot(exeDir + "/launcher");
  EXPECT_EQ(f.root, lib + "/steamapps/common/X-Plane 12/");
  std::vector<std::string> want;
  for (std::string d = exeDir; !d.empty() && want.size() < 5; d = d.substr(0, d.rfind('/')))
    want.push_back("beside the launcher: " + d);
  const std::vector<std::string> rest = {
      "remembered (" + cfg + "/xproot.txt)",
      "X-Plane's install record: /games/X-Plane 12/",
      "X-Plane's install record:   /lead/space/",
      "X-Plane's install record: \t/tab/",
      "Steam library: " + steamRoot + "/steamapps/common/X-Plane 12/",
      "Steam library: D:/SteamLibrary/steamapps/common/X-Plane 12/",
      "Steam library: " + lib + "/steamapps/common/X-Plane 12/",
  };
  want.insert(want.end(), rest.begin(), rest.end());
  EXPECT_EQ(f.probes, want);
}

TEST_F(Discovery, RememberedRootAndStopAtFirstMatch) {
  const std::string xp = tmp / "XP";
  makeXPlane(xp);
  env.set("XDG_CONFIG_HOME", tmp / "cfg");
  lumo::rememberRoot(xp);
  EXPECT_EQ(tl::readFile(tmp / "cfg/Taxilume/xproot.txt"), xp) << "exactly as given, no line end";
  tl::writeFile(home + "/.x-plane/x-plane_install_12.txt", xp + "\n");
  const Found f = runFindRoot(tmp / "bin/launcher");
  EXPECT_EQ(f.root, xp + "/");
  EXPECT_EQ(f.probes.back(), "remembered (" + tmp / "cfg/Taxilume/xproot.txt)") << "install record not read";
}

TEST_F(Discovery, FlatpakSteamIsTheFourthRoot) {
  const std::string flat = home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam";
  makeXPlane(flat + "/steamapps/common/X-Plane 12");
  const Found f = runFindRoot(tmp / "bin/launcher");
  EXPECT_EQ(f.root, flat + "/steamapps/common/X-Plane 12/");
  EXPECT_EQ(f.probes.back(), "Steam library: " + f.root);
}

TEST(AddSteamRoot, SkipsMissingAndRepeatedRoots) {
  tl::TempDir tmp;
  const std::string a = tmp / "a";
  tl::writeFile(a + "/steamapps/libraryfolders.vdf", "\"path\" \"E:\\\\\\\\x\\y\"\n\"path\" \"" + a + "\"\n");
  std::vector<std::string> roots;
  lumo::addSteamRoot("", roots);
  lumo::addSteamRoot(tmp / "missing", roots);
  EXPECT_TRUE(roots.empty());
  lumo::addSteamRoot(a + "//", roots);
  lumo::addSteamRoot(a, roots);  // listed already: its file is not read again
  EXPECT_EQ(roots, (std::vector<std::string>{a, "E:/x/y"}));
}

TEST(CanonicalRoot, ResolvesLinksAndDots) {
  tl::TempDir tmp;
  fs::create_directories(tmp / "real/XP");
  fs::create_directory_symlink(tmp / "real", tmp / "link");
  const std::string real = fs::canonical(tmp.path()).string() + "/real/XP/";
  EXPECT_EQ(lumo::canonicalRoot(tmp / "link/XP"), real);
  EXPECT_EQ(lumo::canonicalRoot(tmp / "link/XP/../XP/./"), real);
  EXPECT_EQ(lumo::canonicalRoot(tmp / "link/not/there/.."), fs::canonical(tmp.path()).string() + "/real/not/");
  EXPECT_EQ(lumo::canonicalRoot(""), "");
}

// The folder picker, with stand-in programs on a search path of our own.
class Picker : public ::testing::Test {
 protected:
  void SetUp() override {
    bin = tmp / "bin";
    fs::create_directories(bin);
    env.set("PATH", bin);
    env.set("HOME", tmp / "home");
  }
  void tool(const std::string& name, const std::string& body) {
    const std::string path = bin + "/" + name;
    tl::writeFile(path, "#!/bin/sh\necho \"$@\" > \"" + tmp / name + ".args\"\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all);
  }
  tl::TempDir tmp;
  tl::EnvGuard env;
  std::string bin;
};

TEST_F(Picker, ZenityAnswers) {
  struct Case {
    const char* zenity;
    const char* want;
  } cases[] = {
      {"printf '/games/X-Plane 12\\n'; exit 0", "/games/X-Plane 12/"},
      {"printf 'C:\\\\XP \\r\\n\\n'", "C:/XP/"},
      {"printf '\\n'", ""},
      {"exit 1", ""},                 // cancelled
      {"kill -TERM $$", ""},          // ended by a signal
  };
  tool("kdialog", "echo /from/kdialog");
  for (const Case& c : cases) {
    tool("zenity", c.zenity);
    std::string error = "untouched";
    EXPECT_EQ(lumo::browseForRoot(&error), c.want) << c.zenity;
    EXPECT_EQ(error, "untouched") << c.zenity;
    EXPECT_FALSE(fs::exists(tmp / "kdialog.args")) << "kdialog must not run after zenity answered: " << c.zenity;
  }
  EXPECT_EQ(tl::readFile(tmp / "zenity.args"), "--file-selection --directory --title=Where is X-Plane 12?\n");
}

TEST_F(Picker, KdialogWhenZenityIsMissingThenTheMessage) {
  tool("kdialog", "echo /from/kdialog/");
  std::string error;
  EXPECT_EQ(lumo::browseForRoot(&error), "/from/kdialog/");
  EXPECT_EQ(error, "");
  EXPECT_EQ(tl::readFile(tmp / "kdialog.args"), "--getexistingdirectory " + tmp / "home" +
                                                    " --title Where is X-Plane 12?\n");
  fs::remove(bin + "/kdialog");
  EXPECT_EQ(lumo::browseForRoot(&error), "");
  EXPECT_EQ(error,
            "no folder picker on this system (install zenity or kdialog) - start the launcher with --root "
            "\"/path/to/X-Plane 12\" instead");
  EXPECT_EQ(lumo::browseForRoot(nullptr), "");
}

}  // namespace
