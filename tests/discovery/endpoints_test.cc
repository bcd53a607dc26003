// The endpoints, their provider labels and progress texts, and the country
// language table.
#include "discovery/endpoints.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "discovery/country_lang.h"

namespace quillon {
namespace {

TEST(Endpoints, UrlsLabelsAndTextsOfTheConfiguredHosts) {
  const std::pair<const char*, const char*> labels[] = {{"Geo.Quillon.TEST.", "quillon"},
                                                        {"a.b.example.org", "b.example"},
                                                        {"quillon.test", "quillon"},
                                                        {"localhost", "localhost"}};
  for (const auto& [host, label] : labels) EXPECT_EQ(providerLabel(host), label) << host;
  const std::string primary = primaryEndpointHost(), fallback = fallbackEndpointHost();
  EXPECT_EQ(primaryEndpointURL(), "https://" + primary + "/geoip?format=json");
  EXPECT_EQ(fallbackEndpointURL(), "https://" + fallback + "/myip");
  EXPECT_EQ(primaryProviderLabel(), providerLabel(primary));
  EXPECT_EQ(fallbackProviderLabel(), fallback);
  EXPECT_EQ(contactingPrimaryText(), "contacting " + primary + " via SOCKS5\u2026");
  EXPECT_EQ(tryingFallbackText(), "primary failed \u2014 trying " + fallback + "\u2026");
}

// 38 rows, US first; each row's language of its own country, Accept-Language
// starting with it and its bare language; exact lookups only.
TEST(CountryLang, ThirtyEightWellFormedRowsExactLookup) {
  const std::vector<CountryLang>& rows = countryLanguages();
  ASSERT_EQ(rows.size(), 38u);
  std::set<std::string> codes;
  for (const CountryLang& row : rows) {
    EXPECT_TRUE(codes.insert(row.cc).second) << row.cc;
    EXPECT_TRUE(
        std::regex_match(row.primary + " " + row.accept,
                         std::regex("([a-z]{2})-" + row.cc + " \\1-" + row.cc +
                                    ",\\1;q=0\\.9(,[a-z]{2};q=0\\.8(,[a-z]{2};q=0\\.7)?)?")))
        << row.accept;
    EXPECT_EQ(lookupCountryLang(row.cc)->accept, row.accept);
  }
  EXPECT_EQ(rows[0].primary + rows[0].accept,
            std::string(kFallbackLanguage) + kFallbackAcceptLanguage);
  EXPECT_EQ(lookupCountryLang("BE")->accept, "fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7");
  for (const char* cc : {"de", " DE", "DEU", ""}) EXPECT_FALSE(lookupCountryLang(cc)) << cc;
}

}  // namespace
}  // namespace quillon
