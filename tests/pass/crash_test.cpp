// Crash states: suppress, restore and a second suppress on a small real
// folder (two packs and the global file) are recorded operation by
// operation through the preloaded shim. Every state a kill at any of those
// operations leaves, and every state a power cut leaves under a
// drop-unsynced model (data not flushed since its last write is lost; a
// create, rename or unlink not followed by a flush of its folder may not
// have happened), is laid out on disk again and held to the promises:
//   - the state never reads as original while an apt.dat differs from it;
//   - restore ends with every apt.dat its original and nothing
//     ".taxilume-" left, and says so;
//   - suppress then restore loses nothing;
//   - after a scenery update replaces every apt.dat, suppress then restore
//     leaves the updated files, and an older copy kept beside one is named
//     on a "!! " line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "pass/pass.h"
#include "scenery/manifest.h"
#include "scenery/restore.h"
#include "scenery/shim.h"
#include "scenery/state.h"
#include "world.h"

namespace fs = std::filesystem;

namespace {

using RecordFn = int (*)(const char*, const char*);

struct Op {
  char kind = 0;  // O W S C R U M
  int fd = -1;
  int flags = 0;
  long long off = 0, sec = 0, nsec = 0;
  std::string path, to, data;
};

std::vector<Op> readOps(const std::string& log) {
  std::vector<Op> ops;
  std::istringstream in(log);
  std::string head;
  while (std::getline(in, head)) {
    std::istringstream h(head);
    Op op;
    h >> op.kind;
    size_t n = 0, m = 0;
    auto bytes = [&](size_t k) {
      std::string s(k, '\0');
      in.read(&s[0], static_cast<std::streamsize>(k));
      return s;
    };
    switch (op.kind) {
      case 'O': h >> op.fd >> op.flags >> op.sec >> op.nsec >> n; op.path = bytes(n); break;
      case 'W': h >> op.fd >> op.off >> n >> op.sec >> op.nsec; op.data = bytes(n); break;
      case 'S': case 'C': h >> op.fd; break;
      case 'R': h >> n >> m; op.path = bytes(n); op.to = bytes(m); break;
      case 'U': case 'M': h >> n; op.path = bytes(n); break;
      default: ADD_FAILURE() << "unknown record " << head; return ops;
    }
    ops.push_back(op);
  }
  return ops;
}

struct Inode {
  std::string data, durable;
  long long sec = 0, nsec = 0, dsec = 0, dnsec = 0;
};

// One laid-out state: path -> (bytes, time), plus the folders.
struct Layout {
  std::map<std::string, std::pair<std::string, std::pair<long long, long long>>> files;
  std::set<std::string> dirs;
  bool operator<(const Layout& o) const { return std::tie(files, dirs) < std::tie(o.files, o.dirs); }
};

std::string parentOf(const std::string& p) {
  const size_t s = p.find_last_of('/');
  return s == std::string::npos ? "." : p.substr(0, s);
}

// The file system as the recorded operations leave it, with what a power
// cut would keep.
class Model {
 public:
  void addFile(const std::string& path, const std::string& bytes, long long sec, long long nsec) {
    Inode i{bytes, bytes, sec, nsec, sec, nsec};
    inodes_.push_back(i);
    entries_[path] = durable_[path] = static_cast<int>(inodes_.size()) - 1;
  }
  void addDir(const std::string& d) { dirs_.insert(d); }

