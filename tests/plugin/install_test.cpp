#include "plugin/install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/host_support.h"
#include "host/xplane.h"
#include "plugin/zipcheck.h"
#include "support/tmpdir.h"
#include "tools/devserver/devserver.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kXplData = "plugin build ";

json entry(const std::string& name, const std::string& data = "", int size = 0, int mode = 0100644) {
  return {{"name", name}, {"data", data}, {"size", size}, {"mode", mode}};
}

// A package that installs: the plugin file, a folder and a resource file.
json goodPackage(const std::string& tag) {
  return json::array({entry("Taxilume/", "", 0, 040755), entry("Taxilume/lin_x64/Taxilume.xpl", kXplData + tag, 1500),
                      entry("Taxilume/resources/readme.txt", "read me " + tag)});
}

void makeZip(const std::string& out, const json& spec) {
  int status = 0;
  const std::string msg =
      tl::runOutput({"/bin/sh", "-c", "exec python3 \"$0\" \"$1\" \"$2\" 2>&1",
                     std::string(TL_SOURCE_DIR) + "/tests/plugin/make_zip.py", out, spec.dump()},
                    &status);
  ASSERT_EQ(status, 0) << msg;
}

// Content as a failure message can show it: short texts as they are, long
// ones by size and hash.
std::string digest(const std::string& bytes) {
  if (bytes.size() <= 64) return bytes;
  return "<" + std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes)) + ">";
}

// Every path below dir (relative) with its content, "->target" for links.
std::map<std::string, std::string> tree(const std::string& dir) {
  std::map<std::string, std::string> t;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir, ec))) return t;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), dir).string();
    if (it->is_symlink()) t[rel] = "->" + fs::read_symlink(it->path()).string();
    else if (it->is_regular_file()) t[rel] = digest(tl::readFile(it->path().string()));
    else t[rel + "/"] = "";
  }
  return t;
}

// The most disk space the files below dir took at any moment while it ran.
class DiskPeak {
 public:
  explicit DiskPeak(std::string dir) : dir_(std::move(dir)), thread_([this] {
    while (!stop_) {
      peak_ = std::max(peak_.load(), used());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }) {}
  ~DiskPeak() { finish(); }
  uint64_t finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return peak_;
  }

 private:
  uint64_t used() const {
    uint64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      struct stat st;
      if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) total += static_cast<uint64_t>(st.st_blocks) * 512;
    }
    return total;
  }
  std::string dir_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> peak_{0};
  std::thread thread_;
};

// Which archive tools the search path offers; /usr/bin/tar (GNU tar here,
// which cannot read a zip) is always tried first by its full path.
enum class Tools { GnuTarOnly, Bsdtar, Unzip };
const char* toolName(Tools t) {
  return t == Tools::GnuTarOnly ? "GNU tar only" : t == Tools::Bsdtar ? "bsdtar as tar" : "unzip";
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tmp / "X-Plane 12/";
    tl::writeFile(root + "X-Plane-x86_64", "");
    pluginDir = lumo::pluginDirOf(root);
    temp = tmp / "t";
    fs::create_directories(temp);
    outside = tmp / "outside";
    tl::writeFile(outside + "/target", "precious");
    fs::create_directories(site / "files");
    std::string err;
    ASSERT_TRUE(server.start(site.path(), 0, err)) << err;
    env.set("TMPDIR", temp);
  }
  // Serves spec as /files/<name>.
  std::string serveZip(const std::string& name, const json& spec) {
    makeZip(site / ("files/" + name), spec);
    return "/files/" + name;
  }
  bool install(const std::string& version, const std::string& url, Tools tools = Tools::Bsdtar) {
    const std::string bin = tmp / ("bin-" + std::to_string(static_cast<int>(tools)));
    fs::create_directories(bin);
    if (tools == Tools::Bsdtar && !fs::exists(fs::symlink_status(bin + "/tar")))
      fs::create_symlink("/usr/bin/bsdtar", bin + "/tar");
    if (tools == Tools::Unzip && !fs::exists(fs::symlink_status(bin + "/unzip")))
      fs::create_symlink("/usr/bin/unzip", bin + "/unzip");
    tl::EnvGuard path;
    path.set("PATH", bin);
    log.clear();
    error.clear();
    return lumo::installPlugin(root, pluginDir, "127.0.0.1", server.port(), lumo::Release{version, url, ""},
                               [this](const std::string& l) { log.push_back(l); }, error);
  }
  tl::TempDir tmp, site;
  tl::EnvGuard env;
  devserver::Server server;
  std::string root, pluginDir, temp, outside, error;
  std::vector<std::string> log;
};

