// The preview and the airport picture against the pass itself: real slices,
// maps and networks from the local server, the pass run for real beside.
#include "pass/preview.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "pass/picture.h"
#include "scenery/files.h"
#include "scenery/restore.h"
#include "scenery/shim.h"
#include "world.h"

namespace fs = std::filesystem;
using tlpass::Pack;
using tlpass::World;

namespace {

// Packs of several kinds in front of the global file: a publisher's own map
// and network (EDDF), a pack that needs a pick (KROC), a plain pack on the
// base map (LOWI); the global file with canonical networks claims the rest.
void buildWorld(World& w) {
  w.build({{"Foo Bar - Frankfurt", {"EDDF"}}, {"Twin - Rochester", {"KROC"}}, {"Plain Innsbruck", {"LOWI"}}},
          {"LZIB", "EDDF", "KROC", "LOWI", "NZAA", "EBSW"});
  w.serve({{"Foo Bar", "Foo Bar - Frankfurt"}});
  w.serveFile("publishers/KROC.json", R"({"publishers":["Alpha","Beta"]})");
  w.start();
}

struct Preview {
  lumo::PassResult result;
  std::vector<std::string> lines;
  std::map<std::string, int> runs, splits;   // per airport
  std::map<std::string, lumo::AirportPicture> pictures;
};

Preview preview(World& w, const lumo::Geometry& maps, const lumo::PackScan& scan) {
  Preview p;
  p.result = lumo::previewPass(
      w.root, w.plugin, maps, [&](const std::string& l) { p.lines.push_back(l); }, "127.0.0.1", w.server.port(),
      scan, [&](const lumo::BlockPreview& b) {
        p.runs[b.code] += static_cast<int>(b.runs.size());
        p.splits[b.code] += b.splits;
        p.pictures[b.code] = lumo::pictureOf(b, lumo::mapLabelOf(b.file, b.code, scan));
      });
  return p;
}

// The runs per airport in the pass's taken record.
std::map<std::string, int> recordedRuns(const World& w) {
  std::map<std::string, int> out;
  const auto j = nlohmann::json::parse(tl::readFile(w.plugin + "/tlm_taken.json"));
  for (const auto& a : j["airports"].items()) out[a.key()] = static_cast<int>(a.value().size());
  return out;
}

void expectSameFigures(const lumo::PassResult& a, const lumo::PassResult& b) {
  EXPECT_EQ(a.ok, b.ok);
  EXPECT_EQ(a.airports, b.airports);
  EXPECT_EQ(a.files, b.files);
  EXPECT_EQ(a.exclusions, b.exclusions);
  EXPECT_EQ(a.ownMapPacks, b.ownMapPacks);
  EXPECT_EQ(a.takenRuns, b.takenRuns);
  EXPECT_EQ(a.notSuppressed, b.notSuppressed);
}

}  // namespace

// The preview writes nothing, and a pass on the same folder then reports the
// same figures, logs the same lines and records the same runs per airport.
// Run again with the pass in force, the preview reads what the pass's
// restore would put back and still agrees.
TEST(Preview, AgreesWithThePassAndTouchesNothing) {
  World w;
  buildWorld(w);
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);

  const auto before = tl::listing(w.dir.path());
  const Preview p = preview(w, maps, scan);
  ASSERT_TRUE(p.result.ok) << p.result.error;
  EXPECT_EQ(tl::listing(w.dir.path()), before);
  EXPECT_GT(p.result.takenRuns, 0);
  EXPECT_EQ(p.result.notSuppressed, 1);  // KROC: needs a pick

  const tlpass::PassRun run = w.pass(maps, scan);
  ASSERT_TRUE(run.result.ok) << run.result.error;
  expectSameFigures(p.result, run.result);
  EXPECT_EQ(p.lines, run.lines);
  std::map<std::string, int> nonEmpty;
  for (const auto& r : p.runs)
    if (r.second > 0) nonEmpty[r.first] = r.second;
  EXPECT_EQ(nonEmpty, recordedRuns(w));
  int splits = 0;
  for (const auto& s : p.splits) splits += s.second;
  EXPECT_EQ(splits, run.result.exclusions);

  const auto inForce = tl::listing(w.dir.path());
  const Preview again = preview(w, maps, scan);
  EXPECT_EQ(tl::listing(w.dir.path()), inForce);
  expectSameFigures(again.result, run.result);
  EXPECT_EQ(again.lines, run.lines);
  EXPECT_EQ(again.runs, p.runs);
}