  // Applies op; true when it changed something (a point to die at).
  bool apply(const Op& op) {
    switch (op.kind) {
      case 'O': {
        if (dirs_.count(op.path)) {
          fdDir_[op.fd] = op.path;
          return false;
        }
        fdDir_.erase(op.fd);
        auto it = entries_.find(op.path);
        const bool writes = (op.flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
        if (it == entries_.end()) {
          if (!(op.flags & O_CREAT)) return false;
          inodes_.push_back(Inode{"", "", op.sec, op.nsec, op.sec, op.nsec});
          const int id = static_cast<int>(inodes_.size()) - 1;
          entries_[op.path] = id;
          pending_.push_back({parentOf(op.path), 'c', op.path, "", id});
          fdInode_[op.fd] = id;
          return true;
        }
        fdInode_[op.fd] = it->second;
        if (op.flags & O_TRUNC) {
          Inode& i = inodes_[it->second];
          i.data.clear();
          i.sec = op.sec;
          i.nsec = op.nsec;
        }
        return writes;
      }
      case 'W': {
        auto it = fdInode_.find(op.fd);
        if (it == fdInode_.end()) return false;
        Inode& i = inodes_[it->second];
        const size_t end = static_cast<size_t>(op.off) + op.data.size();
        if (i.data.size() < end) i.data.resize(end, '\0');
        i.data.replace(static_cast<size_t>(op.off), op.data.size(), op.data);
        i.sec = op.sec;
        i.nsec = op.nsec;
        return true;
      }
      case 'S': {
        auto d = fdDir_.find(op.fd);
        if (d != fdDir_.end()) {
          std::vector<Pending> rest;
          for (const Pending& p : pending_) {
            if (p.dir == d->second) commit(p);
            else rest.push_back(p);
          }
          pending_ = rest;
          return true;
        }
        auto it = fdInode_.find(op.fd);
        if (it == fdInode_.end()) return false;
        Inode& i = inodes_[it->second];
        i.durable = i.data;
        i.dsec = i.sec;
        i.dnsec = i.nsec;
        return true;
      }
      case 'C':
        fdInode_.erase(op.fd);
        fdDir_.erase(op.fd);
        return false;
      case 'R': {
        auto it = entries_.find(op.path);
        if (it == entries_.end()) return false;
        const int id = it->second;
        entries_.erase(it);
        entries_[op.to] = id;
        pending_.push_back({parentOf(op.to), 'r', op.path, op.to, id});
        return true;
      }
      case 'U': {
        if (dirs_.erase(op.path)) return true;
        if (!entries_.erase(op.path)) return false;
        pending_.push_back({parentOf(op.path), 'u', op.path, "", -1});
        return true;
      }
      case 'M':
        dirs_.insert(op.path);
        return true;
    }
    return false;
  }

  // As a kill leaves it: everything done so far is there.
  Layout killed() const {
    Layout l;
    l.dirs = dirs_;
    for (const auto& e : entries_) {
      const Inode& i = inodes_[e.second];
      l.files[e.first] = {i.data, {i.sec, i.nsec}};
    }
    return l;
  }

  // As a power cut leaves it when the first `kept` unflushed folder changes
  // happened and no unflushed data survived.
  Layout powerCut(size_t kept) const {
    std::map<std::string, int> entries = durable_;
    for (size_t k = 0; k < kept && k < pending_.size(); ++k) commitTo(entries, pending_[k]);
    Layout l;
    l.dirs = dirs_;
    for (const auto& e : entries) {
      const Inode& i = inodes_[e.second];
      l.files[e.first] = {i.durable, {i.dsec, i.dnsec}};
    }
    return l;
  }
  size_t pendingCount() const { return pending_.size(); }

 private:
  struct Pending {
    std::string dir;
    char kind;  // c r u
    std::string path, to;
    int id;
  };
  static void commitTo(std::map<std::string, int>& entries, const Pending& p) {
    if (p.kind == 'c') entries[p.path] = p.id;
    if (p.kind == 'r') {
      entries.erase(p.path);
      entries[p.to] = p.id;
    }
    if (p.kind == 'u') entries.erase(p.path);
  }
  void commit(const Pending& p) { commitTo(durable_, p); }

  std::vector<Inode> inodes_;
  std::map<std::string, int> entries_, durable_;
  std::set<std::string> dirs_;
  std::map<int, int> fdInode_;
  std::map<int, std::string> fdDir_;
  std::vector<Pending> pending_;
};

void layOut(const std::string& root, const Layout& l) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(root)) fs::remove_all(e.path(), ec);
  for (const auto& d : l.dirs) fs::create_directories(d, ec);
  for (const auto& f : l.files) {
    fs::create_directories(parentOf(f.first), ec);
    tl::writeFile(f.first, f.second.first);
    const timespec times[2] = {{f.second.second.first, f.second.second.second},
                               {f.second.second.first, f.second.second.second}};
    ASSERT_EQ(utimensat(AT_FDCWD, f.first.c_str(), times, 0), 0) << f.first;
  }
}

