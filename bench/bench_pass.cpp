// A whole suppression pass over the world airport file (106 MB) with the 200
// most-lit airports published by the local server: the time of each phase
// beside a plain copy of the same file with fsync, and the number of
// requests. The world file is found or made as bench/world.h says (--world
// FILE to name one); the first line printed says which it is.
//
// The pass runs twice as "Update & Suppress" would (restore, scan, pass):
// the first round on pristine scenery, the second one restoring the first.
// Then the pass's own steps are run one by one on the same folder to split
// its time into network, backup copy, rewrite and record. The preview of a
// pass is timed beside the rounds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "bench/world.h"
#include "engine/aptfile.h"
#include "engine/blocks.h"
#include "engine/scope.h"
#include "engine/taken.h"
#include "packs/scan.h"
#include "pass/choice.h"
#include "pass/pass.h"
#include "pass/preview.h"
#include "scenery/files.h"
#include "scenery/manifest.h"
#include "scenery/restore.h"
#include "server/api.h"
#include "tools/devserver/devserver.h"
#include "tools/geomkit/geomkit.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A plain copy with fsync, the floor any crash-safe rewrite of the file
// stands on.
bool plainCopy(const std::string& src, const std::string& dst) {
  std::ifstream in(src, std::ios::binary);
  std::ofstream out(dst, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.close();
  if (!out) return false;
  const int fd = ::open(dst.c_str(), O_RDWR);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// The blocks of `codes` cut from the world file, for the server's builder.
bool sliceOf(const std::string& world, const std::set<std::string>& codes, const std::string& out) {
  std::ifstream in(world, std::ios::binary);
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o << "I\n1000 Version - slice for the pass benchmark\n\n";
  const bool ok = orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
    if (codes.count(code))
      for (const auto& r : rows) o << r << "\n";
    return true;
  });
  o << "99\n";
  return ok && static_cast<bool>(o);
}

struct Round {
  double restore = 0, scan = 0, pass = 0;
  int requests = 0;
  lumo::PassResult result;
};

