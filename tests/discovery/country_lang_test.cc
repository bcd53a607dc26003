// The country language table: the invariants of its data and the lookup.
#include "discovery/country_lang.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace quillon {
namespace {

bool isUpperCode(const std::string& cc) {
  return cc.size() == 2 && cc[0] >= 'A' && cc[0] <= 'Z' && cc[1] >= 'A' && cc[1] <= 'Z';
}

// The q-values of an Accept-Language list, the first (implicit) one as 1.
std::vector<double> qValues(const std::string& accept) {
  std::vector<double> values;
  size_t start = 0;
  while (start <= accept.size()) {
    size_t end = accept.find(',', start);
    std::string item = accept.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t q = item.find(";q=");
    values.push_back(q == std::string::npos ? 1.0 : std::atof(item.c_str() + q + 3));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return values;
}

TEST(CountryLangTable, HoldsThirtyEightWellFormedRows) {
  const std::vector<CountryLang>& rows = countryLanguages();
  ASSERT_EQ(rows.size(), 38u);
  std::set<std::string> codes;
  for (const CountryLang& row : rows) {
    EXPECT_TRUE(isUpperCode(row.cc)) << row.cc;
    EXPECT_TRUE(codes.insert(row.cc).second) << "duplicate " << row.cc;
    // language-REGION, the region being the row's own country.
    ASSERT_EQ(row.primary.size(), 5u) << row.cc;
    EXPECT_EQ(row.primary.substr(2), "-" + row.cc);
    EXPECT_EQ(row.accept.rfind(row.primary + ",", 0), 0u) << row.accept;
    EXPECT_EQ(row.accept.find(' '), std::string::npos) << row.accept;
    std::vector<double> q = qValues(row.accept);
    ASSERT_GE(q.size(), 2u) << row.accept;
    for (size_t i = 1; i < q.size(); ++i) EXPECT_LT(q[i], q[i - 1]) << row.accept;
  }
  EXPECT_EQ(&rows, &countryLanguages()) << "built once and shared";
}

TEST(CountryLangTable, FirstRowIsTheFallbackPair) {
  const CountryLang& first = countryLanguages().front();
  EXPECT_EQ(first.cc, "US");
  EXPECT_EQ(first.primary, kFallbackLanguage);
  EXPECT_EQ(first.accept, kFallbackAcceptLanguage);
  EXPECT_STREQ(kFallbackLanguage, "en-US");
  EXPECT_STREQ(kFallbackAcceptLanguage, "en-US,en;q=0.9");
}

TEST(CountryLangLookup, ExactCodeFindsItsRow) {
  std::optional<CountryLang> de = lookupCountryLang("DE");
  ASSERT_TRUE(de);
  EXPECT_EQ(de->primary, "de-DE");
  EXPECT_EQ(de->accept, "de-DE,de;q=0.9,en;q=0.8");
  EXPECT_EQ(countryLanguages()[6].cc, "DE");

  std::optional<CountryLang> be = lookupCountryLang("BE");
  ASSERT_TRUE(be);
  EXPECT_EQ(be->accept, "fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7");
  EXPECT_EQ(qValues(be->accept).size(), 4u);
  for (const CountryLang& row : countryLanguages()) {
    if (row.cc != "BE") {
      EXPECT_LE(qValues(row.accept).size(), 3u) << row.cc;
    }
    std::optional<CountryLang> found = lookupCountryLang(row.cc);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->primary, row.primary);
  }
}

TEST(CountryLangLookup, NoTrimmingNoCaseChangeNoAliases) {
  for (const char* cc : {"de", "De", "UK", " DE", "DE ", "DEU", "D", "", "ZZ"})
    EXPECT_FALSE(lookupCountryLang(cc)) << "'" << cc << "'";
}

}  // namespace
}  // namespace quillon
