// Endpoint URLs and provider labels derived from the configured host names.
#include "discovery/endpoints.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ProviderLabel, SecondLevelLabelOrTheOnlyWordInLowerCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"geo.quillon.test", "quillon"},  {"api.ipinfo.example", "ipinfo"},
      {"Geo.Quillon.TEST", "quillon"},  {"geo.quillon.test.", "quillon"},
      {"a.b.example.org", "b.example"}, {"quillon.test", "quillon"},
      {"localhost", "localhost"},       {"", ""},
  };
  for (const auto& [host, label] : cases) EXPECT_EQ(providerLabel(host), label) << host;
}

TEST(Endpoints, UrlsAndLabelsComeFromTheConfiguredHosts) {
  EXPECT_EQ(primaryEndpointURL(), "https://" QUILLON_GEOIP_HOST "/geoip?format=json");
  EXPECT_EQ(fallbackEndpointURL(), "https://" QUILLON_MYIP_HOST "/myip");
  EXPECT_EQ(primaryProviderLabel(), providerLabel(QUILLON_GEOIP_HOST));
  EXPECT_EQ(fallbackProviderLabel(), QUILLON_MYIP_HOST);
  EXPECT_EQ(contactingPrimaryText(), "contacting " QUILLON_GEOIP_HOST " via SOCKS5\xE2\x80\xA6");
  EXPECT_EQ(tryingFallbackText(),
            "primary failed \xE2\x80\x94 trying " QUILLON_MYIP_HOST "\xE2\x80\xA6");
}

}  // namespace
}  // namespace quillon