Round updateAndSuppress(const std::string& root, const std::string& plugin, const lumo::Geometry& maps,
                        devserver::Server& server) {
  Round r;
  server.resetCounts();
  auto t = Clock::now();
  (void)lumo::restoreAll(plugin, {}, root);  // timed only; the pass below checks the scenery
  r.restore = since(t);
  t = Clock::now();
  const lumo::PackScan scan = lumo::scanPacks(root, plugin, maps, "127.0.0.1", server.port(), {});
  r.scan = since(t);
  t = Clock::now();
  r.result = lumo::applyPass(root, plugin, maps, {}, true, "127.0.0.1", server.port(), scan);
  r.pass = since(t);
  r.requests = server.requests();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tl-bench-pass-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::printf("bench_pass: cannot make a temporary folder\n");
    return 1;
  }
  const std::string base = tmpl;
  const std::string root = base + "/X-Plane 12/";
  const std::string plugin = root + "Resources/plugins/Taxilume";
  const std::string global = root + "Global Scenery/Global Airports/Earth nav data/apt.dat";
  const std::string served = base + "/served";
  fs::create_directories(fs::path(global).parent_path());
  fs::create_directories(plugin);
  fs::create_directories(root + "Custom Scenery");
  std::ofstream(root + "Custom Scenery/scenery_packs.ini") << "I\n1000 Version\nSCENERY\n\nSCENERY_PACK *GLOBAL_AIRPORTS*\n";

  int rc = 0;
  auto t = Clock::now();
  const bench::World world = bench::prepareWorld(argc, argv, fs::path(global).parent_path().string());
  if (world.ok) {
    std::printf("bench_pass: %s\n", world.source.c_str());
  } else {
    std::printf("bench_pass: %s\n", world.error.c_str());
    rc = 1;
  }
  const double tUnzip = since(t);
  const auto size = rc == 0 ? fs::file_size(global) : 0;

  // The 200 most-lit airports, published with base maps and networks.
  std::vector<std::pair<std::string, long>> ranked;
  std::string err;
  t = Clock::now();
  if (rc == 0 && !geomkit::rankByLit(global, ranked, err, 200)) {
    std::printf("bench_pass: %s\n", err.c_str());
    rc = 1;
  }
  std::set<std::string> top;
  for (const auto& r : ranked) top.insert(r.first);
  devserver::BuildOptions o;
  o.aptDat = base + "/top200.dat";
  o.rev = "bench1";
  int published = 0;
  if (rc == 0 && (!sliceOf(global, top, o.aptDat) || !devserver::buildFolder(o, served, published, err))) {
    std::printf("bench_pass: could not build the served folder: %s\n", err.c_str());
    rc = 1;
  }
  const double tSetup = since(t);

  devserver::Server server;
  lumo::Geometry maps;
  if (rc == 0 && !server.start(served, 0, err)) {
    std::printf("bench_pass: %s\n", err.c_str());
    rc = 1;
  }
  // The maps as the launcher would fetch them; should the transport refuse
  // the document, the pass is still measured on the document read from disk.
  bool notModified = false;
  double tFetch = 0;
  if (rc == 0) {
    t = Clock::now();
    const bool fetched = lumo::fetchGeometry("127.0.0.1", server.port(), maps, err, "", notModified);
    tFetch = since(t);
    const auto docSize = fs::file_size(served + "/geometry.json");
    std::printf("maps document %.1f MB: fetched in %.0f ms%s%s\n", docSize / 1e6, tFetch,
                fetched ? "" : " - FAILED: ", fetched ? "" : err.c_str());
    if (!fetched) {
      std::ifstream in(served + "/geometry.json", std::ios::binary);
      const auto doc = nlohmann::json::parse(in, nullptr, false);
      if (!lumo::parseGeometry(doc, maps)) {
        std::printf("bench_pass: the served maps do not read\n");
        rc = 1;
      }
    }
  }

  if (rc == 0) {
    std::printf("bench_pass: world file %.1f MB (ready in %.0f ms), %zu airports ranked, %d published, "
                "%d bars (set-up %.0f ms)\n",
                size / 1e6, tUnzip, ranked.size(), published, maps.barCount, tSetup);

    // The floor: the same file copied plainly with fsync, twice (the pass
    // writes it twice: the backup and the rewrite).
    double copyMs[2];
    for (double& c : copyMs) {
      t = Clock::now();
      if (!plainCopy(global, base + "/plain-copy")) std::printf("bench_pass: plain copy failed\n");
      c = since(t);
      fs::remove(base + "/plain-copy");
    }

    const Round first = updateAndSuppress(root, plugin, maps, server);
    const Round second = updateAndSuppress(root, plugin, maps, server);
    for (const Round* r : {&first, &second}) {
      std::printf("%s round: restore %.0f ms, scan %.0f ms, pass %.0f ms; %s, %d airport(s), %d file(s), "
                  "%d exclusion(s), %d taken run(s); %d request(s)\n",
                  r == &first ? "first " : "second", r->restore, r->scan, r->pass,
                  r->result.ok ? "ok" : r->result.error.c_str(), r->result.airports, r->result.files,
                  r->result.exclusions, r->result.takenRuns, r->requests);
      if (!r->result.ok) rc = 1;
    }

    // The preview on the scenery the second round left suppressed: it reads
    // the backup the next round would restore, and writes nothing.
    t = Clock::now();
    const lumo::PackScan pvScan = lumo::scanPacks(root, plugin, maps, "127.0.0.1", server.port(), {});
    const lumo::PassResult pv = lumo::previewPass(root, plugin, maps, {}, "127.0.0.1", server.port(), pvScan);
    const double tPreview = since(t);
    std::printf("preview  : scan and preview %.0f ms (a round: restore + scan + pass %.0f ms); %s, %d airport(s), "
                "%d exclusion(s), %d taken run(s)%s\n",
                tPreview, second.restore + second.scan + second.pass, pv.ok ? "ok" : pv.error.c_str(), pv.airports,
                pv.exclusions, pv.takenRuns,
                pv.airports == second.result.airports && pv.exclusions == second.result.exclusions &&
                        pv.takenRuns == second.result.takenRuns
                    ? " - the pass's figures"
                    : " - NOT the pass's figures");

    // The pass's steps one by one, on pristine scenery again.
    t = Clock::now();
    (void)lumo::restoreAll(plugin, {}, root);  // timed only
    const double tRestore = since(t);
    server.resetCounts();
    t = Clock::now();
    lumo::PassShared shared;
    shared.host = "127.0.0.1";
    shared.port = server.port();
    if (!lumo::fetchOrvelAirports(shared.host, shared.port, shared.orvelAirports, shared.orvelPairs, err))
      std::fprintf(stderr, "orvel airports: %s\n", err.c_str());
    lumo::FileChoice choice;
    const lumo::PackIndex none;
    std::set<std::string> pending;
    for (const auto& a : maps.airports) pending.insert(a.first);
    for (const auto& code : pending) lumo::chooseAirport(global, "", code, maps, none, shared, choice, {});
    const double tNetwork = since(t);
    const int netRequests = server.requests();

    t = Clock::now();
    const bool backed = orvel::copyFile(global, global + ".taxilume-orig");
    const double tBackup = since(t);

    // With the backup in place the rewrite makes no second copy.
    std::vector<std::string> touched;
    orveldb::TakenMap taken;
    t = Clock::now();
    const orvel::OpResult rw =
        orveldb::suppressAll(global, choice.scopes, orvel::SuppressScope{}, touched, &taken, plugin);
    const double tRewrite = since(t);

    t = Clock::now();
    const bool recorded =
        orveldb::recordPass(plugin, global, touched, lumo::passSignature(maps.rev, shared.hash), "launcher", true);
    const nlohmann::json m = orvel::loadManifest(plugin);
    int64_t sz = 0, mt = 0;
    orvel::fileStat(global, sz, mt);
    const bool taken1 = lumo::writeTaken(plugin, maps.rev, taken);
    const double tRecord = since(t);
    (void)lumo::restoreAll(plugin, {}, root);  // puts the scenery back for the next round

    std::printf("phases: restore %.0f ms | network %.0f ms (%d request(s)) | backup copy %.0f ms%s | "
                "rewrite %.0f ms (%s) | record %.0f ms (%zu manifest row(s)%s)\n",
                tRestore, tNetwork, netRequests, tBackup, backed ? "" : " FAILED", tRewrite,
                rw.message.c_str(), tRecord, m.size(), taken1 && recorded ? "" : ", record FAILED");
    std::printf("plain copy with fsync of the same file: %.0f ms and %.0f ms\n", copyMs[0], copyMs[1]);
  }

  server.stop();
  std::error_code ec;
  fs::remove_all(base, ec);
  return rc;
}
