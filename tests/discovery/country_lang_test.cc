// The country language table: the invariants of its data and the lookup.
#include "discovery/country_lang.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>

namespace quillon {
namespace {

TEST(CountryLangTable, HoldsThirtyEightWellFormedRowsUsFirst) {
  const std::vector<CountryLang>& rows = countryLanguages();
  ASSERT_EQ(rows.size(), 38u);
  std::set<std::string> codes;
  for (const CountryLang& row : rows) {
    SCOPED_TRACE(row.cc);
    EXPECT_TRUE(row.cc.size() == 2 && isupper(row.cc[0]) && isupper(row.cc[1]));
    EXPECT_TRUE(codes.insert(row.cc).second) << "duplicate";
    // language-REGION of the row's own country; Accept-Language starts with
    // it and its bare language, then others in falling preference.
    EXPECT_TRUE(
        std::regex_match(row.primary + " " + row.accept,
                         std::regex("([a-z]{2})-" + row.cc + " \\1-" + row.cc +
                                    ",\\1;q=0\\.9(,[a-z]{2};q=0\\.8(,[a-z]{2};q=0\\.7)?)?")))
        << row.primary << " " << row.accept;
    // Belgium alone lists four languages.
    EXPECT_EQ(std::count(row.accept.begin(), row.accept.end(), ',') == 3, row.cc == "BE");
    std::optional<CountryLang> found = lookupCountryLang(row.cc);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->primary + found->accept, row.primary + row.accept);
  }
  EXPECT_EQ(&rows, &countryLanguages()) << "built once and shared";
  EXPECT_EQ(rows.front().cc + " " + rows.front().primary + " " + rows.front().accept,
            std::string("US ") + kFallbackLanguage + " " + kFallbackAcceptLanguage);
}

TEST(CountryLangLookup, ExactCodeOnlyNoTrimmingNoCaseChangeNoAliases) {
  EXPECT_EQ(lookupCountryLang("DE")->accept, "de-DE,de;q=0.9,en;q=0.8");
  EXPECT_EQ(lookupCountryLang("BE")->accept, "fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7");
  EXPECT_EQ(lookupCountryLang("EG")->primary, "ar-EG");
  for (const char* cc : {"de", "De", "UK", " DE", "DE ", "DEU", "D", "", "ZZ"})
    EXPECT_FALSE(lookupCountryLang(cc)) << "'" << cc << "'";
}

}  // namespace
}  // namespace quillon
