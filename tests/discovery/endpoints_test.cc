// Endpoint URLs and provider labels derived from the configured host names.
#include "discovery/endpoints.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ProviderLabel, SecondLevelLabelOfTheHost) {
  EXPECT_EQ(providerLabel("geo.quillon.test"), "quillon");
  EXPECT_EQ(providerLabel("api.ipinfo.example"), "ipinfo");
  EXPECT_EQ(providerLabel("Geo.Quillon.TEST"), "quillon");
  EXPECT_EQ(providerLabel("geo.quillon.test."), "quillon");
  EXPECT_EQ(providerLabel("a.b.example.org"), "b.example");
}

TEST(ProviderLabel, ShortHostsKeepAWord) {
  EXPECT_EQ(providerLabel("quillon.test"), "quillon");
  EXPECT_EQ(providerLabel("localhost"), "localhost");
  EXPECT_EQ(providerLabel(""), "");
}

TEST(Endpoints, UrlsAndLabelsComeFromTheConfiguredHosts) {
  EXPECT_EQ(primaryEndpointHost(), QUILLON_GEOIP_HOST);
  EXPECT_EQ(fallbackEndpointHost(), QUILLON_MYIP_HOST);
  EXPECT_EQ(primaryEndpointURL(), "https://" QUILLON_GEOIP_HOST "/geoip?format=json");
  EXPECT_EQ(fallbackEndpointURL(), "https://" QUILLON_MYIP_HOST "/myip");
  EXPECT_EQ(primaryProviderLabel(), providerLabel(QUILLON_GEOIP_HOST));
  EXPECT_EQ(fallbackProviderLabel(), QUILLON_MYIP_HOST);
}

}  // namespace
}  // namespace quillon
