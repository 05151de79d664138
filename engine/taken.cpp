#include "engine/taken.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "engine/lightwalk.h"
#include "scenery/files.h"
#include "common/siblings.h"

namespace orveldb {

std::vector<TakenRun> takenByPass(const std::vector<std::string>& rows,
                                  const orvel::SuppressScope& scope) {
  std::vector<std::string_view> views(rows.begin(), rows.end());
  std::vector<TakenRun> out;
  int splits = 0;
  orvel::LightWalk walk;
  walk.walk(views, scope, nullptr, nullptr, splits, &out);
  return out;
}

}  // namespace orveldb

namespace lumo {

namespace {

double round7(double x) {
  const double r = std::round(x * 1e7) / 1e7;
  // Beyond about 9e300 the scaling overflows; such a value is nonsense but
  // must not turn into null in the record.
  return std::isfinite(r) ? r : x;
}

}  // namespace

namespace {

// A number as the record has always spelled it (the JSON library's layout:
// fixed notation with at least one decimal between 1e-4 and 1e15, else
// d.ddde+XX with two exponent digits at least) but with the shortest digits
// that read back to the same double, which to_chars gives.
void appendNumber(std::string& out, double x) {
  if (!std::isfinite(x)) {
    out += "null";
    return;
  }
  if (x == 0) {
    out += std::signbit(x) ? "-0.0" : "0.0";
    return;
  }
  char sci[40];
  const auto r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[24];
  int k = 0;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') digits[k++] = *p;
  int e = 0;
  std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
  const int n = e + 1;  // where the point goes, counted from the first digit
  constexpr int kMinExp = -4, kMaxExp = 15;
  if (k <= n && n <= kMaxExp) {
    out.append(digits, static_cast<std::size_t>(k));
    out.append(static_cast<std::size_t>(n - k), '0');
    out += ".0";
  } else if (0 < n && n <= kMaxExp) {
    out.append(digits, static_cast<std::size_t>(n));
    out += '.';
    out.append(digits + n, static_cast<std::size_t>(k - n));
  } else if (kMinExp < n && n <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-n), '0');
    out.append(digits, static_cast<std::size_t>(k));
  } else {
    out += digits[0];
    if (k > 1) {
      out += '.';
      out.append(digits + 1, static_cast<std::size_t>(k - 1));
    }
    int x10 = n - 1;
    out += 'e';
    out += x10 < 0 ? '-' : '+';
    if (x10 < 0) x10 = -x10;
    if (x10 < 10) out += '0';
    out += std::to_string(x10);
  }
}

// A JSON string of text already made reversible (textForJson), escaped by
// the JSON library, which never fails on such text.
std::string jsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Written directly rather than through a JSON value: a world-scale record
// holds tens of thousands of runs, and building the value costs far more
// than the text. Keys come in byte order of their written form, as a JSON
// object keeps them.
template <class Flush>
void takenText(const std::string& rev, const orveldb::TakenMap& taken, std::string& out, Flush flush) {
  std::vector<std::pair<std::string, const std::vector<orveldb::TakenRun>*>> airports;
  airports.reserve(taken.size());
  for (const auto& [code, runs] : taken) airports.emplace_back(textForJson(code), &runs);
  std::sort(airports.begin(), airports.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  if (out.capacity() < (1u << 20)) out.reserve((1u << 20) + 4096);
  out += "{\"airports\":{";
  for (std::size_t i = 0; i < airports.size(); ++i) {
    if (i) out += ',';
    out += jsonString(airports[i].first);
    out += ":[";
    const std::vector<orveldb::TakenRun>& runs = *airports[i].second;
    for (std::size_t j = 0; j < runs.size(); ++j) {
      const orveldb::TakenRun& r = runs[j];
      if (j) out += ',';
      out += "{\"c\":";
      out += std::to_string(r.code);
      if (r.networkOnly) out += ",\"f\":1";
      out += ",\"p\":[";
      for (std::size_t k = 0; k < r.pts.size(); ++k) {
        if (k) out += ',';
        out += '[';
        appendNumber(out, round7(r.pts[k].lat));
        out += ',';
        appendNumber(out, round7(r.pts[k].lon));
        out += ']';
      }
      out += "]}";
      // A world-scale record runs to a hundred megabytes: the writer takes
      // it piece by piece rather than whole.
      if (out.size() >= (1u << 20)) flush(out);
    }
    out += ']';
  }
  out += "},\"rev\":";
  out += jsonString(textForJson(rev));
  out += '}';
  flush(out);
}

}  // namespace

std::string takenJson(const std::string& rev, const orveldb::TakenMap& taken) {
  // Sized up front: growing a string of many megabytes copies it over and
  // over and touches fresh memory each time.
  std::size_t estimate = 64;
  for (const auto& [code, runs] : taken) {
    estimate += code.size() + 8;
    for (const orveldb::TakenRun& r : runs) estimate += 24 + r.pts.size() * 26;
  }
  std::string all;
  all.reserve(estimate);
  // Whole text wanted: the pieces simply stay where they are.
  takenText(rev, taken, all, [](std::string&) {});
  return all;
}

bool writeTaken(const std::string& dir, const std::string& rev, const orveldb::TakenMap& taken,
                std::string* err) {
  // The replace of writeFileOver, fed piece by piece: beside the record,
  // flushed to disk, then renamed over it, then the folder flushed.
  const std::string path = dir + "/tlm_taken.json";
  const std::string part = orvel::partOf(path);
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  std::string reason = ok ? std::string() : orvel::systemReason();
  // The first failing call names the cause.
  auto failed = [&] {
    if (reason.empty()) reason = orvel::systemReason();
    ok = false;
  };
  if (ok) {
    std::string piece;
    takenText(rev, taken, piece, [&](std::string& p) {
      const char* q = p.data();
      std::size_t n = p.size();
      while (ok && n > 0) {
        const ssize_t w = ::write(fd, q, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          failed();
        } else {
          q += w;
          n -= static_cast<std::size_t>(w);
        }
      }
      p.clear();
    });
    if (ok && ::fsync(fd) != 0) failed();
    if (::close(fd) != 0 && ok) failed();
    if (ok && std::rename(part.c_str(), path.c_str()) != 0) failed();
    if (!ok)
      ::unlink(part.c_str());
    else
      (void)fsyncParentDir(path);  // the rename has happened; a folder that cannot be flushed does not undo it
  }
  if (!ok && err) *err = "could not write " + path + " (" + reason + ")";
  return ok;
}

}  // namespace lumo
