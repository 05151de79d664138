// The window's display-free decisions: plugin update offer, button enabling,
// log colours, the restart arguments, and the window's size rules.
#include "app/winrules.h"

#include <gtest/gtest.h>

#include "server/api.h"

namespace {

TEST(PluginUpdate, ComparesTheFirstThreeNumbersOfEachVersion) {
  struct Case {
    bool latestKnown;
    const char* installed;
    const char* latest;
    bool update;
  } cases[] = {
      {true, "1.2", "1.2.0", false},        // padding with zeros
      {true, "1.10", "1.9", false},         // numbers, not text
      {true, "1.9", "1.10", true},
      {true, "1.2.3.9", "1.2.4", true},     // a fourth number is ignored
      {true, "1.2.4.9", "1.2.4", false},
      {true, "v1-2", "1.2.0", false},       // any non-digit separates
      {true, "v1-2", "1.2.1", true},
      {true, "2.0", "10.0", true},
      {true, "", "1.0.0", true},            // unknown installed version: always offered
      {true, "", "", true},
      {false, "", "9.9.9", false},          // nothing known: nothing offered
      {false, "1.0", "2.0", false},
      {true, "1.0.0", "99999999999999999999999", true},  // overflowing run reads as the largest value
  };
  for (const Case& c : cases)
    EXPECT_EQ(lumo::pluginUpdateAvailable(c.latestKnown, c.installed, c.latest), c.update)
        << c.installed << " vs " << c.latest << " known=" << c.latestKnown;
}

TEST(ButtonStates, FollowWhatTheSceneryAndTheSimAllow) {
  using lumo::ButtonInputs;
  struct Case {
    const char* what;
    ButtonInputs in;
    bool launch, suppress, restore, plugin, other;
  } cases[] = {
      {"all ready", {false, false, true, true, true, true}, true, true, true, true, true},
      {"no root: launch off, suppress on", {false, false, false, true, false, true}, false, true, false, true, true},
      {"plugin missing: no launch", {false, false, true, false, false, true}, false, true, false, true, true},
      {"nothing suppressed: no restore", {false, false, true, true, false, true}, true, true, false, true, true},
      {"sim running locks scenery", {false, true, true, true, true, true}, false, false, false, false, true},
      {"a job runs: all off", {true, false, true, true, true, true}, false, false, false, false, false},
      {"release unknown: no plugin button", {false, false, true, true, false, false}, true, true, false, false, true},
  };
  for (const Case& c : cases) {
    const lumo::ButtonStates s = lumo::buttonStates(c.in);
    EXPECT_EQ(s.launch, c.launch) << c.what;
    EXPECT_EQ(s.suppress, c.suppress) << c.what;
    EXPECT_EQ(s.restore, c.restore) << c.what;
    EXPECT_EQ(s.plugin, c.plugin) << c.what;
    EXPECT_EQ(s.other, c.other) << c.what;
  }
}

TEST(OlderMap, NetworkSignedPassesOfTheCurrentRevisionAreCurrent) {
  struct Case {
    bool suppressed, loaded;
    const char* rev;
    const char* sig;
    bool older;
  };
  const Case cases[] = {
      {true, true, "r7", "r7", false},
      {true, true, "r7", "r7+0123456789ab", false},
      {true, true, "r7", "r6", true},
      {true, true, "r7", "r6+0123456789ab", true},
      {true, true, "r7", "r70", true},  // a longer revision is another revision
      {true, true, "", "r6", false},
      {true, false, "r7", "r6", false},
      {false, true, "r7", "r6", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(lumo::passFromOlderMap(c.suppressed, c.loaded, c.rev, c.sig), c.older) << c.rev << " vs " << c.sig;
}

TEST(LogTone, OnlyTheFirstCharacterCounts) {
  using lumo::LogTone;
  const std::pair<const char*, LogTone> cases[] = {
      {"!! no answer from 127.0.0.1", LogTone::error},
      {"!", LogTone::error},
      {"   (nothing was suppressed)", LogTone::detail},
      {" x", LogTone::detail},
      {"", LogTone::normal},
      {"X-Plane: /x/", LogTone::normal},
      {"\t!! tab first", LogTone::normal},
      {"a !! later", LogTone::normal},
  };
  for (const auto& [line, tone] : cases) EXPECT_EQ(lumo::logTone(line), tone) << '"' << line << '"';
}

TEST(RestartArgs, PassTheHostOnlyWhenItIsNotTheDefault) {
  EXPECT_EQ(lumo::restartArgs("/opt/tl/launcher", lumo::kDefaultHost, 8443),
            (std::vector<std::string>{"/opt/tl/launcher"}));
  EXPECT_EQ(lumo::restartArgs("/opt/tl/launcher", "127.0.0.1", 8080),
            (std::vector<std::string>{"/opt/tl/launcher", "--host", "127.0.0.1:8080"}));
}

TEST(WindowSize, StartsAtTheWorkAreaHeightWithinLimits) {
  const struct {
    bool monitor;
    int work, height;
  } cases[] = {
      {true, 800, 800}, {true, 1440, 1093}, {true, 1093, 1093}, {true, 300, 1093},
      {true, 320, 1093}, {true, 321, 321}, {false, 800, 1093},
  };
  for (const auto& c : cases) EXPECT_EQ(lumo::windowHeight(c.monitor, c.work), c.height) << c.work;
}

TEST(WindowSize, GrowsOnRequestUpToTheWorkAreaAndNeverShrinks) {
  const struct {
    int request, current, work, result;  // result 0: left as it is
  } cases[] = {
      {1000, 800, 900, 900},   // capped at the work area
      {1000, 800, 0, 1000},    // no work area known: no cap
      {850, 800, 900, 850},
      {1000, 1000, 1200, 0},   // not taller
      {900, 1000, 1200, 0},
      {0, 800, 900, 0},        // no request
      {1000, 950, 900, 0},     // the cap would shrink it: left alone
  };
  for (const auto& c : cases)
    EXPECT_EQ(lumo::grownHeight(c.request, c.current, c.work), c.result) << c.request << "/" << c.current;
}

}  // namespace

namespace {

// One pixel per byte: easy to reason about, and a multi-byte character is
// wider than one, as in the window.
float bytesWide(const char* b, const char* e) { return float(e - b); }

TEST(LongText, APathTooWideLosesItsMiddleNeverHalfACharacter) {
  const std::string path = "/home/pat/.var/app/com.valvesoftware.Steam/data/Steam/steamapps/common/X-Plane 12/";
  EXPECT_EQ(lumo::middleEllipsis(path, 200, bytesWide), path);  // fits: unchanged
  const std::string cut = lumo::middleEllipsis(path, 40, bytesWide);
  EXPECT_EQ(cut, "/home/pat/.var/app/...common/X-Plane 12/");
  EXPECT_LE(cut.size(), 40u);
  // "ü" is two bytes: a cut through the middle of it would leave a broken character.
  const std::string name = "/Scenery/\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC/end";
  for (float w = 3; w < float(name.size()); ++w) {
    const std::string s = lumo::middleEllipsis(name, w, bytesWide);
    EXPECT_LE(float(s.size()), w);
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\xC3') {
        EXPECT_TRUE(i + 1 < s.size() && s[i + 1] == '\xBC') << s;
      }
      if (s[i] == '\xBC') {
        EXPECT_TRUE(i > 0 && s[i - 1] == '\xC3') << s;
      }
    }
  }
  EXPECT_EQ(lumo::middleEllipsis(name, 1, bytesWide), "...");  // nothing fits: the ellipsis alone
}

std::vector<std::string> wrapped(const std::string& line, float w) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t cut : lumo::wrapPoints(line, w, bytesWide)) {
    out.push_back(line.substr(start, cut - start));
    start = cut;
  }
  out.push_back(line.substr(start));
  return out;
}

TEST(LongText, LogLinesBreakAtBlanksAndSlashesNotInsideNames) {
  using V = std::vector<std::string>;
  EXPECT_EQ(wrapped("   restored  /x/Custom Scenery/Alpha/apt.dat", 100), V{"   restored  /x/Custom Scenery/Alpha/apt.dat"});
  EXPECT_EQ(wrapped("   restored  /x/Custom Scenery/Alpha/apt.dat", 24),
            (V{"   restored  /x/Custom ", "Scenery/Alpha/apt.dat"}));
  EXPECT_EQ(wrapped("/aaaa/bbbbbbb/cc", 8), (V{"/aaaa/", "bbbbbbb/", "cc"}));
  // A name wider than a whole line is cut between characters.
  EXPECT_EQ(wrapped("x abcdefghij", 4), (V{"x ", "abcd", "efgh", "ij"}));
  EXPECT_EQ(wrapped("", 4), V{""});
}

}  // namespace
