// The probe with the real /usr/bin/curl through real SOCKS5 proxies to a real
// HTTPS responder, inside the private network that with_test_network.sh
// builds (it also provides the ports and credentials used here).
#include <cstdlib>

#include "discovery/endpoints.h"
#include "discovery/probe.h"
#include "process_checks.h"

namespace quillon {
namespace {

std::string env(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

using NetworkProbeTest = test::NothingLeftBehind;

TEST_F(NetworkProbeTest, BothEndpointsThroughTheProxiesAndAClosedPort) {
  ASSERT_NE(env("QUILLON_TEST_PROXY_PORT"), "") << "run through with_test_network.sh";
  const std::string login =
      env("QUILLON_TEST_PROXY_USER") + ":" + env("QUILLON_TEST_PROXY_PASSWORD") + "@";
  const std::string cases[][3] = {
      {"socks5://127.0.0.1:" + env("QUILLON_TEST_PROXY_PORT"), primaryEndpointURL(),
       "|203.0.113.7|0|de|Europe/Berlin|48.85|2.35"},
      {"socks5://" + login + "127.0.0.1:" + env("QUILLON_TEST_AUTH_PROXY_PORT"),
       fallbackEndpointURL(), "|198.51.100.23|0||||"},
      {"socks5://127.0.0.1:" + env("QUILLON_TEST_CLOSED_PORT"), primaryEndpointURL(),
       "PROXY_UNREACHABLE||7||||"},
  };
  for (const auto& [proxy, url, record] : cases) {
    DiscoverResult r = probeEgress(proxy, url);
    EXPECT_EQ(r.errorCode + "|" + r.ip + "|" + std::to_string(r.curlExitCode) + "|" +
                  r.countryCode + "|" + r.timezone + "|" + r.latitude + "|" + r.longitude,
              record)
        << proxy << " " << r.message;
  }
}

}  // namespace
}  // namespace quillon
