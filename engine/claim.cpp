#include "engine/claim.h"

namespace orveldb {

orvel::SuppressScope scopeFor(const AirportScope& a, const orvel::SuppressScope& base) {
  orvel::SuppressScope s = base;
  s.leads = a.lead.empty() ? nullptr : &a.lead;
  s.bars = a.bars.empty() ? nullptr : &a.bars;
  s.barx = (s.bars && a.barx.size() == a.bars.size()) ? &a.barx : nullptr;
  s.network = a.network.empty() ? nullptr : &a.network;
  return s;
}

bool claimBlock(std::vector<std::string>& rows, const AirportScope& a, const orvel::SuppressScope& base,
                std::vector<TakenRun>* runs, int& splits) {
  splits = 0;
  if (runs) runs->clear();
  const orvel::SuppressScope s = scopeFor(a, base);
  if (!s.leads && !s.bars && !s.network) return false;
  // From the rows as they are before the split below changes them.
  if (runs) *runs = takenByPass(rows, s);
  return orvel::splitBlockLights(rows, s, splits);
}

}  // namespace orveldb
