// The probe with the real /usr/bin/curl through real SOCKS5 proxies to a real
// HTTPS responder, inside the private network that with_test_network.sh
// builds (it also provides the ports and credentials used here).
#include <cstdlib>
#include <string>

#include "discovery/endpoints.h"
#include "discovery/probe.h"
#include "process_checks.h"

namespace quillon {
namespace {

std::string env(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

std::string proxy(const std::string& port, const std::string& login = "") {
  return "socks5://" + login + "127.0.0.1:" + env(port.c_str());
}

std::string geo(const std::string& path) {
  return "https://" + primaryEndpointHost() + path;
}

std::string noIp(size_t bytes, const std::string& head) {
  return "curl exit 0 but no usable IP in response \u2014 got " + std::to_string(bytes) +
         " bytes, head: \"" + head + "\"";
}

class NetworkProbeTest : public test::NothingLeftBehind {
 protected:
  void SetUp() override {
    ASSERT_NE(env("QUILLON_TEST_PROXY_PORT"), "") << "run through with_test_network.sh";
    NothingLeftBehind::SetUp();
  }
};

TEST_F(NetworkProbeTest, AnswersOfEveryShape) {
  const std::string page =
      "<html><head><title>403 Forbidden</title></head>\n<body><h1>Forbidden</h1></body></html>\n";
  const size_t big = 5 * 1024 * 1024;
  const std::string login =
      env("QUILLON_TEST_PROXY_USER") + ":" + env("QUILLON_TEST_PROXY_PASSWORD") + "@";
  struct Case {
    std::string proxy, url, ip, message, geo = "|||";
  };
  const Case cases[] = {
      {proxy("QUILLON_TEST_PROXY_PORT"), primaryEndpointURL(), "203.0.113.7", "",
       "de|Europe/Berlin|48.85|2.35"},
      {proxy("QUILLON_TEST_AUTH_PROXY_PORT", login), fallbackEndpointURL(), "198.51.100.23", ""},
      {proxy("QUILLON_TEST_PROXY_PORT"), geo("/plain"), "2001:db8:85a3::8a2e:370:7334", ""},
      {proxy("QUILLON_TEST_PROXY_PORT"), geo("/html403"),
       "<html><head><title>403 Forbidden</title></head>", noIp(page.size(), page.substr(0, 80))},
      {proxy("QUILLON_TEST_PROXY_PORT"), geo("/nonutf8"), "", "curl exit 0 but response not UTF-8"},
      {proxy("QUILLON_TEST_PROXY_PORT"), geo("/empty"), "", noIp(0, "")},
      {proxy("QUILLON_TEST_PROXY_PORT"), geo("/big-ip"), "203.0.113.7", ""},
      {proxy("QUILLON_TEST_PROXY_PORT"), geo("/big"), std::string(big, 'y'),
       noIp(big, std::string(80, 'y'))},
  };
  for (const Case& c : cases) {
    DiscoverResult r = probeEgress(c.proxy, c.url);
    EXPECT_EQ(r.errorCode, c.message.empty() ? "" : "DISCOVERY_HTTP_ERROR") << c.url;
    EXPECT_EQ(r.message, c.message);
    EXPECT_TRUE(r.ip == c.ip) << r.ip.substr(0, 100);
    EXPECT_EQ(r.curlExitCode, 0);
    EXPECT_EQ(r.countryCode + "|" + r.timezone + "|" + r.latitude + "|" + r.longitude, c.geo);
  }
}

TEST_F(NetworkProbeTest, FailuresQuoteTheProxyAsConfigured) {
  const std::string plain = proxy("QUILLON_TEST_PROXY_PORT");
  struct Case {
    std::string proxy, url;
    int status;
    const char* code;
  };
  // curl reports a refused SOCKS5 login, like a target the proxy cannot
  // reach, as a proxy handshake failure (97); only the login is an auth failure.
  const Case cases[] = {
      {proxy("QUILLON_TEST_CLOSED_PORT"), primaryEndpointURL(), 7, "PROXY_UNREACHABLE"},
      {plain, "https://unknown." + primaryEndpointHost() + "/geoip?format=json", 97, "INTERNAL"},
      {plain, geo(":444/geoip?format=json"), 97, "INTERNAL"},
      {proxy("QUILLON_TEST_AUTH_PROXY_PORT", env("QUILLON_TEST_PROXY_USER") + ":wrong@"),
       fallbackEndpointURL(), 97, "PROXY_AUTH_FAILED"},
      {proxy("QUILLON_TEST_AUTH_PROXY_PORT"), fallbackEndpointURL(), 97, "PROXY_AUTH_FAILED"},
      {plain, geo("/slow"), 28, "PROXY_TIMEOUT"},
  };
  for (const Case& c : cases) {
    DiscoverResult r = probeEgress(c.proxy, c.url);
    EXPECT_EQ(r.errorCode, c.code) << c.proxy << " " << c.url;
    EXPECT_EQ(r.curlExitCode, c.status);
    EXPECT_EQ(r.message, "curl exit " + std::to_string(c.status) + " against " + c.url + " via " +
                             c.proxy + " after " + std::to_string(r.elapsedMs) + " ms");
    EXPECT_EQ(r.ip, "");
  }
}

}  // namespace
}  // namespace quillon
