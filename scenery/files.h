// The files that lie beside an apt.dat, and the one way we replace a file.
//
// Anything that must never be seen half-written (backups, restored and
// rewritten apt.dat files, the manifest, the taken record, the pick files)
// goes through lumo::writeFileOver / orvel::copyFile: the bytes are written
// to path + ".taxilume-part" beside the target, flushed with fsync, renamed
// over the target, and then the folder itself is flushed so that the rename
// survives a power cut. On every failure the part file is removed and the
// target is left exactly as it was.
//
// Beside an apt.dat P lie: P + ".taxilume-orig" (byte-exact backup, made by
// the first pass that changes P), P + ".taxilume-cut" (the cut mark: size and
// mtime of the file we wrote, or "-1 0" while a rewrite is in progress),
// and, only while an operation runs, the ".taxilume-part" / ".taxilume-tmp"
// copies.
//
// The plugin reads only the first two numbers of a mark. A provisional mark
// written just before the rewritten file replaces P carries, after them,
// "next SIZE MTIME": the size and time the new P will have. With it, a crash
// between that rename and the final mark leaves P provably ours, and nothing
// else is taken for ours - no time window decides who owns a file.
//
// Calling order for one file: readCutMark, judgeFile to decide, copyFile for
// the backup, writeMark(P, -1, 0), writeNextMark just before the rename,
// then writeMark(P, size, mtime). Restore: copyFile back, remove the
// backup, clearCutMark.
//
// Failure: functions return false (or an invalid mark) and never throw; the
// optional error text is the system's reason ("No space left on device").
// A mark that could not be written leaves the earlier mark file as it was
// (marks are replaced like every other file here).
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace lumo {

// Crash-safe replacement of path by bytes (see above). True when path now
// holds exactly bytes; false leaves path untouched and no part file behind.
[[nodiscard]] bool writeFileOver(const std::string& path, const std::string& bytes,
                                 std::string* error = nullptr);

// Flushes the folder holding path, so that a rename into it is durable.
// False when the folder cannot be opened or the flush fails.
[[nodiscard]] bool fsyncParentDir(const std::string& path);

// Serialises json (indent 2 blanks, no trailing newline, keys sorted) and
// replaces path with it through writeFileOver. Never throws: strings that
// are not valid UTF-8 are written with the reversible encoding below.
[[nodiscard]] bool writeJsonOver(const std::string& path, const nlohmann::json& json,
                                 std::string* error = nullptr);

// Reversible text for JSON. Paths and airport codes come from the user's
// disk and may be any bytes; JSON text must be UTF-8. Valid UTF-8 passes
// through unchanged; every byte that is not part of a valid sequence is
// written as the code point U+10FF00 + byte (the last 128 code points of
// plane 16, private use), and a real character from that range is itself
// written byte by byte the same way, so decoding is exact for every input.
std::string textForJson(const std::string& bytes);
std::string textFromJson(const std::string& text);

// The same over every string (values and keys) of a JSON value.
nlohmann::json jsonForText(const nlohmann::json& j);
nlohmann::json jsonFromText(const nlohmann::json& j);

// json.dump(indent) that never throws, through jsonForText.
std::string dumpJson(const nlohmann::json& j, int indent);

// Parses text (then jsonFromText); false with j untouched on a parse error.
[[nodiscard]] bool parseJson(const std::string& text, nlohmann::json& j);

}  // namespace lumo

namespace orvel {

// Result of a per-file operation (rewrite or restore).
struct OpResult {
  bool ok = false;
  std::string message;  // one line for the log
  int exclusions = 0;   // splits made by the rewrite; 0 for restore
  std::string file;     // the apt.dat the operation was about
  bool changed = false; // the apt.dat was rewritten
};

// What a cut mark says. size < 0 makes it provisional (rewrite in progress);
// hasNext: it names the rewrite about to replace P (nextSize, nextMtime).
struct CutMark {
  int64_t size = 0;
  int64_t mtime = 0;
  bool valid = false;
  bool hasNext = false;
  int64_t nextSize = 0;
  int64_t nextMtime = 0;
};

// What an apt.dat is, judged from the files beside it and its expected mark.
enum class AptState {
  kUntouched,    // no backup; P is not a file we cut (a left-over mark does not count)
  kCut,          // backup present; P is the file we wrote (the mark proves it)
  kOriginal,     // backup present; P holds the same bytes as the backup
  kMissing,      // backup present; P is gone or empty
  kChanged,      // backup present; P is neither ours nor the original: the backup is older
  kCutNoBackup,  // no backup; the mark says P is a file we cut
  kGone,         // neither backup nor P
};

// stat (following links): size in bytes, mtime in whole seconds. False
// leaves both alone.
bool fileStat(const std::string& path, int64_t& size, int64_t& mtime);

// Crash-safe copy of src over dst through dst + ".taxilume-part". The copy
// gets a fresh mtime. False leaves dst untouched and removes the part file.
[[nodiscard]] bool copyFile(const std::string& src, const std::string& dst, std::string* error = nullptr);

// True when both files exist and hold the same bytes.
[[nodiscard]] bool sameBytes(const std::string& a, const std::string& b);

// Reads aptPath + ".taxilume-cut"; missing, empty or garbled: valid false.
CutMark readCutMark(const std::string& aptPath);

// Replaces aptPath + ".taxilume-cut" with "size mtime\n"; false when it
// could not be written (the old mark then stays).
[[nodiscard]] bool writeMark(const std::string& aptPath, int64_t size, int64_t mtime,
                             std::string* error = nullptr);

// The provisional mark "-1 0 next SIZE MTIME\n": the rewrite that is about
// to replace aptPath will have that size and time.
[[nodiscard]] bool writeNextMark(const std::string& aptPath, int64_t nextSize, int64_t nextMtime,
                                 std::string* error = nullptr);

// Removes aptPath + ".taxilume-cut"; a missing file is no error. False
// when it is still there.
[[nodiscard]] bool clearCutMark(const std::string& aptPath);

// True when aptPath is still the file the mark describes: a final mark by
// size and time, a provisional one only by the rewrite it names.
[[nodiscard]] bool markSays(const CutMark& mark, const std::string& aptPath);

// Judges aptPath against its backup and expected (the mark file, or the
// manifest's mark when there is none). Compares P with the backup byte for
// byte only when the mark does not already prove P ours.
[[nodiscard]] AptState judgeFile(const std::string& aptPath, const CutMark& expected);

// The system's reason for the last failed call on this thread
// (strerror(errno)), for messages.
std::string systemReason();

}  // namespace orvel
