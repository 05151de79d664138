// "Update & Suppress", a second one over it, and "Restore originals" at two
// sizes, run as a user runs them (the command-line launcher in a child
// process against the local server), each beside a plain copy with fsync of
// the files the pass touches, measured in the same run; then the same
// against a server that holds every answer back by 50 ms, with the
// start-up check; and the taken record's writing beside the JSON value
// route it replaced.
//
//   world: the real world airport file (106 MB), its 200 most-lit airports
//          with a map published, with networks.
//   scale: a global file of four copies of the world file (codes renamed in
//          three) and two more of its airports with stop bars, 2,100 of
//          those published (most lit first, across the six copies),
//          one in four with a network, and 300 add-on packs, each with one of
//          those airports.
//
// Peak memory is the launcher's own (wait4), beside the size of the files.
// TL_BENCH_CLI=/path/to/an/older/taxilume-cli measures that build instead.
// Runs on the world file bench/world.h finds or makes up, and says which.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/world.h"
#include "engine/blocks.h"
#include "engine/geo.h"
#include "engine/taken.h"
#include "scenery/files.h"
#include "tools/devserver/devserver.h"
#include "tools/geomkit/geomkit.h"

namespace fs = std::filesystem;

#ifndef TL_CLI
#define TL_CLI ""
#endif

namespace {

using Clock = std::chrono::steady_clock;

double secsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

bool plainCopy(const std::string& src, const std::string& dst) {
  int in = ::open(src.c_str(), O_RDONLY);
  int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) {
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    return false;
  }
  std::vector<char> buf(1 << 20);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    for (ssize_t w = 0; w < n;) {
      const ssize_t k = ::write(out, buf.data() + w, static_cast<size_t>(n - w));
      if (k <= 0) {
        ok = false;
        break;
      }
      w += k;
    }
  }
  ok = ::fsync(out) == 0 && ok;
  ::close(in);
  ::close(out);
  return ok;
}

// The touched files copied plainly with fsync, best of two.
double copyFloor(const std::vector<std::string>& files, const std::string& scratch) {
  double best = 1e9;
  for (int rep = 0; rep < 2; ++rep) {
    const auto t0 = Clock::now();
    for (std::size_t i = 0; i < files.size(); ++i) plainCopy(files[i], scratch + "/copy" + std::to_string(i));
    best = std::min(best, secsSince(t0));
    for (std::size_t i = 0; i < files.size(); ++i) ::unlink((scratch + "/copy" + std::to_string(i)).c_str());
  }
  return best;
}

struct Run {
  bool ok = false;
  double secs = 0;
  double peakMb = 0;
};

