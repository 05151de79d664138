#include "app/check.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "app/state.h"
#include "app_fixture.h"
#include "tools/devserver/devserver.h"
#include "support/tmpdir.h"

namespace {

// A maps document small enough to read at a glance: `airports` airports with
// one two-point bar each.
std::string mapsDoc(const std::string& rev, int airports) {
  std::string doc = "{\"rev\":\"" + rev + "\",\"airports\":{";
  for (int i = 0; i < airports; ++i) {
    if (i) doc += ",";
    doc += "\"KX" + std::to_string(i) + "\":{\"bars\":[[[43.1,-77.6],[43.1,-77.61]]]}";
  }
  return doc + "}}";
}

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tl::resetApp();
    std::string err;
    tl::writeFile(dir / "srv/.keep", "");
    ASSERT_TRUE(server.start(dir.path() + "/srv", 0, err)) << err;
    port = server.port();
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.host = "127.0.0.1";
    g_app.port = port;
  }
  void TearDown() override { tl::resetApp(); }

  void serve(const std::string& doc) { tl::writeFile(dir / "srv/geometry.json", doc); }

  // Runs the check and returns the lines it appended.
  std::vector<std::string> check(void (*action)() = actionCheck) {
    {
      std::lock_guard<std::mutex> lock(g_app.mtx);
      g_app.log.clear();
    }
    action();
    return tl::logLines();
  }

  tl::TempDir dir;
  devserver::Server server;
  int port = 0;
};

TEST_F(CheckTest, MapsLinesForCurrentUnchangedAndDownServer) {
  const std::string up = "!! launcher update: no answer from 127.0.0.1";  // no launcher published
  const std::string oneAirport = "Database: 1 airport(s), 1 bar(s), 0 add-on map(s)  [rev r2]";

  serve(mapsDoc("r2", 1));
  EXPECT_EQ(check(), (std::vector<std::string>{oneAirport, up}));
  EXPECT_TRUE(g_app.mapsLoaded);

  // Same revision on the server, other content: it answers 304 and the maps
  // in hand, with their counts, stay.
  serve(mapsDoc("r2", 3));
  server.resetCounts();
  EXPECT_EQ(check(), (std::vector<std::string>{oneAirport, up}));
  ASSERT_FALSE(server.log().empty());
  EXPECT_EQ(server.log()[0], "/api/suppress/geometry?rev=r2");

  serve(mapsDoc("r3", 3));
  EXPECT_EQ(check()[0], "Database: 3 airport(s), 3 bar(s), 0 add-on map(s)  [rev r3]");

  // Down: the error, the maps kept but not counted as loaded.
  server.stop();
  EXPECT_EQ(check(), (std::vector<std::string>{"!! no answer from 127.0.0.1", up}));
  EXPECT_FALSE(g_app.mapsLoaded);
  EXPECT_EQ(g_app.maps.airports.size(), 3u);
  EXPECT_EQ(g_app.maps.rev, "r3");
}

TEST_F(CheckTest, StartupWithoutServerExplainsEachFailure) {
  server.stop();
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = dir.path() + "/X-Plane 12/";
    g_app.pluginDir = g_app.root + "Resources/plugins/Taxilume";
  }
  EXPECT_EQ(check(actionStartup),
            (std::vector<std::string>{
                "!! no answer from 127.0.0.1", "!! launcher update: no answer from 127.0.0.1",
                "!! no published maps - scenery packs not matched. Press Update & Suppress to try again."}));

  // Without an X-Plane folder the rescan has nothing to say.
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root.clear();
    g_app.pluginDir.clear();
  }
  EXPECT_EQ(check(actionRescan), std::vector<std::string>{});
}

// Server text with line breaks and escapes lands inside the launcher's own
// lines: no line of the log starts with what the server wrote, and the
// window's texts are printable.
TEST_F(CheckTest, ServerTextCannotForgeLogLines) {
  const std::string forged = R"(\n!! forged line\r\u001b[31m)";
  serve(mapsDoc("r1" + forged, 1));
  tl::writeFile(dir / "srv/releases/xplane.json",
                R"({"version":"2.0.1\n!! Installed Taxilume 2.0.1.","url":"/files/p.zip","notes":"a\nb"})");
  tl::writeFile(dir / "srv/releases/xplane-launcher-lin.json",
                R"({"version":"9.9.9\n!! forged line","url":"/xplane-launcher-lin\n!! forged line"})");
  const std::vector<std::string> lines = check();
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Database: 1 airport(s), 1 bar(s), 0 add-on map(s)  [rev r1?!! forged line??[31m]",
                       "!! launcher update: the published launcher version is not a plain version text"}));
  std::lock_guard<std::mutex> lock(g_app.mtx);
  EXPECT_EQ(g_app.latest.version, "2.0.1?!! Installed Taxilume 2.0.1.");
  EXPECT_EQ(g_app.latest.notes, "a?b");
  EXPECT_EQ(g_app.maps.rev, "r1\n!! forged line\r\x1b[31m") << "kept as published, for the next request";
  g_app.sayLocked("!! quoting: " + std::string(5000, 'x') + "\n!! forged line");
  EXPECT_EQ(g_app.log.back().size(), kLogLineMax + 3) << "capped, with \"...\"";
  for (const std::string& line : g_app.log) {
    EXPECT_EQ(line.find_first_of("\n\r\x1b"), std::string::npos) << line;
    EXPECT_NE(line.rfind("!! forged", 0), 0u) << line;
  }
}

TEST_F(CheckTest, ReleaseIsKeptWhenTheServerStopsAnswering) {
  serve(mapsDoc("r1", 1));
  tl::writeFile(dir / "srv/releases/xplane.json", R"({"version":"1.4.2","url":"/files/p.zip","notes":"n"})");
  actionCheck();
  ASSERT_TRUE(g_app.latestKnown);
  EXPECT_EQ(g_app.latest.version, "1.4.2");

  server.stop();
  actionCheck();
  EXPECT_TRUE(g_app.latestKnown);
  EXPECT_EQ(g_app.latest.version, "1.4.2");
}

TEST_F(CheckTest, RefreshReadsThePluginFolder) {
  const std::string root = dir.path() + "/X-Plane 12/";
  const std::string plugin = root + "Resources/plugins/Taxilume";
  {
    std::lock_guard<std::mutex> lock(g_app.mtx);
    g_app.root = root;
    g_app.pluginDir = plugin;
  }
  refreshLocal(true);
  EXPECT_FALSE(g_app.pluginInstalled);
  EXPECT_EQ(g_app.pluginVersion, "");
  EXPECT_FALSE(g_app.suppressed);

  tl::writeFile(plugin + "/lin_x64/Taxilume.xpl", "x");
  const std::vector<std::pair<std::string, std::string>> versions = {
      {"1.4.2\r\n", "1.4.2"}, {"1.4.2", "1.4.2"}, {"2.0  \nnext line", "2.0"}, {"\n1.0", ""}, {"", ""}};
  for (const auto& [text, version] : versions) {
    tl::writeFile(plugin + "/version.txt", text);
    refreshLocal(false);
    EXPECT_TRUE(g_app.pluginInstalled);
    EXPECT_EQ(g_app.pluginVersion, version) << text;
  }
}

}  // namespace