struct Lines {
  std::vector<std::string> all;
  lumo::LogFn fn() {
    return [this](const std::string& l) { all.push_back(l); };
  }
  bool has(const std::function<bool(const std::string&)>& p) const {
    for (const auto& l : all)
      if (p(l)) return true;
    return false;
  }
  std::string text() const {
    std::string t;
    for (const auto& l : all) t += l + "\n";
    return t;
  }
};

class Crash {
 public:
  explicit Crash(tlpass::World& w) : w_(w) {
    maps_ = w.maps();
    scan_ = w.scan(maps_);
    for (const auto& f : w.aptFiles()) originals_[f] = tl::readFile(f);
  }

  // As "Update & Suppress" does it, its "!! " line included.
  lumo::PassResult suppress(Lines& log) {
    const lumo::PassResult r = lumo::replacePass(w_.root, w_.plugin, maps_, log.fn(), true, "127.0.0.1",
                                                 w_.server.port(), [this] { return scan_; });
    if (!r.ok) log.all.push_back("!! " + r.error);
    return r;
  }
  bool restore(Lines& log) { return lumo::restoreOriginals(w_.plugin, w_.root, log.fn()); }

  std::vector<std::string> leftOvers() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(w_.root))
      if (e.path().filename().string().find(".taxilume-") != std::string::npos) out.push_back(e.path().string());
    return out;
  }
  bool allOriginal(const std::map<std::string, std::string>& want) const {
    for (const auto& f : want) {
      std::error_code ec;
      if (!fs::exists(f.first, ec) || tl::readFile(f.first) != f.second) return false;
    }
    return true;
  }

  // The four promises for one laid-out state; `where` names it.
  void check(const Layout& state, const std::string& where) {
    // Status.
    layOut(w_.root, state);
    if (!allOriginal(originals_)) {
      EXPECT_TRUE(lumo::suppressionState(w_.plugin, w_.root).inForce) << where << ": reads as original";
    }

    // Restore.
    {
      Lines log;
      const bool ok = restore(log);
      EXPECT_TRUE(allOriginal(originals_)) << where << ": restore left a changed apt.dat\n" << log.text();
      EXPECT_TRUE(ok) << where << ": restore reported a failure\n" << log.text();
      EXPECT_EQ(leftOvers(), std::vector<std::string>{}) << where << "\n" << log.text();
      EXPECT_FALSE(fs::exists(w_.plugin + "/tlm_taken.json")) << where;
      EXPECT_TRUE(orvel::loadManifest(w_.plugin).empty()) << where;
    }

    // Suppress, then restore.
    {
      layOut(w_.root, state);
      Lines log;
      const lumo::PassResult r = suppress(log);
      EXPECT_TRUE(r.ok) << where << ": " << r.error << "\n" << log.text();
      EXPECT_TRUE(restore(log)) << where << "\n" << log.text();
      EXPECT_TRUE(allOriginal(originals_)) << where << ": suppress and restore lost an original\n" << log.text();
      EXPECT_EQ(leftOvers(), std::vector<std::string>{}) << where;
    }

    // A scenery update, then suppress and restore.
    {
      layOut(w_.root, state);
      std::map<std::string, std::string> updated;
      for (const auto& f : originals_) {
        updated[f.first] = f.second + (f.second.back() == '\n' ? "" : "\n") + "1000 Generated by the scenery update\n";
        tl::writeFile(f.first, updated[f.first]);
      }
      Lines log;
      (void)suppress(log);
      (void)restore(log);
      EXPECT_TRUE(allOriginal(updated)) << where << ": an update was replaced by an older copy\n" << log.text();
      // Only an older copy may stay (with its mark), and only when named.
      const std::string orig = ".taxilume-orig", cut = ".taxilume-cut";
      auto endsWith = [](const std::string& s, const std::string& e) {
        return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
      };
      for (const auto& f : leftOvers()) {
        if (endsWith(f, cut) && fs::exists(f.substr(0, f.size() - cut.size()) + orig)) continue;
        const bool named = endsWith(f, orig) && log.has([&](const std::string& l) {
                             return l.rfind("!! ", 0) == 0 && l.find(f) != std::string::npos;
                           });
        EXPECT_TRUE(named) << where << ": " << f << " kept without a \"!! \" line naming it\n" << log.text();
      }
    }
  }

  tlpass::World& w_;
  lumo::Geometry maps_;
  lumo::PackScan scan_;
  std::map<std::string, std::string> originals_;
};

