// What the launcher relies on from an X-Plane 12 installation and from the
// Taxilume plugin inside it: the names of the files and folders below the
// root (a path ending in "/") and below the plugin folder (no trailing "/").
//
// These are names only: nothing here touches the disk, so nothing can fail.
#pragma once

#include <string>

namespace lumo {

// Below the root.
constexpr const char* kXPlaneExe = "X-Plane-x86_64";     // what "Launch X-Plane" starts
constexpr const char* kXPlaneLog = "Log.txt";            // rewritten when X-Plane starts
constexpr const char* kXPlaneVersionFile = "Resources/version.txt";
constexpr const char* kPluginSubdir = "Resources/plugins/Taxilume";
constexpr const char* kFontRegular = "Resources/fonts/Roboto-Regular.ttf";
constexpr const char* kFontBold = "Resources/fonts/Roboto-Bold.ttf";
constexpr const char* kSceneryPacksIni = "Custom Scenery/scenery_packs.ini";
constexpr const char* kGlobalAptDat = "Global Scenery/Global Airports/Earth nav data/apt.dat";
// Outside the root: X-Plane's install record, below the home folder.
constexpr const char* kInstallRecord = "/.x-plane/x-plane_install_12.txt";

// Below the plugin folder.
constexpr const char* kPluginVersionFile = "version.txt";
constexpr const char* kPluginArch = "lin_x64";
constexpr const char* kPluginFile = "Taxilume.xpl";

// root + "Resources/plugins/Taxilume" (root ends in "/").
std::string pluginDirOf(const std::string& root);
// pluginDir + "/lin_x64/Taxilume.xpl": the plugin file X-Plane loads on Linux.
std::string xplPath(const std::string& pluginDir);

}  // namespace lumo
