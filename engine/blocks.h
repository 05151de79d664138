// Streaming cut of a whole airport file into airport blocks.
//
// forEachBlock reads lines (ending at LF, one trailing CR removed), groups
// them into blocks that start at a row whose code (the text before the first
// space) is 1, 16 or 17, and ends a block at the next header, at "99" or at
// the end of input. Rows before the first header and from "99" on are written
// through. Each block is handed to fn (unless the filter turns it away) with its airport code and
// its rows, which fn may rewrite; the rows as fn left them are written. Every
// row written gets a single LF. Only one block is held at a time.
//
// It returns false when the input stream failed before its end (a read error
// is never taken for the end of the file) or when writing failed; changed
// tells whether any fn call reported a change. The caller owns both streams
// and decides what a failure means for the file behind them.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// Gets a block's airport code and rows; returns true when it changed rows.
// The code is token 2 of the first row starting "1302" whose tokens are >= 3
// with token 1 "icao_code"; else token 4 of the header row when it has >= 5
// tokens; else "".
using BlockFn = std::function<bool(const std::string& code, std::vector<std::string>& rows)>;

// Optional filter on the airport code: a block whose code it rejects is
// written through as read, without fn and without being cut into rows. The
// file rewrite passes "is the code in the scope map", which keeps a world
// file's rewrite close to the cost of a copy.
using CodeFilter = std::function<bool(const std::string& code)>;

bool forEachBlock(std::istream& in, std::ostream& out, const BlockFn& fn, bool& changed,
                  const CodeFilter& wants = {});

// The same cut for a rewrite that works on the bytes as read: fn gets each
// wanted block's rows as views (valid during the call only) and appends the
// block's new text to `text` (each row followed by LF) and returns true when
// it changes the block; when it returns false whatever it appended is
// dropped and the block goes out as read. Nothing is allocated per row.
using BlockTextFn = std::function<bool(const std::string& code, const std::vector<std::string_view>& rows,
                                       std::string& text)>;
bool forEachBlockText(std::istream& in, std::ostream& out, const BlockTextFn& fn, bool& changed,
                      const CodeFilter& wants = {});

// Read-only walk: the same cut without writing anything. fn returns false to
// stop early; the walk then returns false, as it does on a read error.
using BlockVisit = std::function<bool(const std::string& code, const std::vector<std::string>& rows)>;
bool visitBlocks(std::istream& in, const BlockVisit& fn);

}  // namespace orvel
