// The reference-geometry kit the real-data tests and benchmarks stand on.
#include "tools/geomkit/geomkit.h"

#include <gtest/gtest.h>

#include "support/tmpdir.h"

TEST(Geomkit, RanksAirportsByLitNodeRowsAndDerivesOnlyWhatIsAsked) {
  std::vector<std::pair<std::string, long>> ranked;
  std::string err;
  ASSERT_TRUE(geomkit::rankByLit(tl::testData("lit-airports.dat"), ranked, err)) << err;
  // YSSY has no lit rows and is left out; counts are rows lit 101..108.
  EXPECT_EQ(ranked, (std::vector<std::pair<std::string, long>>{{"KROC", 581}, {"LZIB", 204}, {"LOWI", 83}}));
  ASSERT_TRUE(geomkit::rankByLit(tl::testData("lit-airports.dat"), ranked, err, 2));
  EXPECT_EQ(ranked.size(), 2u);

  orveldb::ScopeMap scopes;
  const std::set<std::string> only{"LZIB", "YSSY"};
  ASSERT_TRUE(geomkit::deriveFile(tl::testData("lit-airports.dat"), scopes, err, &only)) << err;
  ASSERT_EQ(scopes.size(), 1u);  // YSSY has nothing to derive
  const orveldb::AirportScope& lzib = scopes.at("LZIB");
  EXPECT_FALSE(lzib.bars.empty());
  EXPECT_FALSE(lzib.lead.empty());
  EXPECT_EQ(lzib.barx.size(), lzib.bars.size());
  for (const auto& l : lzib.bars) EXPECT_GE(l.size(), 2u);

  const nlohmann::json entry = geomkit::mapEntryJson(lzib);
  EXPECT_EQ(entry["bars"].size(), lzib.bars.size());
  EXPECT_EQ(entry["bars"][0][0][0].get<double>(), lzib.bars[0][0].lat);

  EXPECT_FALSE(geomkit::rankByLit(tl::testData("no-such.dat"), ranked, err));
  EXPECT_NE(err.find("no-such.dat"), std::string::npos);
}