// The measuring middle of cli(): started as "bench_scale --measure PROGRAM
// ARGS...", a fresh small process that runs PROGRAM, waits for it and
// prints its exit status and peak memory in KB. A child forked straight
// from the benchmark would count the benchmark's own memory (the fork's
// copy is charged to it until its exec) as its peak.
int measureMode(char** argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return 1;
  std::printf("%d %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128, ru.ru_maxrss);
  return 0;
}

// The launcher under test: this build's, or another one named by
// TL_BENCH_CLI (an older build, to measure before and after in one way).
const char* cliPath() {
  const char* other = std::getenv("TL_BENCH_CLI");
  return other && *other ? other : TL_CLI;
}

// taxilume-cli COMMAND with its own HOME and TMPDIR.
Run cli(const std::string& home, const std::string& root, int port, const char* command) {
  Run r;
  const auto t0 = Clock::now();
  int fds[2];
  if (pipe(fds) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("TMPDIR", (home + "/tmp").c_str(), 1);
    dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    const std::string host = "127.0.0.1:" + std::to_string(port);
    execl("/proc/self/exe", "bench_scale", "--measure", cliPath(), "--host", host.c_str(), "--root", root.c_str(),
          command, static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(fds[1]);
  char buf[64] = {0};
  const ssize_t got = ::read(fds[0], buf, sizeof buf - 1);
  ::close(fds[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  int code = 1;
  long kb = 0;
  if (got > 0 && std::sscanf(buf, "%d %ld", &code, &kb) == 2) {
    r.ok = code == 0;
    r.peakMb = kb / 1024.0;
  }
  r.secs = secsSince(t0);
  return r;
}

// A row's code: its first blank-separated word.
std::string rowCodeOf(const std::string& line) {
  const std::vector<std::string> t = orvel::tok(line);
  return t.empty() ? std::string() : t[0];
}

// Writes `src`'s airport blocks to `out` with every code renamed to code +
// suffix (header token 4 and the 1302 icao_code row), rows before the first
// block and the closing 99 left out.
bool renamedCopy(const std::string& src, const std::string& suffix, std::ofstream& out) {
  std::ifstream in(src, std::ios::binary);
  std::string line;
  bool inBlocks = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string code = rowCodeOf(line);
    if (code == "1" || code == "16" || code == "17") {
      inBlocks = true;
      std::vector<std::string> t = orvel::tok(line);
      if (t.size() >= 5) {
        t[4] += suffix;
        line.clear();
        for (std::size_t i = 0; i < t.size(); ++i) line += (i ? " " : "") + t[i];
      }
    } else if (code == "99") {
      continue;
    } else if (code == "1302") {
      std::vector<std::string> t = orvel::tok(line);
      if (t.size() >= 3 && t[1] == "icao_code") line = "1302 icao_code " + t[2] + suffix;
    }
    if (inBlocks) out << line << '\n';
  }
  return !in.bad();
}

// The blocks of `codes` from `world`, as an apt.dat of their own.
bool sliceOf(const std::string& world, const std::set<std::string>& codes, const std::string& out) {
  std::ifstream in(world, std::ios::binary);
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o << "I\n1000 Version - slice for the scale benchmark\n\n";
  const bool ok = orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
    if (codes.count(code))
      for (const auto& r : rows) o << r << "\n";
    return true;
  });
  o << "99\n";
  return ok && static_cast<bool>(o);
}

// Keeps every `keep`-th canonical network in the served ORVEL list.
void thinNetworks(const std::string& served, int keep) {
  const std::string path = served + "/orvel/airports.json";
  std::ifstream in(path);
  nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  if (!doc.is_object()) return;
  nlohmann::json kept = nlohmann::json::array();
  int i = 0;
  for (const auto& e : doc["airports"])
    if (i++ % keep == 0) kept.push_back(e);
  doc["airports"] = kept;
  std::ofstream(path, std::ios::trunc) << doc.dump();
}

struct Scenario {
  std::string name, base, root, home, plugin, served;
  std::vector<std::string> touched;  // the apt.dat files a pass rewrites
  long bytes = 0;
  int published = 0;
};

bool prepare(Scenario& s, const std::string& base) {
  s.base = base;
  s.root = base + "/X-Plane 12/";
  s.home = base + "/home";
  s.plugin = s.root + "Resources/plugins/Taxilume";
  s.served = base + "/served";
  fs::create_directories(s.plugin);
  fs::create_directories(s.home + "/tmp");
  fs::create_directories(s.home + "/.config");
  fs::create_directories(s.root + "Custom Scenery");
  fs::create_directories(s.root + "Global Scenery/Global Airports/Earth nav data");
  return true;
}

std::string globalOf(const Scenario& s) { return s.root + "Global Scenery/Global Airports/Earth nav data/apt.dat"; }

void report(const char* what, const Run& r, double ref, const char* refWhat, double target) {
  std::printf("  %-34s %s %7.3f s   %-28s %7.3f s   = %5.2fx (target %.1fx)   peak %6.1f MB\n", what,
              r.ok ? "ok  " : "FAIL", r.secs, refWhat, ref, ref > 0 ? r.secs / ref : 0.0, target, r.peakMb);
}

// The three actions at no delay, then suppress and check at 50 ms.
void measure(Scenario& s, devserver::Server& server, double copySecs, double checkTarget, double suppressTarget) {
  long fileBytes = 0;
  for (const auto& f : s.touched) fileBytes += static_cast<long>(fs::file_size(f));
  std::printf("%s: %zu touched file(s), %.1f MB; %d airport(s) published\n", s.name.c_str(), s.touched.size(),
              fileBytes / 1e6, s.published);
  const Run fresh = cli(s.home, s.root, server.port(), "suppress");
  const Run again = cli(s.home, s.root, server.port(), "suppress");
  const Run restore = cli(s.home, s.root, server.port(), "restore");
  report("fresh suppress", fresh, copySecs, "copy+fsync of those files", 2.0);
  report("suppress over a pass", again, copySecs, "copy+fsync of those files", 2.5);
  report("restore", restore, copySecs, "copy+fsync of those files", 0.5);
  std::printf("  %-34s %6.1f MB beside %.1f MB of files (target <= 150 MB at the scale size)\n",
              "peak memory of the launcher", std::max({fresh.peakMb, again.peakMb, restore.peakMb}),
              fileBytes / 1e6);

  server.setDelayMs(50);
  server.resetCounts();
  const Run slow = cli(s.home, s.root, server.port(), "suppress");
  const int suppressRequests = server.requests();
  server.resetCounts();
  const Run check = cli(s.home, s.root, server.port(), "check");
  const int checkRequests = server.requests();
  server.setDelayMs(0);
  const Run back = cli(s.home, s.root, server.port(), "restore");
  std::printf("  %-34s %s %7.3f s   %d request(s), one after another %7.3f s   (target %.1f s)\n",
              "suppress, server 50 ms away", slow.ok ? "ok  " : "FAIL", slow.secs, suppressRequests,
              suppressRequests * 0.05, suppressTarget);
  std::printf("  %-34s %s %7.3f s   %d request(s), one after another %7.3f s   (target %.1f s)\n",
              "start-up check, server 50 ms away", check.ok ? "ok  " : "FAIL", check.secs, checkRequests,
              checkRequests * 0.05, checkTarget);
  if (!back.ok) std::printf("  !! the last restore failed\n");
}

// The taken record the last pass wrote, read back and written again by the
// direct writer and by way of a JSON value as before.
void takenWrite(const std::string& plugin) {
  std::ifstream in(plugin + "/tlm_taken.json", std::ios::binary);
  const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  if (!doc.is_object() || !doc.contains("airports")) {
    std::printf("taken record: none to measure\n");
    return;
  }
  orveldb::TakenMap map;
  long runs = 0;
  for (const auto& [code, list] : doc["airports"].items()) {
    for (const auto& r : list) {
      orveldb::TakenRun run;
      run.code = r.value("c", 0);
      run.networkOnly = r.contains("f");
      for (const auto& p : r["p"]) run.pts.push_back({p[0].get<double>(), p[1].get<double>()});
      map[lumo::textFromJson(code)].push_back(std::move(run));
      ++runs;
    }
  }
  auto best = [](auto fn) {
    double b = 1e9;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = Clock::now();
      fn();
      b = std::min(b, secsSince(t0));
    }
    return b;
  };
  std::size_t size = 0;
  const double direct = best([&] { size = lumo::takenJson("rev", map).size(); });
  const double viaValue = best([&] {
    nlohmann::json airports = nlohmann::json::object();
    for (const auto& [code, list] : map) {
      nlohmann::json arr = nlohmann::json::array();
      for (const auto& r : list) {
        nlohmann::json pts = nlohmann::json::array();
        for (const auto& p : r.pts)
          pts.push_back({std::round(p.lat * 1e7) / 1e7, std::round(p.lon * 1e7) / 1e7});
        nlohmann::json o = {{"c", r.code}, {"p", std::move(pts)}};
        if (r.networkOnly) o["f"] = 1;
        arr.push_back(std::move(o));
      }
      airports[code] = std::move(arr);
    }
    nlohmann::json j = {{"airports", std::move(airports)}, {"rev", "rev"}};
    size = lumo::dumpJson(j, -1).size();
  });
  std::printf("taken record of %ld run(s), %.1f MB: written directly %.3f s   by way of a JSON value %.3f s   = %.2fx\n",
              runs, size / 1e6, direct, viaValue, viaValue > 0 ? direct / viaValue : 0.0);
}

}  // namespace


