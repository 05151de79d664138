// Finding the X-Plane 12 folder (the root): without asking the user, from the
// launcher's own folder and those above it, the remembered root, X-Plane's
// install record and the Steam libraries; or with the desktop's folder
// picker when the user presses "Browse...".
//
// Calling order: start-up calls findRoot once, passes the result through
// canonicalRoot and, when not empty, rememberRoot. The window shows
// findRootProbed() (every place examined, in order) while no root is known.
// The Browse job calls browseForRoot, then canonicalRoot and looksLikeXPlane,
// then rememberRoot for an accepted folder.
//
// Failure: nothing here throws or logs. Unreadable files are skipped, folders
// that are not X-Plane are passed over, an empty string means "no root". The
// only message is browseForRoot's, when no picker program could be run.
#pragma once

#include <string>
#include <vector>

namespace lumo {

// Steam's Flatpak application id; its data folder is the fourth Steam root.
constexpr const char* kSteamFlatpakId = "com.valvesoftware.Steam";

// Text of the probe line added when not a single place was examined.
constexpr const char* kNothingProbed =
    "no install record, no Steam library and no X-Plane folder above the launcher";

// The root to use: explicitRoot (--root) as given with slashes and a trailing
// "/", unchecked; else the first source that yields an X-Plane folder. Empty
// when none did. Empties and refills findRootProbed().
[[nodiscard]] std::string findRoot(const std::string& explicitRoot);
// The places the last findRoot examined, one line each ("beside the launcher:
// ...", "remembered (...)", "X-Plane's install record: ...", "Steam library:
// ..."). One list per process.
std::vector<std::string>& findRootProbed();

// folder holds "Resources/version.txt", "X-Plane.exe", "X-Plane.app" or
// "X-Plane-x86_64" (file or folder).
[[nodiscard]] bool looksLikeXPlane(const std::string& folder);

// Appends the Steam root candidate (when it exists and is not listed yet)
// and then the library folders its steamapps/libraryfolders.vdf names, each
// only once.
void addSteamRoot(const std::string& candidate, std::vector<std::string>& roots);

// path resolved weakly canonically, with slashes and a trailing "/"; path
// unchanged when that fails; empty for empty.
[[nodiscard]] std::string canonicalRoot(const std::string& path);

// Writes root, exactly, to configDir() + "/xproot.txt". Errors are ignored.
void rememberRoot(const std::string& root);

// Runs zenity, else kdialog, and returns the picked folder with a trailing
// "/", or empty (cancelled, or no picker). When neither could be run and
// error is given, *error receives a message for the log.
[[nodiscard]] std::string browseForRoot(std::string* error = nullptr);

}  // namespace lumo
