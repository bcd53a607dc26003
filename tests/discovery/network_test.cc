// The probe with the real /usr/bin/curl through real SOCKS5 proxies to a real
// HTTPS responder, inside the private network that with_test_network.sh
// builds (it also provides the ports and credentials used here).
#include <gtest/gtest.h>

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

class NetworkProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(env("QUILLON_TEST_PROXY_PORT"), "") << "run through with_test_network.sh";
    before_ = test::openDescriptors();
  }
  void TearDown() override {
    EXPECT_EQ(test::openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(test::hasNoChildren()) << "a child was left behind";
  }

  static std::string proxy() { return "socks5://127.0.0.1:" + env("QUILLON_TEST_PROXY_PORT"); }
  static std::string authProxy(const std::string& user, const std::string& password) {
    return "socks5://" + user + ":" + password + "@127.0.0.1:" + env("QUILLON_TEST_AUTH_PROXY_PORT");
  }
  static std::string geo(const std::string& path) { return "https://" + primaryEndpointHost() + path; }

  static std::string noIp(size_t bytes, const std::string& head) {
    return "curl exit 0 but no usable IP in response \u2014 got " + std::to_string(bytes) +
           " bytes, head: \"" + head + "\"";
  }

  static void expectFailureMessage(const DiscoverResult& r, int status, const std::string& url,
                                   const std::string& proxyServer) {
    EXPECT_EQ(r.curlExitCode, status);
    EXPECT_EQ(r.message, "curl exit " + std::to_string(status) + " against " + url + " via " +
                             proxyServer + " after " + std::to_string(r.elapsedMs) + " ms");
    EXPECT_EQ(r.ip, "");
  }

  std::map<int, std::string> before_;
};

TEST_F(NetworkProbeTest, PrimaryEndpointGivesIpAndGeoData) {
  DiscoverResult r = probeEgress(proxy(), primaryEndpointURL());
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.curlExitCode, 0);
  EXPECT_EQ(r.ip, "203.0.113.7");
  EXPECT_EQ(r.countryCode, "de");
  EXPECT_EQ(r.timezone, "Europe/Berlin");
  EXPECT_EQ(r.latitude, "48.85");
  EXPECT_EQ(r.longitude, "2.35");
}

TEST_F(NetworkProbeTest, FallbackEndpointGivesTheBareIp) {
  DiscoverResult r = probeEgress(proxy(), fallbackEndpointURL());
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "198.51.100.23");
  EXPECT_EQ(r.countryCode, "");
  EXPECT_EQ(r.latitude, "");
}

TEST_F(NetworkProbeTest, JsonFieldTypes) {
  DiscoverResult r = probeEgress(proxy(), geo("/json/types"));
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "2001:db8::1");
  EXPECT_EQ(r.countryCode, "FR");
  EXPECT_EQ(r.timezone, "Europe/Paris");
  EXPECT_EQ(r.latitude, "48.85");
  EXPECT_EQ(r.longitude, "2");

  r = probeEgress(proxy(), geo("/json/booleans"));
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "192.0.2.10");
  EXPECT_EQ(r.latitude, "1");
  EXPECT_EQ(r.longitude, "0");
  EXPECT_EQ(r.countryCode, "");
  EXPECT_EQ(r.timezone, "");
}

TEST_F(NetworkProbeTest, JsonWithoutStringIpKeepsItsGeoData) {
  DiscoverResult r = probeEgress(proxy(), geo("/json/ip-number"));
  std::string body =
      "{\"ip\":3405803783,\"country_code\":\"US\",\"timezone\":\"America/Chicago\","
      "\"latitude\":41.5,\"longitude\":-87.25}";
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.message, noIp(body.size(), body.substr(0, 80)));
  EXPECT_EQ(r.ip, "");
  EXPECT_EQ(r.countryCode, "US");
  EXPECT_EQ(r.timezone, "America/Chicago");
  EXPECT_EQ(r.latitude, "41.5");
  EXPECT_EQ(r.longitude, "-87.25");
}

TEST_F(NetworkProbeTest, MalformedJsonGivesNothing) {
  DiscoverResult r = probeEgress(proxy(), geo("/json/malformed"));
  std::string body = "\n  {\"ip\":\"203.0.113.7\",\"country_code\":\"DE\",\n";
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.message, noIp(body.size(), body));
  EXPECT_EQ(r.ip, "");
  EXPECT_EQ(r.countryCode, "");
}

