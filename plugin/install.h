// Installing and updating the Taxilume plugin from the server: download the
// published package (a zip), check it, unpack it with the system's tar or
// unzip into a staging folder, copy its "Taxilume" folder into the plugin
// folder, keep the previous plugin file as ".bak-" + the new version, and
// record the version in version.txt.
//
// Calling order: the plugin job calls installPlugin with the newest release
// (lumo::fetchLatest for "xplane"); it refuses while X-Plane runs and while
// a suppression pass is in force. installedVersion reads version.txt back
// for the refresh.
//
// The package is not trusted: its published version must be a plain version
// text (it becomes part of file names), and every archive entry is listed
// before anything is unpacked - absolute names, "..", backslashes, links,
// devices and duplicates refuse the whole package. What was unpacked is
// walked without following links before a single file is copied.
//
// A package may not fill the disk: the sizes its archive declares must add
// up to at most kMaxUnpackBytes and fit in the free space, and while a tool
// unpacks it no file may outgrow the largest declared size and the whole
// may not pass the limit (an archive can lie about its sizes).
//
// The published "url" must be a path on the configured server (or an
// absolute URL naming it; net::publishedPath); the download always goes to
// the configured host and port.
//
// A plugin folder that is a link to a folder (users share one plugin between
// installations) is followed, as the refresh and the pass do.
//
// Failure: bool + error text, which the job logs with "!! ". Before the copy
// into the plugin folder starts, nothing in X-Plane has changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/log.h"
#include "host/selfupdate.h"  // plainVersion
#include "server/api.h"

namespace lumo {

constexpr std::size_t kMinPluginBytes = 1024;
// The plugin is a few MB; this is generous.
constexpr std::uint64_t kMaxUnpackBytes = 256u << 20;

// Downloads release from host:port and installs it into pluginDir (root +
// "Resources/plugins/Taxilume"). True when the new plugin is in place.
[[nodiscard]] bool installPlugin(const std::string& root, const std::string& pluginDir, const std::string& host,
                   int port, const Release& release, const LogFn& log, std::string& error);

// Unpacks the zip at zip into the existing, empty folder, after checking
// every entry and the sizes it declares against maxBytes and the free
// space, with /usr/bin/tar, then tar, then unzip (the first that runs and
// exits 0), under the limits above, then walks what was unpacked. On a
// refusal the folder may hold part of the package; the caller removes it.
[[nodiscard]] bool extractZip(const std::string& zip, const std::string& folder, std::string& error,
                              std::uint64_t maxBytes = kMaxUnpackBytes);

// The first line of pluginDir/version.txt without trailing "\n", "\r" and
// blanks; empty when unreadable ("version unknown").
[[nodiscard]] std::string installedVersion(const std::string& pluginDir);

}  // namespace lumo