TEST(CrashStates, SuppressRestoreSuppress) {
  TLSHIM_RERUN();
  // Hundreds of states, each flushed to disk many times: on a memory file
  // system when there is one, so the flushes cost nothing.
  struct stat shm {};
  if (::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && ::access("/dev/shm", W_OK) == 0)
    setenv("TMPDIR", "/dev/shm", 1);
  const auto record = reinterpret_cast<RecordFn>(dlsym(RTLD_DEFAULT, "tl_shim_record"));
  ASSERT_NE(record, nullptr);
  tlpass::World w;
  w.build({{"One", {"LOWI"}}, {"Two", {"LZIB"}}}, {"KROC", "LOWI", "LZIB", "EDDF"});
  w.serve({}, false);
  w.start();
  Crash crash(w);

  // The disk before, as the model's starting point.
  Model model;
  for (const auto& e : fs::recursive_directory_iterator(w.root)) {
    const std::string p = e.path().string();
    if (e.is_directory()) {
      model.addDir(p);
      continue;
    }
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    model.addFile(p, tl::readFile(p), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  }
  model.addDir(w.plugin);
  const Layout before = model.killed();

  const std::string logPath = w.dir / "ops.log";
  ASSERT_EQ(record(w.root.c_str(), logPath.c_str()), 0);
  Lines first, undo, second;
  const lumo::PassResult r1 = crash.suppress(first);
  const bool restored = crash.restore(undo);
  const lumo::PassResult r2 = crash.suppress(second);
  record(nullptr, nullptr);
  ASSERT_TRUE(r1.ok) << r1.error << "\n" << first.text();
  ASSERT_TRUE(restored) << undo.text();
  ASSERT_TRUE(r2.ok) << r2.error << "\n" << second.text();
  ASSERT_GE(r1.files, 3) << "every file is rewritten";

  const std::vector<Op> ops = readOps(tl::readFile(logPath));
  std::set<Layout> states;
  size_t points = 0;
  states.insert(before);
  for (const Op& op : ops) {
    if (!model.apply(op)) continue;
    ++points;
    states.insert(model.killed());
    for (size_t kept = 0; kept <= model.pendingCount(); ++kept) states.insert(model.powerCut(kept));
  }
  ASSERT_GT(points, 100u) << "the recording missed the file operations";

  size_t n = 0;
  for (const Layout& s : states) {
    crash.check(s, "state " + std::to_string(n++) + " of " + std::to_string(states.size()));
    if (HasFailure()) break;  // one broken state says enough
  }
  std::printf("   %zu operations, %zu crash points, %zu distinct states\n", ops.size(), points, states.size());
}

}  // namespace
