#include "ui/packlist.h"

#include <algorithm>

namespace lumo {

namespace {
bool hasOwnMap(const PackRow& r) { return r.status == kPackPicked || r.status == kPackMatched; }
}  // namespace

std::string askStatusText(const PackRow& row) {
  if (row.dismissed) return "not suppressed";
  switch (row.status) {
    case kPackNoAddonMap: return "no add-on map published - base map";
    case kPackNoList: return "no publisher list from the server";
    case kPackNeedsPick: return "needs a publisher picked";
    default: return "";
  }
}

AskRow askRow(size_t index, const PackRow& row) {
  AskRow a;
  a.index = index;
  a.pack = row.pack;
  a.icao = row.icao;
  a.publisher = row.publisher;
  a.statusText = askStatusText(row);
  a.publishers = row.publishers;
  a.dismissed = row.dismissed;
  a.hasMap = hasOwnMap(row);
  return a;
}

PackListing listPacks(const std::vector<PackRow>& rows, const std::set<size_t>& keepListed, bool showAll) {
  PackListing out;
  PackCounts& c = out.counts;
  for (size_t i = 0; i < rows.size(); ++i) {
    const PackRow& r = rows[i];
    const bool kept = keepListed.count(i) > 0;
    bool always = kept;
    if (r.dismissed) {
      ++c.notSuppressed;
      if (kept && hasOwnMap(r)) ++c.picked;
    } else if (r.status == kPackNeedsPick) {
      ++c.needPick;
      always = true;
    } else if (hasOwnMap(r)) {
      ++c.ownMap;
      if (kept) ++c.picked;
    } else if (r.status == kPackNoAddonMap) {
      ++c.baseMap;
    } else {
      // no list, or a status this build does not know: nothing is suppressed there
      ++c.notSuppressed;
    }
    if (!always) ++c.hidden;
    if (always || showAll) out.rows.push_back(askRow(i, r));
  }
  return out;
}

void orderAskRows(std::vector<AskRow>& rows, const std::vector<PackRow>& atScan) {
  std::stable_partition(rows.begin(), rows.end(), [&](const AskRow& r) {
    if (r.index < atScan.size()) {
      const PackRow& was = atScan[r.index];
      return !hasOwnMap(was) && !was.dismissed && !was.publishers.empty();
    }
    return !r.hasMap && !r.dismissed && !r.publishers.empty();
  });
}

bool choicesChanged(const std::vector<PackRow>& now, const std::vector<PackRow>& atScan,
                    const std::set<size_t>& keepListed) {
  for (size_t i : keepListed) {
    if (i >= now.size()) continue;
    if (i >= atScan.size()) return true;
    const PackRow& a = now[i];
    const PackRow& b = atScan[i];
    if (a.dismissed != b.dismissed || hasOwnMap(a) != hasOwnMap(b)) return true;
    if (hasOwnMap(a) && a.publisher != b.publisher) return true;
  }
  return false;
}

ListSize packListSize(size_t rows, const ListMetrics& m) {
  ListSize out;
  // A row is a text line and a combo line, each with its spacing; the last
  // row's spacing is not drawn.
  const float rowH = m.lineH + m.frameH;
  const float space = m.room;
  const float want = float(std::min<size_t>(rows, 3)) * rowH + m.padY - m.spacingY;
  const float oneRow = rowH + m.padY - m.spacingY;
  if (want > space) {
    out.growTo = int(want - space + m.displayH + 1);
    out.height = space > oneRow ? space : std::min(oneRow, want);
  } else {
    out.height = std::min(std::max(space, oneRow), want);
  }
  const float all = float(rows) * rowH + m.padY - m.spacingY;
  out.scrollbar = all > out.height + 1;
  return out;
}

}  // namespace lumo
