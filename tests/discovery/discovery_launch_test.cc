// The discovery path of the built launcher through real microsocks to the
// loopback geo-IP responder, inside the network of with_test_network.sh.
#include <regex>

#include "test_network_process.h"

namespace quillon::test {
namespace {

class DiscoveryLaunchTest : public TestNetworkProcess {
 protected:
  // Launches a persona on a profile with a previous session's tabs.
  Launch launchPersona(const std::string& proxy, const std::string& members, Options setup = {}) {
    writeFile(profile + "/command-line.json",
              R"({"close-previous-tabs":true,"proxy-server":")" + proxy + "\"" + members + "}");
    writeFile(profile + "/Default/Current Tabs", "tabs");
    return launch({"--user-data-dir=" + profile}, setup);
  }

  // A report with its timestamp and elapsed times as T.
  std::string report(const char* name) {
    static const std::regex timed(R"("ts":"[-0-9T:]{19}Z"|"elapsed_ms":\d+|after \d+ ms)");
    return std::regex_replace(readFile(profile + "/" + name), timed, "T");
  }

  std::string profile = tmp / "profile";
};

std::string errorReport(const std::string& code, const std::string& status,
                        const std::string& proxy) {
  const std::string url = "https://geo.quillon.test/geoip?format=json";
  return R"({"schema":1,T,"step":"discover_proxy_ip","error_code":")" + code +
         R"(","message":"curl exit )" + status + " against " + url + " via " + proxy +
         R"( T","proxy":")" + proxy + R"(","discovery_url":")" + url + R"(","curl_exit_code":)" +
         status + ",T,\"launcher_version\":\"0.28.0-mac\"}\n";
}

// A wrong login blocks the engine before hygiene; a proxy that is down, under the fallback
// policy, starts it without persona values; the proxy's values reach the engine and the report.
// The probe stays on the proxy whatever the user's curl and no-proxy settings, SIGCHLD ignored.
TEST_F(DiscoveryLaunchTest, EveryOutcomeThroughRealProxies) {
  const std::string wrong =
      proxyAt("QUILLON_TEST_AUTH_PROXY_PORT", env("QUILLON_TEST_PROXY_USER") + ":wrong@");
  Launch run = launchPersona(wrong, R"(,"auto-timezone":true)");
  EXPECT_EQ(run.status, 42);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.children, 0) << "no engine";
  EXPECT_EQ(readFile(profile + "/Default/Current Tabs"), "tabs") << "no hygiene";
  EXPECT_EQ(report(".quillon-launcher-error.json"), errorReport("PROXY_AUTH_FAILED", "97", wrong));
  EXPECT_EQ(
      report(".quillon-launcher-result.json"),
      R"({"schema":1,T,"status":"blocked","ip":"","timezone":"","country_code":"","lat":"",)"
      R"("lng":"","lang":"","accept_lang":"",T,"provider":"quillon","error_code":"PROXY_BLOCKED",)"
      R"("message":"see .quillon-launcher-error.json for details","launcher_version":"0.28.0-mac"})"
      "\n");

  const std::string down = proxyAt("QUILLON_TEST_CLOSED_PORT");
  run = launchPersona(down, R"(,"auto-timezone":true,"on-proxy-fail":"fallback")");
  expectStarted(run);
  EXPECT_EQ(run["arg"].at(2).substr(0, 16), "--device-memory=");
  EXPECT_EQ(report(".quillon-launcher-error.json"), errorReport("PROXY_UNREACHABLE", "7", down));

  writeFile(tmp / "home/.curlrc", "noproxy = \"*\"\n");
  setEnv("NO_PROXY", "*");
  setEnv("no_proxy", "*");
  setEnv("QUILLON_TEST_LINGER", "60");  // or the kernel would reap it for the launcher
  run = launchPersona(
      proxyAt("QUILLON_TEST_AUTH_PROXY_PORT",
              env("QUILLON_TEST_PROXY_USER") + ":" + env("QUILLON_TEST_PROXY_PASSWORD") + "@"),
      R"(,"webrtc-no-leak":true,"auto-geo":true,"auto-lang":"1","auto-timezone":1,)"
      R"("start-page":"a","device-memory":8,"hardware-concurrency":8,"speech-voices":"x")",
      {.ignored = SIGCHLD});
  expectStarted(run);
  EXPECT_TRUE(std::stoull(run["SigIgn:"].at(0), nullptr, 16) & (1ULL << (SIGCHLD - 1)));
  EXPECT_EQ(run["arg"],
            (Args{QUILLON_RECORDING_ENGINE_PATH, "--user-data-dir=" + profile,
                  "--webrtc-fake-public-ip=203.0.113.7",
                  "--force-webrtc-ip-handling-policy=default", "--timezone-override=Europe/Berlin",
                  "--lang=de-DE", "--accept-language=de-DE,de;q=0.9,en;q=0.8", "--geo-lat=52.52",
                  "--geo-lng=13.4", "--geo-accuracy=100", "a", "--hide-crash-restore-bubble",
                  "--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
                  "--disable-save-password-bubble"}));
  EXPECT_EQ(report(".quillon-launcher-result.json"),
            R"({"schema":1,T,"status":"ok","ip":"203.0.113.7","timezone":"Europe/Berlin",)"
            R"("country_code":"de","lat":"52.52","lng":"13.4","lang":"de-DE",)"
            R"("accept_lang":"de-DE,de;q=0.9,en;q=0.8",T,"provider":"quillon","error_code":"",)"
            R"("message":"","launcher_version":"0.28.0-mac"})"
            "\n");
  EXPECT_FALSE(exists(profile + "/Default/Current Tabs")) << "hygiene ran";
  EXPECT_FALSE(exists(profile + "/.quillon-launcher-error.json"));
}

}  // namespace
}  // namespace quillon::test
