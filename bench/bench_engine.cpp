// Benchmark of the block rewrite over the whole real world file, against a
// plain copy of the same file with fsync, measured in the same run.
//
//   (a) every airport block through the rewrite with no airport in scope
//   (b) the same with the 200 airports with the most lit node rows in scope,
//       against geometry derived from their own lights (taken runs and the
//       light split, as a pass does them)
//
// Each rewrite runs in its own child process so that its peak memory is its
// own; a run over the first tenth of the file shows that the peak does not
// grow with the file. Blocks outside the scope are turned away by the code
// filter unless a run says otherwise ("no filter": every block is cut into
// rows and handed to the per-block function). The world file is found or
// made as bench/world.h says (--world FILE to name one); the first line
// printed says which it is.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "bench/world.h"
#include "engine/blocks.h"
#include "engine/lightwalk.h"
#include "engine/rewrite.h"
#include "engine/taken.h"
#include "tools/geomkit/geomkit.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuSecs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long peakRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

long fileSize(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool fsyncPath(const std::string& p) {
  int fd = ::open(p.c_str(), O_RDWR);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool plainCopy(const std::string& src, const std::string& dst) {
  int in = ::open(src.c_str(), O_RDONLY);
  int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) return false;
  std::vector<char> buf(1 << 20);
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    for (ssize_t w = 0; w < n;) {
      ssize_t k = ::write(out, buf.data() + w, n - w);
      if (k <= 0) { ok = false; break; }
      w += k;
    }
  }
  ok = ::fsync(out) == 0 && ok;
  ::close(in);
  ::close(out);
  return ok;
}

struct Stats {
  bool ok = false;
  double secs = 0, cpu = 0;
  long rssBeforeKb = 0, rssKb = 0;
  long blocks = 0, changed = 0, splits = 0, runs = 0;
};

// One rewrite of src into dst (fsync included), the way the file rewrite does it.
Stats rewriteOnce(const std::string& src, const std::string& dst, const orveldb::ScopeMap& scopes,
                  bool filter) {
  Stats s;
  const orvel::SuppressScope base;  // the pass's tolerances, no geometry
  const double t0 = now(), c0 = cpuSecs();
  std::ifstream in(src, std::ios::binary);
  std::ofstream out(dst, std::ios::binary | std::ios::trunc);
  bool changed = false;
  // The walk the file rewrite uses: runs and split in one go over the rows as read.
  orvel::LightWalk walk;
  std::vector<orveldb::TakenRun> runs;
  bool ok = orvel::forEachBlockText(in, out, [&](const std::string& code, const std::vector<std::string_view>& rows,
                                                 std::string& text) {
    ++s.blocks;
    auto it = scopes.find(code);
    if (it == scopes.end()) return false;
    const orveldb::AirportScope& a = it->second;
    orvel::SuppressScope sc = base;
    if (!a.lead.empty()) sc.leads = &a.lead;
    if (!a.bars.empty()) sc.bars = &a.bars;
    if (sc.bars && a.barx.size() == a.bars.size()) sc.barx = &a.barx;
    if (!a.network.empty()) sc.network = &a.network;
    if (!sc.leads && !sc.bars && !sc.network) return false;
    runs.clear();
    int splits = 0;
    const bool ch = walk.walk(rows, sc, &text, nullptr, splits, &runs);
    s.runs += static_cast<long>(runs.size());
    s.splits += splits;
    s.changed += ch;
    return ch;
  }, changed, filter ? orvel::CodeFilter([&](const std::string& code) { return scopes.count(code) > 0; })
                    : orvel::CodeFilter());
  out.close();
  ok = ok && !out.fail() && fsyncPath(dst);
  s.secs = now() - t0;
  s.cpu = cpuSecs() - c0;
  s.ok = ok;
  return s;
}

// Runs fn in a child process and brings back its Stats (best of `reps` times).
template <class Fn>
Stats inChild(Fn fn) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    ::close(fds[0]);
    Stats s = fn();
    if (::write(fds[1], &s, sizeof s) != static_cast<ssize_t>(sizeof s)) _exit(1);
    _exit(0);
  }
  ::close(fds[1]);
  Stats s;
  if (::read(fds[0], &s, sizeof s) != static_cast<ssize_t>(sizeof s)) s.ok = false;
  ::close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return s;
}

Stats bestOf(const std::string& src, const std::string& dst, const orveldb::ScopeMap& scopes, int reps,
             bool filter = true) {
  Stats best;
  best.rssBeforeKb = peakRssKb();
  for (int i = 0; i < reps; ++i) {
    Stats s = rewriteOnce(src, dst, scopes, filter);
    if (i == 0 || s.secs < best.secs) {
      const long before = best.rssBeforeKb;
      best = s;
      best.rssBeforeKb = before;
    }
  }
  best.rssKb = peakRssKb();
  return best;
}