TEST_F(Install, FirstInstallThenUpdateKeepsTheOldPluginFile) {
  for (Tools tools : {Tools::Bsdtar, Tools::Unzip}) {
    fs::remove_all(pluginDir);
    tl::writeFile(pluginDir + "/resources/publishers.json", "{}");  // not in the package: left alone
    ASSERT_TRUE(install("1.4.2", serveZip("p142.zip", goodPackage("1.4.2")), tools)) << toolName(tools) << error;
    EXPECT_EQ(log, (std::vector<std::string>{"Downloading 1.4.2...", "Unpacking...", "Installed Taxilume 1.4.2."}));
    EXPECT_EQ(tree(pluginDir), (std::map<std::string, std::string>{
                                   {"lin_x64/", ""},
                                   {"lin_x64/Taxilume.xpl", digest(kXplData + "1.4.2" + std::string(1500, 'x'))},
                                   {"resources/", ""},
                                   {"resources/publishers.json", "{}"},
                                   {"resources/readme.txt", "read me 1.4.2"},
                                   {"version.txt", "1.4.2"}}))
        << "no backup on a first installation; " << toolName(tools);
    EXPECT_EQ(lumo::installedVersion(pluginDir), "1.4.2");
    EXPECT_TRUE(tree(temp).empty()) << "download and staging folder are cleaned up";

    // An absolute URL on the default host: only its path is used, on the
    // configured server.
    serveZip("p20.zip", goodPackage("2.0"));
    ASSERT_TRUE(install("2.0", "https://api.taxilume.net/files/p20.zip", tools)) << error;
    EXPECT_EQ(tl::readFile(lumo::xplPath(pluginDir) + ".bak-2.0"), kXplData + "1.4.2" + std::string(1500, 'x'));
    EXPECT_EQ(tl::readFile(lumo::xplPath(pluginDir)), kXplData + "2.0" + std::string(1500, 'x'));
    EXPECT_EQ(tl::readFile(pluginDir + "/version.txt"), "2.0");
  }
}

