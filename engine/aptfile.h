// Rewriting one whole apt.dat against the reference geometry of a pass.
//
// suppressAll is what the pass calls per file, in scenery order: it makes
// sure a trustworthy byte-exact backup exists (P + ".taxilume-orig"), writes
// the provisional cut mark, rewrites the file airport block by airport block
// (taken runs first, then the light split), and writes the final mark with
// the new size and time. Just before the new content replaces P, the
// provisional mark names its size and time: a crash between that rename and
// the final mark then leaves P provably ours. An existing backup is used
// only when P is proven the file we wrote or the original it copies
// (orvel::judgeFile); a failed rewrite that never replaced P removes the
// backup and mark it made. rewriteBlocks is the reader/writer underneath: it
// cuts the file into airport blocks (a block starts at a 1, 16 or 17 row and
// ends before the next one or at 99), hands each to a function, writes the
// result to P + ".taxilume-tmp", and only when something changed flushes it
// and renames it over P.
//
// Failure: suppressAll returns an OpResult with ok false and a one-line
// message naming where the backup is; rewriteBlocks returns false and leaves
// P as it was (or, should the rename itself have lost P, brings it back from
// the backup). A read error part way through the file is a failure, never
// taken for its end, so a shortened rewrite can never replace P.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/blocks.h"
#include "engine/scope.h"
#include "engine/taken.h"
#include "scenery/files.h"

namespace orvel {

// fn (orvel::BlockFn of engine/blocks.h) gets each block's airport code and
// rows and returns true when it changed them. True when P was read to its
// end and either left alone (changed false) or replaced completely (changed
// true). beforeReplace, when given, runs once the new content is complete
// and on disk, just before it is renamed over P; returning false abandons
// the rewrite with P untouched. wants, when given, names the airport codes
// fn could change at all; other blocks are copied through without being cut
// into rows, which keeps a rewrite of the world file near the cost of a copy.
// error, when given, receives the system's reason for a failure.
[[nodiscard]] bool rewriteBlocks(const std::string& path, bool& changed, const BlockFn& fn,
                                 const std::function<bool()>& beforeReplace = {}, const CodeFilter& wants = {},
                                 std::string* error = nullptr);
// The same with a walk over the rows as read (orvel::BlockTextFn), which is
// what suppressAll uses: no row is copied unless it changes.
[[nodiscard]] bool rewriteBlocksText(const std::string& path, bool& changed, const BlockTextFn& fn,
                                     const std::function<bool()>& beforeReplace = {},
                                     const CodeFilter& wants = {}, std::string* error = nullptr);

}  // namespace orvel

namespace orveldb {

// scopes: airport code -> reference geometry of the airports this pass
// suppresses; base: the pass's tolerances (pointers null); touched: codes of
// the blocks found in scopes, appended only when the rewrite succeeded;
// taken: may be null; manifestDir: the plugin folder whose manifest backs up
// a missing cut mark, or empty.
[[nodiscard]] orvel::OpResult suppressAll(const std::string& path,
                            const ScopeMap& scopes,
                            const orvel::SuppressScope& base, std::vector<std::string>& touched,
                            TakenMap* taken,
                            const std::string& manifestDir);

}  // namespace orveldb