void row(const char* what, const Stats& s, double copySecs, double copyCpu, long bytes) {
  std::printf("%-44s %s %7.3f s (cpu %6.3f s)  %6.2fx copy (cpu %5.2fx)  %7.1f MB/s  peak RSS %6.1f MB (%.1f MB before)\n",
              what, s.ok ? "ok  " : "FAIL", s.secs, s.cpu, copySecs > 0 ? s.secs / copySecs : 0.0,
              copyCpu > 0 ? s.cpu / copyCpu : 0.0, bytes / 1e6 / (s.secs > 0 ? s.secs : 1), s.rssKb / 1024.0,
              s.rssBeforeKb / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tl-bench-engine-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::printf("bench_engine: cannot make a temporary folder\n");
    return 1;
  }
  const std::string dir = buf.data();
  const bench::World world = bench::prepareWorld(argc, argv, dir);
  if (!world.ok) {
    std::printf("bench_engine: %s\n", world.error.c_str());
    std::system(("rm -rf '" + dir + "'").c_str());
    return 1;
  }
  std::printf("bench_engine: %s\n", world.source.c_str());
  const std::string apt = world.path, tenth = dir + "/apt-tenth.dat", out = dir + "/out.dat";
  const long bytes = fileSize(apt);
  // The first tenth of the file, cut at a line end.
  std::system(("head -c " + std::to_string(bytes / 10) + " '" + apt + "' | sed '$d' > '" + tenth + "'").c_str());
  const long tenthBytes = fileSize(tenth);
  std::printf("bench_engine: %.1f MB (first tenth %.1f MB), in %s\n", bytes / 1e6, tenthBytes / 1e6, dir.c_str());

  // Plain copy with fsync, best of three, timed around the rewrites.
  double copySecs = 1e9, copyCpu = 1e9;
  auto copyOnce = [&]() {
    const double t0 = now(), c0 = cpuSecs();
    if (!plainCopy(apt, out)) std::printf("plain copy failed\n");
    copySecs = std::min(copySecs, now() - t0);
    copyCpu = std::min(copyCpu, cpuSecs() - c0);
  };
  copyOnce();
  copyOnce();

  std::vector<std::pair<std::string, long>> top;
  std::string err;
  const double r0 = now();
  if (!geomkit::rankByLit(apt, top, err, 200)) {
    std::printf("bench_engine: %s\n", err.c_str());
    return 1;
  }
  std::set<std::string> codes;
  long litRows = 0;
  for (const auto& [c, n] : top) {
    codes.insert(c);
    litRows += n;
  }
  std::printf("ranked the airports by lit node rows in %.2f s: top 200 hold %ld lit rows (first %s %ld, last %s %ld)\n",
              now() - r0, litRows, top.front().first.c_str(), top.front().second, top.back().first.c_str(),
              top.back().second);

  const orveldb::ScopeMap none;
  Stats aTenth = inChild([&] { return bestOf(tenth, out, none, 2); });
  Stats a = inChild([&] { return bestOf(apt, out, none, 2); });
  Stats aAll = inChild([&] { return bestOf(apt, out, none, 2, false); });
  Stats b = inChild([&] {
    orveldb::ScopeMap scopes;
    std::string e;
    geomkit::deriveFile(apt, scopes, e, &codes);
    return bestOf(apt, out, scopes, 2);
  });
  copyOnce();

  std::printf("%-44s %s %7.3f s (cpu %6.3f s)  %7.1f MB/s\n", "plain copy + fsync (best of 3)", "ok  ", copySecs,
              copyCpu, bytes / 1e6 / copySecs);
  row("(a) rewrite, no airport in scope, 1/10 file", aTenth, copySecs / 10, copyCpu / 10, tenthBytes);
  row("(a) rewrite, no airport in scope", a, copySecs, copyCpu, bytes);
  row("(a) same, every block cut into rows (no filter)", aAll, copySecs, copyCpu, bytes);
  row("(b) rewrite, 200 most-lit airports in scope", b, copySecs, copyCpu, bytes);
  std::printf("    (b) blocks in scope %ld, changed %ld, splits %ld, taken runs %ld\n", b.blocks, b.changed,
              b.splits, b.runs);
  std::printf("    peak RSS growth of the rewrite: 1/10 file %.1f MB, whole file %.1f MB; file %.1f MB\n",
              (aTenth.rssKb - aTenth.rssBeforeKb) / 1024.0, (a.rssKb - a.rssBeforeKb) / 1024.0, bytes / 1e6);

  std::system(("rm -rf '" + dir + "'").c_str());
  return a.ok && b.ok ? 0 : 1;
}