TEST_F(NetworkProbeTest, PlainAnswersWithOddWhiteSpaceAndBreaks) {
  EXPECT_EQ(probeEgress(proxy(), geo("/plain/crlf")).ip, "203.0.113.7");
  EXPECT_EQ(probeEgress(proxy(), geo("/plain/unicode")).ip, "198.51.100.4");
  DiscoverResult r = probeEgress(proxy(), geo("/plain/vt-ff"));
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "2001:db8:85a3::8a2e:370:7334");
}

TEST_F(NetworkProbeTest, HttpErrorPageIsReadAsAnAnswer) {
  std::string page =
      "<html><head><title>403 Forbidden</title></head>\n<body><h1>Forbidden</h1></body></html>\n";
  DiscoverResult r = probeEgress(proxy(), geo("/html403"));
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.curlExitCode, 0);
  EXPECT_EQ(r.ip, "<html><head><title>403 Forbidden</title></head>");
  EXPECT_EQ(r.message, noIp(page.size(), page.substr(0, 80)));
}

TEST_F(NetworkProbeTest, NonUtf8AndEmptyAnswers) {
  DiscoverResult r = probeEgress(proxy(), geo("/nonutf8"));
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.message, "curl exit 0 but response not UTF-8");
  EXPECT_EQ(r.ip, "");

  r = probeEgress(proxy(), geo("/empty"));
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.message, "curl exit 0 but no usable IP in response \u2014 got 0 bytes, head: \"\"");
}

TEST_F(NetworkProbeTest, MegabyteAnswers) {
  DiscoverResult r = probeEgress(proxy(), geo("/big-ip"));
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "203.0.113.7");

  r = probeEgress(proxy(), geo("/big"));
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.message, noIp(5 * 1024 * 1024, std::string(80, 'y')));
}

TEST_F(NetworkProbeTest, ProxyWithCredentials) {
  std::string user = env("QUILLON_TEST_PROXY_USER");
  std::string password = env("QUILLON_TEST_PROXY_PASSWORD");
  DiscoverResult r = probeEgress(authProxy(user, password), fallbackEndpointURL());
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "198.51.100.23");

  // curl reports a refused login by a SOCKS5 server as a proxy handshake
  // failure (97); the message quotes the proxy as configured.
  std::string wrong = authProxy(user, "wrong");
  r = probeEgress(wrong, fallbackEndpointURL());
  EXPECT_EQ(r.errorCode, "INTERNAL");
  expectFailureMessage(r, 97, fallbackEndpointURL(), wrong);

  std::string anonymous = "socks5://127.0.0.1:" + env("QUILLON_TEST_AUTH_PROXY_PORT");
  r = probeEgress(anonymous, fallbackEndpointURL());
  EXPECT_EQ(r.errorCode, "INTERNAL");
  expectFailureMessage(r, 97, fallbackEndpointURL(), anonymous);
}

TEST_F(NetworkProbeTest, ClosedProxyPortIsUnreachable) {
  std::string closed = "socks5://127.0.0.1:" + env("QUILLON_TEST_CLOSED_PORT");
  DiscoverResult r = probeEgress(closed, primaryEndpointURL());
  EXPECT_EQ(r.errorCode, "PROXY_UNREACHABLE");
  expectFailureMessage(r, 7, primaryEndpointURL(), closed);
}

TEST_F(NetworkProbeTest, ProxyThatCannotReachTheTargetIsInternal) {
  std::string url = "https://unknown." + primaryEndpointHost() + "/geoip?format=json";
  DiscoverResult r = probeEgress(proxy(), url);
  EXPECT_EQ(r.errorCode, "INTERNAL");
  expectFailureMessage(r, 97, url, proxy());

  url = "https://" + primaryEndpointHost() + ":444/geoip?format=json";
  r = probeEgress(proxy(), url);
  EXPECT_EQ(r.errorCode, "INTERNAL");
  expectFailureMessage(r, 97, url, proxy());
}

TEST_F(NetworkProbeTest, SlowAnswerRunsIntoCurlsTimeLimit) {
  DiscoverResult r = probeEgress(proxy(), geo("/slow"));
  EXPECT_EQ(r.errorCode, "PROXY_TIMEOUT");
  expectFailureMessage(r, 28, geo("/slow"), proxy());
}

}  // namespace
}  // namespace quillon