// Scenery as earlier passes, crashes and updates leave it: the preview
// reads what the restore before a pass would leave, and agrees with that
// restore followed by a pass - figures, lines and where it stops.
TEST(Preview, AgreesWithRestoreThenPassWhateverIsLeftBehind) {
  struct Case {
    const char* name;
    std::function<void(World&, const lumo::Geometry&, const lumo::PackScan&)> leave;
    bool passes;
  };
  const auto suppressed = [](World& w, const lumo::Geometry& maps, const lumo::PackScan& scan) {
    ASSERT_TRUE(w.pass(maps, scan).result.ok);
  };
  const std::vector<Case> cases = {
      {"a pass whose manifest is lost: its backups are orphans",
       [&](World& w, const lumo::Geometry& maps, const lumo::PackScan& scan) {
         suppressed(w, maps, scan);
         fs::remove(w.plugin + "/orvel_manifest.json");
       },
       true},
      {"a backup nobody recorded, beside the file",
       [](World& w, const lumo::Geometry&, const lumo::PackScan&) {
         const std::string f = w.packFile("Plain Innsbruck");
         tl::writeFile(f + ".taxilume-orig", tl::readFile(f));
       },
       true},
      {"an emptied file beside a backup nobody recorded",
       [](World& w, const lumo::Geometry&, const lumo::PackScan&) {
         const std::string f = w.packFile("Plain Innsbruck");
         tl::writeFile(f + ".taxilume-orig", tl::readFile(f));
         tl::writeFile(f, "");
       },
       true},
      {"a file changed since the pass cut it",
       [&](World& w, const lumo::Geometry& maps, const lumo::PackScan& scan) {
         suppressed(w, maps, scan);
         const std::string f = w.packFile("Plain Innsbruck");
         tl::writeFile(f, tl::readFile(f) + "\n");
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World w;
    buildWorld(w);
    const lumo::Geometry maps = w.maps();
    c.leave(w, maps, w.scan(maps));
    const lumo::PackScan scan = w.scan(maps);

    const auto before = tl::listing(w.dir.path());
    const Preview p = preview(w, maps, scan);
    EXPECT_EQ(tl::listing(w.dir.path()), before);

    (void)lumo::restoreAll(w.plugin, {}, w.root);  // some of these states cannot be fully restored; the pass below says how it goes on
    const tlpass::PassRun run = w.pass(maps, scan);
    EXPECT_EQ(run.result.ok, c.passes) << run.result.error;
    expectSameFigures(p.result, run.result);
    EXPECT_EQ(p.result.error, run.result.error.substr(0, p.result.error.size()));
    EXPECT_EQ(p.lines, run.lines);
  }
}

// Run under the preloaded shim armed to fail every open for writing under
// the X-Plane folder: the preview never tries one.
TEST(Preview, OpensNothingForWriting) {
  TLSHIM_RERUN();
  World w;
  buildWorld(w);
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);
  tlshim::arm("open", w.root.c_str(), EACCES, 0, 1000000);
  const Preview p = preview(w, maps, scan);
  const int left = tlshim::left();
  // The armed shim does catch a write there.
  EXPECT_FALSE(lumo::writeFileOver(w.root + "probe", "x"));
  EXPECT_LT(tlshim::left(), 1000000);
  tlshim::disarm();
  EXPECT_TRUE(p.result.ok) << p.result.error;
  EXPECT_EQ(left, 1000000) << "the preview opened a file for writing";
}

// The picture of a real airport is a well-formed SVG document (read by an
// XML parser of its own) with one red run for every run the pass records.
TEST(Picture, HoldsTheRunsThePassRecords) {
  World w;
  buildWorld(w);
  const lumo::Geometry maps = w.maps();
  const lumo::PackScan scan = w.scan(maps);
  const Preview p = preview(w, maps, scan);
  ASSERT_TRUE(w.pass(maps, scan).result.ok);
  const auto recorded = recordedRuns(w);

  for (const char* code : {"EDDF", "LOWI", "LZIB"}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(p.pictures.count(code));
    const lumo::AirportPicture& pic = p.pictures.at(code);
    const std::string svg = w.dir / (std::string(code) + ".svg");
    tl::writeFile(svg, lumo::pictureSvg(pic));
    tl::writeFile(tl::buildDir() + "/picture-" + code + ".svg", lumo::pictureSvg(pic));  // to look at
    const std::string cmd =
        "python3 -c \"import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); "
        "ns = '{http://www.w3.org/2000/svg}'; "
        "print(sum(1 for e in r.iter(ns + 'polyline') if e.get('class') == 'taken'), "
        "sum(1 for e in r.iter(ns + 'polyline') if e.get('class') == 'kept'), r.find(ns + 'title').text)\" '" +
        svg + "'";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[256] = {};
    const bool got = std::fgets(buf, sizeof buf, f) != nullptr;
    EXPECT_EQ(pclose(f), 0) << "not well-formed XML: " << svg;
    ASSERT_TRUE(got);
    int red = -1, kept = -1;
    char title[128] = {};
    ASSERT_EQ(std::sscanf(buf, "%d %d %127[^\n]", &red, &kept, title), 3) << buf;
    EXPECT_EQ(red, recorded.count(code) ? recorded.at(code) : 0);
    EXPECT_GT(red, 0);
    EXPECT_EQ(kept, static_cast<int>(pic.kept.size()));
    EXPECT_EQ(std::string(title), std::string(code) + " - " + (std::string(code) == "EDDF" ? "Foo Bar's map" : "base map"));
  }
}

// Scenery text is made printable: a code with markup and stray bytes keeps
// the document well formed.
TEST(Picture, OddTextStaysWellFormed) {
  lumo::AirportPicture pic;
  pic.code = "<&\"\xff>";
  pic.file = "/x/\x01y";
  pic.mapLabel = "base map";
  pic.taken.push_back({101, {{50, 8}, {50.001, 8.001}}, false});
  const std::string svg = lumo::pictureSvg(pic);
  EXPECT_NE(svg.find("<title>&lt;&amp;&quot;?&gt; - base map</title>"), std::string::npos) << svg;
  EXPECT_EQ(svg.find('\xff'), std::string::npos);
}
