// The pack list's two user operations: pick a map for a pack, and exclude a
// pack from suppression or take it back. Both save the choice at once in the
// plugin folder (publishers.json, launcher_packs.json) and re-classify the
// scan in g_app so every row of the pack shows it.
//
// Call from the main thread (or a front end's own thread) with g_app's
// mutex NOT held: each copies what it needs under it, reads and writes the
// files without it, stores the result under it (unless a new scan came in
// meanwhile), then logs one line through App::say. An index that is not a row of the
// scan does nothing. A failed write is logged ("!! could not save ..."), the
// scan is then left as it was, and the row stays listed either way.
//
// No window code here: the command-line front end uses these as well.
#pragma once

#include <cstddef>
#include <string>

// publisher: the chosen publisher's name; empty for the base map.
void pickPack(size_t index, const std::string& publisher);

void setPackDismissed(size_t index, bool dismissed);