TEST_F(Install, RefusedBeforeThePluginFolderChanges) {
  tl::writeFile(lumo::xplPath(pluginDir), "installed");
  tl::writeFile(pluginDir + "/version.txt", "1.0");
  const auto before = tree(pluginDir);
  const std::string good = serveZip("good.zip", goodPackage("9"));
  tl::writeFile(site / "files/small.zip", "PK" + std::string(1021, 'x'));
  tl::writeFile(site / "files/1024.bin", std::string(1024, 'x'));
  tl::writeFile(site / "files/page.html", "<html>" + std::string(2000, ' ') + "</html>");
  serveZip("other.zip", json::array({entry("Plugin/lin_x64/Taxilume.xpl", "", 1500)}));
  serveZip("noxpl.zip", json::array({entry("Taxilume/lin_x64/readme.txt", "", 1500)}));
  struct Case {
    std::string version, url, error;
  } cases[] = {
      {"1.5", "https://elsewhere.example/files/good.zip", "the published download is not on api.taxilume.net"},
      {"1.5", "https://api.taxilume.net", "the published download is not on api.taxilume.net"},
      {"1.5", "/files/missing.zip", "download failed: 127.0.0.1/files/missing.zip"},
      {"1.5", "/files/small.zip", "the download was only 1023 bytes - that is not a plugin"},
      {"1.5", "/files/1024.bin", "that download was not a plugin package"},  // passes the size check
      {"1.5", "/files/page.html", "that download was not a plugin package"},
      {"1.5", "/files/other.zip", "the package did not contain Taxilume.xpl"},
      {"1.5", "/files/noxpl.zip", "the package did not contain Taxilume.xpl"},
      {"../../escape", good, "the published plugin version is not a plain version text"},
      {"1.5/x", good, "the published plugin version is not a plain version text"},
      {"", good, "the published plugin version is not a plain version text"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(install(c.version, c.url)) << c.url;
    EXPECT_EQ(error, c.error) << c.version << " " << c.url;
    EXPECT_EQ(tree(pluginDir), before) << c.url;
    EXPECT_TRUE(tree(temp).empty()) << "working files are removed: " << c.url;
  }
  EXPECT_TRUE(tree(tmp / "escape").empty());
  EXPECT_FALSE(fs::exists(tmp / "escape.zip"));

  // X-Plane running from the root, and a pass in force, refuse up front.
  tl::copyExe("/bin/sleep", root + "Resources/sleeper");
  {
    tl::Child sim = tl::Child::start({root + "Resources/sleeper", "30"});
    EXPECT_FALSE(install("1.5", good));
    EXPECT_EQ(error, "X-Plane is running - close it first (the plugin file is locked while the sim is up)");
  }
  tl::writeFile(pluginDir + "/orvel_manifest.json", R"([{"file":"/x/apt.dat","icao":"EDDF"}])");
  EXPECT_FALSE(install("1.5", good));
  EXPECT_EQ(error, "the scenery is still suppressed - restore it before changing the plugin");
  EXPECT_TRUE(log.empty());
}

TEST_F(Install, NoToolThatReadsAZip) {
  ASSERT_FALSE(install("1.5", serveZip("good.zip", goodPackage("1.5")), Tools::GnuTarOnly));
  EXPECT_EQ(error, "the download could not be unpacked - this system has no tar that reads a zip, and no unzip");
  EXPECT_FALSE(fs::exists(lumo::xplPath(pluginDir)));
  EXPECT_TRUE(tree(temp).empty()) << "working files are removed";
}

// Hostile packages, each through each tool: refused before anything leaves
// the staging folder, and nothing written or linked outside it.
TEST_F(Install, HostilePackagesAreRefused) {
  const std::string xpl = "Taxilume/lin_x64/Taxilume.xpl";
  auto with = [&](std::vector<json> extra) {
    json spec = goodPackage("evil");
    for (auto& e : extra) spec.push_back(e);
    return spec;
  };
  struct Case {
    std::string what;
    json spec;  // null: built below with the zip program
    std::string error;
  };
  std::vector<Case> cases = {
      {"dot-dot", with({entry("../escape.txt", "owned")}),
       R"(refusing the package: the entry "../escape.txt" climbs out of its folder)"},
      {"dot-dot inside", with({entry("Taxilume/../../escape.txt", "owned")}),
       R"(refusing the package: the entry "Taxilume/../../escape.txt" climbs out of its folder)"},
      {"absolute", with({entry(tmp / "escape.txt", "owned")}),
       "refusing the package: the entry \"" + tmp / "escape.txt" + "\" has an absolute name"},
      {"backslash", with({entry("Taxilume\\..\\..\\escape.txt", "owned")}),
       R"(refusing the package: the entry "Taxilume\..\..\escape.txt" has a backslash in its name)"},
      {"link to a file", with({entry("Taxilume/lin_x64/extra.xpl", outside + "/target", 0, 0120777)}),
       R"(refusing the package: the entry "Taxilume/lin_x64/extra.xpl" is a link)"},
      {"link then write through it",
       json::array({entry("Taxilume/d", outside, 0, 0120777), entry("Taxilume/d/target", "owned", 1500),
                    entry(xpl, "")}),
       R"(refusing the package: the entry "Taxilume/d" is a link)"},
      {"device", with({entry("Taxilume/dev", "", 0, 020644)}),
       R"(refusing the package: the entry "Taxilume/dev" is a device or special file)"},
      {"fifo", with({entry("Taxilume/fifo", "", 0, 010644)}),
       R"(refusing the package: the entry "Taxilume/fifo" is a device or special file)"},
      {"duplicate", with({entry(xpl, "second")}),
       R"(refusing the package: the entry "Taxilume/lin_x64/Taxilume.xpl" appears twice)"},
      {"file used as folder", with({entry("Taxilume/lin_x64/Taxilume.xpl/x", "")}),
       R"(refusing the package: the entry "Taxilume/lin_x64/Taxilume.xpl" is both a file and a folder)"},
      {"dot part", with({entry("Taxilume/./x", "")}),
       R"(refusing the package: the entry "Taxilume/./x" has an empty or "." part in its name)"},
      {"control bytes", with({entry("Taxilume/a\nb", "")}),
       R"(refusing the package: the entry "Taxilume/a?b" has control characters in its name)"},
      {"local name differs", with({entry("Taxilume/zz/escape.txt", "owned"),
                                   json{{"rename_local", {"Taxilume/zz/escape.txt", "Taxilume/../escape.txt"}}}}),
       R"(refusing the package: the entry "Taxilume/zz/escape.txt" is named differently inside)"},
      {"zip --symlinks", nullptr, R"(refusing the package: the entry "Taxilume/resources" is a link)"},
      {"zip -P", nullptr, R"(refusing the package: the entry "Taxilume/lin_x64/Taxilume.xpl" is encrypted)"},
  };
  // Packages made by the zip program itself: a stored link, and encryption
  // (which would make unzip wait for a password on the launcher's stdin).
  const std::string src = tmp / "src";
  tl::writeFile(src + "/" + xpl, std::string(1500, 'x'));
  fs::create_directory_symlink(outside, src + "/Taxilume/resources");
  int status = 0;
  tl::runOutput({"/bin/sh", "-c", "cd \"$0\" && zip -q -0 -r --symlinks \"$1\" Taxilume", src, site / "files/zip-symlinks.zip"},
                &status);
  ASSERT_EQ(status, 0);
  fs::remove(src + "/Taxilume/resources");
  tl::runOutput({"/bin/sh", "-c", "cd \"$0\" && zip -q -0 -r -P secret \"$1\" Taxilume", src, site / "files/zip-P.zip"},
                &status);
  ASSERT_EQ(status, 0);

  tl::writeFile(lumo::xplPath(pluginDir), "installed");
  const auto before = tree(pluginDir);
  const auto outsideBefore = tree(outside);
  for (const Case& c : cases) {
    std::string url = c.spec.is_null() ? (c.what == "zip -P" ? "/files/zip-P.zip" : "/files/zip-symlinks.zip")
                                       : serveZip("evil.zip", c.spec);
    for (Tools tools : {Tools::GnuTarOnly, Tools::Bsdtar, Tools::Unzip}) {
      EXPECT_FALSE(install("6.6", url, tools)) << c.what << ", " << toolName(tools);
      EXPECT_EQ(error, c.error) << c.what << ", " << toolName(tools);
      EXPECT_EQ(tree(pluginDir), before) << c.what << ", " << toolName(tools);
      EXPECT_EQ(tree(outside), outsideBefore) << c.what << ", " << toolName(tools);
      EXPECT_TRUE(tree(temp).empty()) << c.what << ": working files are removed";
    }
  }
  for (const auto& e : fs::recursive_directory_iterator(tmp.path()))
    EXPECT_NE(e.path().filename(), "escape.txt") << e.path();
}

// A published location is only ever a path on the configured server: the
// other server, named every way a URL can name a host, hears nothing.
TEST_F(Install, PublishedUrlNeverReachesAnotherHost) {
  tl::TempDir otherSite;
  fs::create_directories(otherSite / "files");
  makeZip(otherSite / "files/good.zip", goodPackage("6.6"));
  devserver::Server other;
  std::string err;
  ASSERT_TRUE(other.start(otherSite.path(), 0, err)) << err;
  const std::string at = "127.0.0.1:" + std::to_string(other.port());
  for (const std::string& url : {"@" + at + "/files/good.zip", "http://" + at + "/files/good.zip",
                                 "//" + at + "/files/good.zip", ":" + std::to_string(other.port()) + "/files/good.zip",
                                 "https://api.taxilume.net@" + at + "/files/good.zip",
                                 "http://127.0.0.1:" + std::to_string(server.port()) + "@" + at + "/files/good.zip",
                                 std::string(".evil.example/files/good.zip"), std::string("files/good.zip")}) {
    EXPECT_FALSE(install("6.6", url)) << url;
    EXPECT_EQ(error, "the published download is not on api.taxilume.net") << url;
    EXPECT_TRUE(log.empty()) << url;
  }
  EXPECT_EQ(other.requests(), 0);
  EXPECT_EQ(server.requests(), 0);
  EXPECT_FALSE(fs::exists(pluginDir));

  // The configured server named in full is the configured server.
  serveZip("good.zip", goodPackage("6.7"));
  ASSERT_TRUE(install("6.7", "http://127.0.0.1:" + std::to_string(server.port()) + "/files/good.zip")) << error;
  EXPECT_EQ(server.log(), (std::vector<std::string>{"/files/good.zip"}));
  EXPECT_EQ(other.requests(), 0);
}

// A package may not fill the disk, whatever its archive declares: refused
// before unpacking when its sizes add up to too much, and held to what it
// declares while a tool unpacks it.
TEST_F(Install, PackagesThatWouldFillTheDiskAreRefused) {
  tl::writeFile(lumo::xplPath(pluginDir), "installed");
  const auto before = tree(pluginDir);
  const std::string xpl = "Taxilume/lin_x64/Taxilume.xpl";
  // 64 MB of one byte squeezed into about 64 KB, declared as 1000 bytes.
  json liar = goodPackage("bomb");
  liar.push_back({{"name", "Taxilume/bomb.bin"}, {"size", 64 << 20}, {"deflate", true}, {"declare", 1000}});
  json honest = goodPackage("big");
  honest.push_back({{"name", "Taxilume/big.bin"}, {"size", 10}, {"declare", 300 << 20}});
  json zip64 = goodPackage("z");
  zip64.push_back({{"name", "Taxilume/huge.bin"}, {"size", 10}, {"declare", 0xFFFFFFFFu}});
  struct Case {
    const char* what;
    std::string url, error;
    std::string bsdtarError;  // when it differs: bsdtar cuts the file at its declared size, then fails
  } cases[] = {
      {"declares 300 MB", serveZip("honest.zip", honest), "the package would unpack to 301 MB - refusing", ""},
      {"Zip64 sizes", serveZip("zip64.zip", zip64), "refusing the package: it is not a zip archive we can read", ""},
      {"lies about its size", serveZip("liar.zip", liar),
       "the package would unpack to more than it declares - refusing",
       "the package did not unpack cleanly - refusing it"},
  };
  const uint64_t zipBytes = fs::file_size(site / "files/liar.zip");
  ASSERT_LT(zipBytes, 1u << 20);
  for (const Case& c : cases) {
    for (Tools tools : {Tools::Bsdtar, Tools::Unzip}) {
      DiskPeak peak(temp);
      EXPECT_FALSE(install("6.6", c.url, tools)) << c.what << ", " << toolName(tools);
      EXPECT_EQ(error, tools == Tools::Bsdtar && !c.bsdtarError.empty() ? c.bsdtarError : c.error)
          << c.what << ", " << toolName(tools);
      // The download, and of the bomb no more than a sliver.
      EXPECT_LT(peak.finish(), zipBytes + (1u << 20)) << c.what << ", " << toolName(tools);
      EXPECT_EQ(tree(pluginDir), before) << c.what;
      EXPECT_TRUE(tree(temp).empty()) << c.what << ": nothing is left behind";
    }
  }
}

// A temporary folder on a small file system of its own (root only: it is a
// real mount), unmounted however the test ends.
struct SmallDisk {
  std::string dir;
  bool mounted = false;
  SmallDisk(const std::string& at, const std::string& size) : dir(at) {
    fs::create_directories(dir);
    if (::geteuid() != 0) return;
    int status = 0;
    tl::runOutput({"/bin/mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", dir}, &status);
    mounted = status == 0;
  }
  ~SmallDisk() {
    if (mounted) tl::runOutput({"/bin/umount", dir});
  }
};

// A full disk is named as the cause, and nothing is left on it.
TEST_F(Install, NoRoomIsSaidAsSuch) {
  json big = goodPackage("big");
  big.push_back(entry("Taxilume/big.bin", "", 6 << 20));  // stored: 6 MB on the wire and unpacked
  const std::string url = serveZip("big.zip", big);
  {
    SmallDisk disk(tmp / "small", "4m");
    if (!disk.mounted) GTEST_SKIP() << "needs root to mount a small file system";
    env.set("TMPDIR", disk.dir);
    EXPECT_FALSE(install("7.0", url));
    EXPECT_EQ(error, "no space left in " + disk.dir + "/ for the download");
    EXPECT_TRUE(tree(disk.dir).empty());
  }
  {
    SmallDisk disk(tmp / "small2", "12m");
    ASSERT_TRUE(disk.mounted);
    env.set("TMPDIR", disk.dir);
    EXPECT_FALSE(install("7.0", url));
    EXPECT_EQ(error.rfind("no space left in " + disk.dir + "/Taxilume-7.0-stage for the package: it unpacks to 7 MB, ", 0), 0u)
        << error;
    EXPECT_TRUE(tree(disk.dir).empty());
  }
  EXPECT_FALSE(fs::exists(lumo::xplPath(pluginDir)));
}

// Many files, each lying within the largest size declared: the whole is
// stopped at the limit.
TEST(ExtractZip, TheWholeIsHeldToTheLimitWhileUnpacking) {
  tl::TempDir tmp;
  json spec = json::array({{{"name", "Taxilume/honest.bin"}, {"size", 600 << 10}}});
  for (int i = 0; i < 8; ++i)
    spec.push_back({{"name", "Taxilume/liar" + std::to_string(i)}, {"size", 16 << 20}, {"deflate", true}, {"declare", 10}});
  makeZip(tmp / "bomb.zip", spec);
  for (const char* tool : {"/usr/bin/bsdtar", "/usr/bin/unzip"}) {
    const std::string bin = tmp / "bin", stage = tmp / "stage";
    fs::remove_all(bin);
    fs::create_directories(bin);
    fs::create_symlink(tool, bin + (std::string(tool).find("unzip") != std::string::npos ? "/unzip" : "/tar"));
    fs::remove_all(stage);
    fs::create_directories(stage);
    tl::EnvGuard path;
    path.set("PATH", bin);
    std::string error;
    DiskPeak peak(stage);
    EXPECT_FALSE(lumo::extractZip(tmp / "bomb.zip", stage, error, 1 << 20)) << tool;
    const uint64_t used = peak.finish();
    const bool bsdtar = std::string(tool).find("bsdtar") != std::string::npos;
    EXPECT_EQ(error, bsdtar ? "the package did not unpack cleanly - refusing it"
                            : "the package would unpack to more than 1 MB - refusing")
        << tool;
    // Each file is held to the largest declared size (600 KB) by the file
    // size limit, and the whole is checked every few milliseconds: without
    // them the 128 MB would land.
    EXPECT_LE(used, 9u * ((600u << 10) + 4096)) << tool;
    fs::remove_all(stage);
  }
}

// The second line of defence: whatever a tool unpacked is walked without
// following links, and only plain folders and the listed files pass.
TEST(CheckUnpacked, OnlyListedPlainFilesPass) {
  tl::TempDir tmp;
  const std::vector<lumo::ZipEntry> listed = {{"Taxilume/", 040755, false, 0}, {"Taxilume/a.txt", 0, false, 1}};
  std::string error;
  tl::writeFile(tmp / "Taxilume/a.txt", "a");
  EXPECT_TRUE(lumo::checkUnpacked(tmp.path(), listed, error)) << error;

  fs::create_symlink("/etc/passwd", tmp / "Taxilume/link");
  EXPECT_FALSE(lumo::checkUnpacked(tmp.path(), listed, error));
  EXPECT_EQ(error, R"(refusing the package: the unpacked "Taxilume/link" is a link)");
  fs::remove(tmp / "Taxilume/link");

  ASSERT_EQ(::mkfifo((tmp / "Taxilume/fifo").c_str(), 0644), 0);
  EXPECT_FALSE(lumo::checkUnpacked(tmp.path(), listed, error));
  EXPECT_EQ(error, R"(refusing the package: the unpacked "Taxilume/fifo" is a device or special file)");
  fs::remove(tmp / "Taxilume/fifo");

  tl::writeFile(tmp / "Taxilume/a.txt", "ab");
  EXPECT_FALSE(lumo::checkUnpacked(tmp.path(), listed, error));
  EXPECT_EQ(error, R"(refusing the package: the unpacked "Taxilume/a.txt" is larger than the archive says)");
  tl::writeFile(tmp / "Taxilume/a.txt", "a");

  tl::writeFile(tmp / "Taxilume/sub/unlisted.txt", "?");
  EXPECT_FALSE(lumo::checkUnpacked(tmp.path(), listed, error));
  EXPECT_EQ(error, R"(refusing the package: the unpacked "Taxilume/sub/unlisted.txt" is not in the archive's list)");
}

// Links already in the plugin folder or planted in the shared temporary
// folder are replaced or refused, never written through.
TEST_F(Install, LinksInTheWayAreNotFollowed) {
  const std::string url = serveZip("good.zip", goodPackage("3.0"));
  fs::create_directories(pluginDir + "/lin_x64");
  fs::create_symlink(outside + "/target", lumo::xplPath(pluginDir));
  fs::create_symlink(outside + "/target", temp + "/Taxilume-3.0.zip");
  fs::create_directory_symlink(outside, temp + "/Taxilume-3.0-stage");
  ASSERT_TRUE(install("3.0", url)) << error;
  EXPECT_EQ(tl::readFile(outside + "/target"), "precious");
  EXPECT_EQ(tree(outside), (std::map<std::string, std::string>{{"target", "precious"}}));
  EXPECT_FALSE(fs::is_symlink(lumo::xplPath(pluginDir)));
  EXPECT_EQ(tl::readFile(lumo::xplPath(pluginDir)), kXplData + "3.0" + std::string(1500, 'x'));
  EXPECT_EQ(tl::readFile(lumo::xplPath(pluginDir) + ".bak-3.0"), "precious") << "the old plugin's bytes";

  // A folder inside the plugin folder that is a link elsewhere is refused.
  fs::remove_all(pluginDir + "/resources");
  fs::create_directory_symlink(outside, pluginDir + "/resources");
  EXPECT_FALSE(install("3.0", url));
  EXPECT_EQ(error, "could not write into the plugin folder: " + pluginDir + "/resources is not a folder");
  EXPECT_EQ(tree(outside), (std::map<std::string, std::string>{{"target", "precious"}}));
}

// Users share one plugin between installations by making the plugin folder
// a link: it is followed, as the refresh and the pass do. A link to nothing
// is refused before a single file is written.
TEST_F(Install, PluginFolderThatIsALinkIsFollowed) {
  const std::string shared = tmp / "shared/Taxilume";
  tl::writeFile(lumo::xplPath(shared), "old plugin");
  fs::create_directories(fs::path(pluginDir).parent_path());
  fs::create_directory_symlink(shared, pluginDir);
  ASSERT_TRUE(install("4.0", serveZip("p40.zip", goodPackage("4.0")))) << error;
  EXPECT_TRUE(fs::is_symlink(pluginDir));
  EXPECT_EQ(tl::readFile(lumo::xplPath(shared)), kXplData + "4.0" + std::string(1500, 'x'));
  EXPECT_EQ(tl::readFile(lumo::xplPath(shared) + ".bak-4.0"), "old plugin");
  EXPECT_EQ(lumo::installedVersion(pluginDir), "4.0");

  fs::remove_all(tmp / "shared");
  EXPECT_FALSE(install("4.1", serveZip("p41.zip", goodPackage("4.1"))));
  EXPECT_EQ(error, "could not write into the plugin folder: " + pluginDir + " is not a folder");
  EXPECT_FALSE(fs::exists(tmp / "shared")) << "nothing written through the dangling link";
  EXPECT_TRUE(tree(temp).empty());
}

}  // namespace
