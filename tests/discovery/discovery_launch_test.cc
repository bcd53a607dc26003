// The discovery path of the built launcher through real microsocks to the
// loopback geo-IP responder, inside the network of with_test_network.sh:
// what the engine and the reports get, the policy on failure, and a probe
// that stays on the persona's proxy whatever the user's settings say.
#include <cstdlib>
#include <regex>

#include "launcher_process.h"

namespace quillon::test {
namespace {

std::string env(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

std::string proxyAt(const char* portVariable, const std::string& login = "") {
  return "socks5://" + login + "127.0.0.1:" + env(portVariable);
}

// A report with its timestamp and elapsed time replaced by TS and E.
std::string untimed(const std::string& report) {
  static const std::regex ts(R"("ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")"),
      ms(R"("elapsed_ms":\d+)");
  return std::regex_replace(std::regex_replace(report, ts, "\"ts\":\"TS\""), ms,
                            "\"elapsed_ms\":E");
}

class DiscoveryLaunchTest : public LauncherProcess {
 protected:
  void SetUp() override {
    ASSERT_NE(env("QUILLON_TEST_ANSWERS"), "") << "run through with_test_network.sh";
    LauncherProcess::SetUp();
    setEnv("CURL_CA_BUNDLE", env("CURL_CA_BUNDLE"));
    setEnv("PATH", "/usr/bin:/bin");
  }

  // Launches on the profile, with a previous session's tabs in it, with the
  // persona's members after "proxy-server" and the responder's answers ("":
  // its own).
  Launch launchPersona(const std::string& proxy, const std::string& members,
                       const std::string& geoip = "", const std::string& myip = "",
                       Options setup = {}) {
    for (const auto& [name, answer] : {std::pair{"/geoip", geoip}, std::pair{"/myip", myip}}) {
      std::filesystem::remove(env("QUILLON_TEST_ANSWERS") + name);
      if (!answer.empty()) writeFile(env("QUILLON_TEST_ANSWERS") + name, answer);
    }
    writeFile(profile + "/command-line.json",
              R"({"close-previous-tabs":true,"proxy-server":")" + proxy + "\"" + members + "}");
    writeFile(profile + "/Default/Current Tabs", "tabs");
    return launch({"--user-data-dir=" + profile}, setup);
  }
  std::string report(const char* name) { return untimed(readFile(profile + "/" + name)); }

  std::string profile = tmp / "profile";
};

// The persona's switches come between the user data directory and the
// device switches.
TEST_F(DiscoveryLaunchTest, ValuesFromTheProxyReachTheEngineAndTheReport) {
  const std::string kProxy = proxyAt("QUILLON_TEST_PROXY_PORT");
  const std::string cases[][4] = {
      {R"(,"webrtc-no-leak":true,"auto-geo":true,"auto-lang":"1","auto-timezone":1)", "",
       "--webrtc-fake-public-ip=203.0.113.7 --force-webrtc-ip-handling-policy=default "
       "--timezone-override=Europe/Berlin --lang=de-DE --accept-language=de-DE,de;q=0.9,en;q=0.8 "
       "--geo-lat=48.85 --geo-lng=2.35 --geo-accuracy=100 ",
       R"("ip":"203.0.113.7","timezone":"Europe/Berlin","country_code":"de","lat":"48.85",)"
       R"("lng":"2.35","lang":"de-DE","accept_lang":"de-DE,de;q=0.9,en;q=0.8","elapsed_ms":E,)"
       R"("provider":"quillon")"},
      // Stated values stay the persona's; a country outside the table, only a
      // latitude; an empty country.
      {R"(,"lang":"fr","geo-lat":1,"auto-geo":true,"auto-lang":true,"auto-timezone":true)", "",
       "--timezone-override=Europe/Berlin --accept-language=de-DE,de;q=0.9,en;q=0.8 "
       "--geo-lng=2.35 ",
       R"("ip":"203.0.113.7","timezone":"Europe/Berlin","country_code":"de","lat":"",)"
       R"("lng":"2.35","lang":"","accept_lang":"de-DE,de;q=0.9,en;q=0.8","elapsed_ms":E,)"
       R"("provider":"quillon")"},
      {R"(,"webrtc-no-leak":true,"auto-geo":true,"auto-lang":"1","auto-timezone":1)",
       R"({"ip":"203.0.113.9","country_code":"ZZ","latitude":-33.9})",
       "--webrtc-fake-public-ip=203.0.113.9 --force-webrtc-ip-handling-policy=default "
       "--lang=en-US --accept-language=en-US,en;q=0.9 ",
       R"("ip":"203.0.113.9","timezone":"","country_code":"ZZ","lat":"","lng":"","lang":"en-US",)"
       R"("accept_lang":"en-US,en;q=0.9","elapsed_ms":E,"provider":"quillon")"},
      {R"(,"auto-lang":true)", R"({"ip":"203.0.113.9","country_code":""})", "",
       R"("ip":"203.0.113.9","timezone":"","country_code":"","lat":"","lng":"","lang":"",)"
       R"("accept_lang":"","elapsed_ms":E,"provider":"quillon")"},
      // Only the IP is wanted: a primary without one is rescued by the fallback.
      {R"(,"webrtc-no-leak":true)", "none",
       "--webrtc-fake-public-ip=198.51.100.23 --force-webrtc-ip-handling-policy=default ",
       R"("ip":"198.51.100.23","timezone":"","country_code":"","lat":"","lng":"","lang":"",)"
       R"("accept_lang":"","elapsed_ms":E,"provider":"ip.quillon.test")"}};
  for (const auto& [members, geoip, switches, fields] : cases) {
    Launch run = launchPersona(kProxy, members, geoip);
    expectStarted(run);
    std::string argv;
    for (const std::string& arg : run["arg"]) argv += arg + " ";
    EXPECT_TRUE(argv.starts_with(QUILLON_RECORDING_ENGINE_PATH " --user-data-dir=" + profile + " " +
                                 switches + "--device-memory="))
        << argv;
    EXPECT_EQ(report(".quillon-launcher-result.json"),
              R"({"schema":1,"ts":"TS","status":"ok",)" + fields +
                  R"(,"error_code":"","message":"","launcher_version":"0.28.0-mac"})" + "\n");
    EXPECT_FALSE(exists(profile + "/Default/Current Tabs")) << "hygiene ran";
  }
}

// A proxy that is down, under the fallback policy, starts the engine without
// persona values; a wrong login, and an IP-only fallback that fails too,
// block it before hygiene; a later success removes the error report.
TEST_F(DiscoveryLaunchTest, FailuresReportAndFollowThePolicy) {
  const std::string wrongLogin =
      proxyAt("QUILLON_TEST_AUTH_PROXY_PORT", env("QUILLON_TEST_PROXY_USER") + ":wrong@");
  const std::string geo = "https://geo.quillon.test/geoip?format=json";
  const std::string cases[][6] = {
      {proxyAt("QUILLON_TEST_CLOSED_PORT"), R"(,"auto-timezone":true,"on-proxy-fail":"fallback")",
       "PROXY_UNREACHABLE", "7", geo, ""},
      {wrongLogin, R"(,"auto-timezone":true)", "PROXY_AUTH_FAILED", "97", geo, "quillon"},
      {proxyAt("QUILLON_TEST_PROXY_PORT"), R"(,"webrtc-no-leak":true,"on-proxy-fail":"Fallback")",
       "DISCOVERY_HTTP_ERROR", "0", "https://ip.quillon.test/myip", "ip.quillon.test"}};
  for (const auto& [proxy, members, code, curlStatus, url, blockedBy] : cases) {
    Launch run = launchPersona(proxy, members, "none", "none");
    EXPECT_EQ(run.out, "");
    std::string error = report(".quillon-launcher-error.json");
    EXPECT_TRUE(
        error.starts_with(R"({"schema":1,"ts":"TS","step":"discover_proxy_ip","error_code":")" +
                          code + R"(","message":"curl exit )" + curlStatus))
        << error;
    EXPECT_NE(error.find(R"(","proxy":")" + proxy + R"(","discovery_url":")" + url +
                         R"(","curl_exit_code":)" + curlStatus + ",\"elapsed_ms\":E,"),
              std::string::npos)
        << error;
    if (!blockedBy.empty()) {
      EXPECT_EQ(run.status, 42);
      EXPECT_EQ(run.children, 0) << "no engine";
      EXPECT_EQ(readFile(profile + "/Default/Current Tabs"), "tabs") << "no hygiene";
      // The IP field holds what the answer gave, usable or not.
      std::string result = report(".quillon-launcher-result.json");
      EXPECT_TRUE(result.starts_with(R"({"schema":1,"ts":"TS","status":"blocked","ip":")"));
      EXPECT_EQ(result.substr(result.find(R"(","timezone")")),
                R"(","timezone":"","country_code":"",)"
                R"("lat":"","lng":"","lang":"","accept_lang":"","elapsed_ms":E,"provider":")" +
                    blockedBy +
                    R"(","error_code":"PROXY_BLOCKED",)"
                    R"("message":"see .quillon-launcher-error.json for details",)"
                    R"("launcher_version":"0.28.0-mac"})"
                    "\n");
    } else {
      expectStarted(run);
      EXPECT_EQ(run["arg"].at(2).substr(0, 16), "--device-memory=");
      EXPECT_TRUE(report(".quillon-launcher-result.json")
                      .starts_with(R"({"schema":1,"ts":"TS","status":"ok","ip":"",)"));
    }
  }
  expectStarted(launchPersona(proxyAt("QUILLON_TEST_PROXY_PORT"), R"(,"auto-timezone":true)"));
  EXPECT_FALSE(exists(profile + "/.quillon-launcher-error.json"));
}

// Settings that would send curl straight to the endpoint (which answers only
// what comes through the proxy), and a parent that ignores SIGCHLD: the
// engine lingers, or the kernel would reap it for the launcher.
TEST_F(DiscoveryLaunchTest, ProbeStaysOnTheProxyWhateverTheUserSettingsAndSignals) {
  writeFile(tmp / "home/.curlrc", "noproxy = \"*\"\n");
  setEnv("NO_PROXY", "*");
  setEnv("no_proxy", "*");
  setEnv("QUILLON_TEST_LINGER", "60");
  std::string login =
      env("QUILLON_TEST_PROXY_USER") + ":" + env("QUILLON_TEST_PROXY_PASSWORD") + "@";
  Launch run = launchPersona(proxyAt("QUILLON_TEST_AUTH_PROXY_PORT", login),
                             R"(,"auto-timezone":true)", "", "", {.ignored = SIGCHLD});
  expectStarted(run);
  EXPECT_EQ(run["arg"].at(2), "--timezone-override=Europe/Berlin");
  EXPECT_TRUE(std::stoull(run["SigIgn:"].at(0), nullptr, 16) & (1ULL << (SIGCHLD - 1)))
      << "the engine keeps the parent's";
}

}  // namespace
}  // namespace quillon::test