int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--measure") return measureMode(argv + 2);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!*cliPath()) {
    std::printf("bench_scale: skipped - built without the command-line launcher\n");
    return 0;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tl-bench-scale-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::printf("bench_scale: cannot make a temporary folder\n");
    return 1;
  }
  const std::string top = tmpl;
  const bench::World found = bench::prepareWorld(argc, argv, top);
  if (!found.ok) {
    std::printf("bench_scale: %s\n", found.error.c_str());
    return 1;
  }
  std::printf("bench_scale: data: %s\n", found.source.c_str());
  const std::string world = found.path;
  std::string err;
  std::vector<std::pair<std::string, long>> ranked;
  if (!geomkit::rankByLit(world, ranked, err, 2000)) {
    std::printf("bench_scale: %s\n", err.c_str());
    return 1;
  }
  // Only airports with stop bars get a map, a few hundred of the world's:
  // those, most lit first, are the ones the scale copies publish.
  std::vector<std::string> mapped;
  {
    std::set<std::string> first;
    for (const auto& r : ranked) first.insert(r.first);
    orveldb::ScopeMap derived;
    geomkit::deriveFile(world, derived, err, &first);
    for (const auto& r : ranked) {
      const auto d = derived.find(r.first);
      if (d != derived.end() && (!d->second.bars.empty() || !d->second.lead.empty())) mapped.push_back(r.first);
    }
  }
  int rc = 0;

  // World: the file itself, the 200 most-lit published.
  {
    Scenario s;
    s.name = "world";
    prepare(s, top + "/world");
    fs::copy_file(world, globalOf(s));
    std::ofstream(s.root + "Custom Scenery/scenery_packs.ini")
        << "I\n1000 Version\nSCENERY\n\nSCENERY_PACK *GLOBAL_AIRPORTS*\n";
    std::set<std::string> codes;
    for (std::size_t i = 0; i < 200 && i < ranked.size(); ++i) codes.insert(ranked[i].first);
    devserver::BuildOptions o;
    o.aptDat = s.base + "/published.dat";
    o.rev = "world1";
    devserver::Server server;
    if (!sliceOf(world, codes, o.aptDat) || !devserver::buildFolder(o, s.served, s.published, err) ||
        !server.start(s.served, 0, err)) {
      std::printf("bench_scale: world set-up failed: %s\n", err.c_str());
      return 1;
    }
    s.touched = {globalOf(s)};
    const double copySecs = copyFloor(s.touched, s.base);
    measure(s, server, copySecs, 1.5, 5.0);
    cli(s.home, s.root, server.port(), "suppress");
    takenWrite(s.plugin);
    server.stop();
    fs::remove_all(s.base);
  }

  // Scale: four copies, 2,100 published, 300 packs.
  {
    Scenario s;
    s.name = "scale";
    prepare(s, top + "/scale");
    const auto t0 = Clock::now();
    {
      std::ofstream g(globalOf(s), std::ios::binary | std::ios::trunc);
      g << "I\n1000 Version - four copies of the world file for the scale benchmark\n\n";
      bool ok = renamedCopy(world, "", g);
      for (const char* suffix : {"2", "3", "4"}) ok = ok && renamedCopy(world, suffix, g);
      // Two more copies of the airports with a map alone, so that 2,100
      // can be published.
      const std::set<std::string> only(mapped.begin(), mapped.end());
      std::ifstream in(world, std::ios::binary);
      std::vector<std::vector<std::string>> extra;
      ok = ok && orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
        if (only.count(code)) extra.push_back(rows);
        return true;
      });
      for (const char* suffix : {"5", "6"})
        for (const auto& rows : extra)
          for (std::string line : rows) {
            const std::string code = rowCodeOf(line);
            std::vector<std::string> t = orvel::tok(line);
            if ((code == "1" || code == "16" || code == "17") && t.size() >= 5) {
              t[4] += suffix;
              line.clear();
              for (std::size_t i = 0; i < t.size(); ++i) line += (i ? " " : "") + t[i];
            } else if (code == "1302" && t.size() >= 3 && t[1] == "icao_code") {
              line = "1302 icao_code " + t[2] + suffix;
            }
            g << line << '\n';
          }
      g << "99\n";
      if (!ok || !g) rc = 1;
    }
    std::set<std::string> codes;
    std::vector<std::string> order;
    for (const char* suffix : {"", "2", "3", "4", "5", "6"})
      for (const auto& c : mapped) {
        codes.insert(c + suffix);
        order.push_back(c + suffix);
      }
    devserver::BuildOptions o;
    o.aptDat = s.base + "/published.dat";
    o.rev = "scale1";
    if (rc || !sliceOf(globalOf(s), codes, o.aptDat) || !devserver::buildFolder(o, s.served, s.published, err)) {
      std::printf("bench_scale: scale set-up failed: %s\n", err.c_str());
      return 1;
    }
    // Not every lit airport gets a map: keep the first 2,100 that did, in
    // order of lights, and only their networks, one in four.
    std::vector<std::string> published;
    {
      const std::string path = s.served + "/geometry.json";
      std::ifstream in(path);
      nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
      in.close();
      nlohmann::json kept = nlohmann::json::object();
      // The launcher takes a maps document of up to 32 MiB; maps derived
      // from every lit feature are heavier than published ones, so once
      // the document nears that, further airports keep their bars alone.
      std::size_t bytes = 0;
      int barsOnly = 0;
      for (const auto& code : order) {
        if (published.size() == 2100) break;
        auto it = doc["airports"].find(code);
        if (it == doc["airports"].end()) continue;
        std::size_t size = it->dump().size();
        if (bytes + size > 28000000 && it->contains("lead")) {
          (*it)["lead"] = nlohmann::json::array();
          size = it->dump().size();
          ++barsOnly;
        }
        bytes += size + code.size() + 4;
        kept[code] = std::move(*it);
        published.push_back(code);
      }
      doc["airports"] = std::move(kept);
      std::ofstream(path, std::ios::trunc) << doc.dump();
      s.published = static_cast<int>(published.size());
      std::printf("scale maps document: %.1f MB, %d airport(s) with their bars alone\n", bytes / 1e6, barsOnly);
    }
    thinNetworks(s.served, 4);
    // 300 packs, each with one published airport (about every seventh), in
    // the scenery order before the global airports.
    std::map<std::string, std::vector<std::string>> blocks;
    {
      std::ifstream in(o.aptDat, std::ios::binary);
      std::set<std::string> want(published.begin(), published.end());
      orvel::visitBlocks(in, [&](const std::string& code, const std::vector<std::string>& rows) {
        if (want.count(code)) blocks[code] = rows;
        return true;
      });
    }
    {
      std::map<std::string, std::vector<std::string>> chosen;
      for (std::size_t i = 0; i < published.size() && chosen.size() < 300; i += 7)
        if (blocks.count(published[i])) chosen[published[i]] = std::move(blocks[published[i]]);
      for (std::size_t i = 1; i < published.size() && chosen.size() < 300; i += 7)
        if (blocks.count(published[i])) chosen[published[i]] = std::move(blocks[published[i]]);
      blocks = std::move(chosen);
    }
    std::string ini = "I\n1000 Version\nSCENERY\n\n";
    int n = 0;
    for (const auto& [code, rows] : blocks) {
      char name[64];
      std::snprintf(name, sizeof name, "Pack %03d - %s", ++n, code.c_str());
      const std::string dir = s.root + "Custom Scenery/" + name + "/Earth nav data";
      fs::create_directories(dir);
      std::ofstream f(dir + "/apt.dat", std::ios::binary);
      f << "I\n1000 Version - an add-on pack for the scale benchmark\n\n";
      for (const auto& r : rows) f << r << "\n";
      f << "99\n";
      ini += std::string("SCENERY_PACK Custom Scenery/") + name + "/\n";
      s.touched.push_back(dir + "/apt.dat");
    }
    ini += "SCENERY_PACK *GLOBAL_AIRPORTS*\n";
    std::ofstream(s.root + "Custom Scenery/scenery_packs.ini") << ini;
    s.touched.push_back(globalOf(s));
    std::printf("scale set-up: %.0f s (global file %.1f MB, %d pack(s))\n", secsSince(t0),
                fs::file_size(globalOf(s)) / 1e6, n);

    devserver::Server server;
    if (!server.start(s.served, 0, err)) {
      std::printf("bench_scale: %s\n", err.c_str());
      return 1;
    }
    const double copySecs = copyFloor(s.touched, s.base);
    measure(s, server, copySecs, 1.5, 5.0);
    server.stop();
  }

  std::error_code ec;
  fs::remove_all(top, ec);
  return rc;
}
