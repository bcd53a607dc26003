// The discovery path of the built launcher, through real microsocks to the
// loopback geo-IP responder (inside the private network that
// with_test_network.sh builds): what the engine and the reports get for each
// answer, the failures and their policy, and a probe that stays on the
// persona's proxy whatever the user's curl and signal settings say.
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

const std::string kProxy = proxyAt("QUILLON_TEST_PROXY_PORT");
const std::string kGeo = "https://geo.quillon.test/geoip?format=json";
const std::string kMyIp = "https://ip.quillon.test/myip";

// The report line with its timestamp replaced by TS, once its form is checked.
std::string untimed(const std::string& report) {
  static const std::regex ts(R"("ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")");
  return std::regex_replace(report, ts, "\"ts\":\"TS\"");
}

std::string okReport(const std::string& fields) {
  return R"({"schema":1,"ts":"TS","status":"ok",)" + fields +
         R"(,"error_code":"","message":"","launcher_version":"0.28.0-mac"})"
         "\n";
}

// The engine's extra switches after the persona's: the device switches and
// the start page.
Args deviceSwitchesAndStartPage(const Args& argv) {
  return Args(argv.end() - 7, argv.end() - 3);
}

class DiscoveryLaunchTest : public LauncherProcess {
 protected:
  void SetUp() override {
    ASSERT_NE(env("QUILLON_TEST_ANSWERS"), "") << "run through with_test_network.sh";
    LauncherProcess::SetUp();
    setEnv("CURL_CA_BUNDLE", env("CURL_CA_BUNDLE"));
    setEnv("PATH", "/usr/bin:/bin");
  }
  void TearDown() override {
    std::filesystem::remove(env("QUILLON_TEST_ANSWERS") + "/geoip");
    std::filesystem::remove(env("QUILLON_TEST_ANSWERS") + "/myip");
  }

  // Sets the responder's answers ("" keeps its default) and the persona, then
  // launches on the profile with a previous session's tabs in it.
  Launch launchPersona(const std::string& persona, const std::string& geoip = "",
                       const std::string& myip = "", Options setup = {}) {
    std::filesystem::remove(env("QUILLON_TEST_ANSWERS") + "/geoip");
    std::filesystem::remove(env("QUILLON_TEST_ANSWERS") + "/myip");
    if (!geoip.empty()) writeFile(env("QUILLON_TEST_ANSWERS") + "/geoip", geoip);
    if (!myip.empty()) writeFile(env("QUILLON_TEST_ANSWERS") + "/myip", myip);
    writeFile(profile_ + "/command-line.json",
              R"({"close-previous-tabs":true,"proxy-server":")" + persona);
    writeFile(profile_ + "/Default/Current Tabs", "tabs");
    return launch({"--user-data-dir=" + profile_}, setup);
  }
  std::string resultReport() { return untimed(readFile(profile_ + "/.quillon-launcher-result.json")); }
  std::string errorReport() { return untimed(readFile(profile_ + "/.quillon-launcher-error.json")); }

  // The engine's arguments: its path, the user data directory, the persona's
  // switches, then the device switches, start page and trailing switches.
  Args engineArgs(const Args& persona, const Launch& run) {
    Args argv = {QUILLON_RECORDING_ENGINE_PATH, "--user-data-dir=" + profile_};
    argv.insert(argv.end(), persona.begin(), persona.end());
    Args tail = run["arg"].size() >= 7 ? deviceSwitchesAndStartPage(run["arg"]) : Args{};
    argv.insert(argv.end(), tail.begin(), tail.end());
    argv.insert(argv.end(),
                {"--hide-crash-restore-bubble",
                 "--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
                 "--disable-save-password-bubble"});
    return argv;
  }

  std::string profile_ = tmp / "profile";
};

TEST_F(DiscoveryLaunchTest, ValuesFromTheProxyReachTheEngineAndTheReport) {
  const std::string everything =
      R"(","webrtc-no-leak":true,"auto-geo":true,"auto-lang":"1","auto-timezone":1})";
  struct Case {
    std::string persona, geoip, myip;
    std::vector<std::string> switches;
    std::string report;
  };
  const Case cases[] = {
      {kProxy + everything, "", "",
       {"--webrtc-fake-public-ip=203.0.113.7", "--force-webrtc-ip-handling-policy=default",
        "--timezone-override=Europe/Berlin", "--lang=de-DE",
        "--accept-language=de-DE,de;q=0.9,en;q=0.8", "--geo-lat=48.85", "--geo-lng=2.35",
        "--geo-accuracy=100"},
       R"("ip":"203.0.113.7","timezone":"Europe/Berlin","country_code":"de","lat":"48.85",)"
       R"("lng":"2.35","lang":"de-DE","accept_lang":"de-DE,de;q=0.9,en;q=0.8","elapsed_ms":E,)"
       R"("provider":"quillon")"},
      {kProxy + R"(","lang":"fr","geo-lat":1,"auto-geo":true,"auto-lang":true,"auto-timezone":true})",
       "", "",
       {"--timezone-override=Europe/Berlin", "--accept-language=de-DE,de;q=0.9,en;q=0.8",
        "--geo-lng=2.35"},
       R"("ip":"203.0.113.7","timezone":"Europe/Berlin","country_code":"de","lat":"",)"
       R"("lng":"2.35","lang":"","accept_lang":"de-DE,de;q=0.9,en;q=0.8","elapsed_ms":E,)"
       R"("provider":"quillon")"},
      {kProxy + everything, R"({"ip":"203.0.113.9","country_code":"ZZ","latitude":-33.9})", "",
       {"--webrtc-fake-public-ip=203.0.113.9", "--force-webrtc-ip-handling-policy=default",
        "--lang=en-US", "--accept-language=en-US,en;q=0.9"},
       R"("ip":"203.0.113.9","timezone":"","country_code":"ZZ","lat":"","lng":"","lang":"en-US",)"
       R"("accept_lang":"en-US,en;q=0.9","elapsed_ms":E,"provider":"quillon")"},
      {kProxy + R"(","auto-lang":true})", R"({"ip":"203.0.113.9","country_code":""})", "", {},
       R"("ip":"203.0.113.9","timezone":"","country_code":"","lat":"","lng":"","lang":"",)"
       R"("accept_lang":"","elapsed_ms":E,"provider":"quillon")"},
      // Only the IP is wanted: a primary without one is rescued by the fallback.
      {kProxy + R"(","webrtc-no-leak":true})", "none", "",
       {"--webrtc-fake-public-ip=198.51.100.23", "--force-webrtc-ip-handling-policy=default"},
       R"("ip":"198.51.100.23","timezone":"","country_code":"","lat":"","lng":"","lang":"",)"
       R"("accept_lang":"","elapsed_ms":E,"provider":"ip.quillon.test")"},
  };
  static const std::regex elapsed(R"("elapsed_ms":\d+,)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.persona);
    Launch run = launchPersona(c.persona, c.geoip, c.myip);
    expectStarted(run);
    EXPECT_EQ(run["arg"], engineArgs(c.switches, run));
    EXPECT_EQ(std::regex_replace(resultReport(), elapsed, "\"elapsed_ms\":E,"), okReport(c.report));
    EXPECT_FALSE(exists(profile_ + "/Default/Current Tabs")) << "hygiene ran";
    EXPECT_FALSE(exists(profile_ + "/.quillon-launcher-error.json"));
  }
}

TEST_F(DiscoveryLaunchTest, FailuresReportAndFollowThePolicy) {
  const std::string closed = proxyAt("QUILLON_TEST_CLOSED_PORT");
  const std::string wrongLogin =
      proxyAt("QUILLON_TEST_AUTH_PROXY_PORT", env("QUILLON_TEST_PROXY_USER") + ":wrong@");
  struct Case {
    std::string persona, geoip, myip;
    int status;
    std::string code, url, curlStatus;
  };
  const Case cases[] = {
      {closed + R"(","auto-timezone":true,"on-proxy-fail":"fallback"})", "", "", 0,
       "PROXY_UNREACHABLE", kGeo, "7"},
      {wrongLogin + R"(","auto-timezone":true})", "", "", 42, "PROXY_AUTH_FAILED", kGeo, "97"},
      {kProxy + R"(","webrtc-no-leak":true,"on-proxy-fail":"Fallback"})", "none", "none", 42,
       "DISCOVERY_HTTP_ERROR", kMyIp, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.persona);
    Launch run = launchPersona(c.persona, c.geoip, c.myip);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    std::string error = errorReport();
    EXPECT_TRUE(error.starts_with(R"({"schema":1,"ts":"TS","step":"discover_proxy_ip","error_code":")" +
                                  c.code + R"(","message":"curl exit )" + c.curlStatus))
        << error;
    EXPECT_NE(error.find(R"(","proxy":")" + c.persona.substr(0, c.persona.find('"')) +
                         R"(","discovery_url":")" + c.url + R"(","curl_exit_code":)" +
                         c.curlStatus + ",\"elapsed_ms\":"),
              std::string::npos)
        << error;
    if (c.status == 42) {
      EXPECT_EQ(run.children, 0) << "no engine";
      EXPECT_EQ(readFile(profile_ + "/Default/Current Tabs"), "tabs") << "no hygiene";
      EXPECT_TRUE(resultReport().starts_with(R"({"schema":1,"ts":"TS","status":"blocked",)"));
      EXPECT_TRUE(resultReport().ends_with(
          R"("error_code":"PROXY_BLOCKED","message":"see .quillon-launcher-error.json for details",)"
          R"("launcher_version":"0.28.0-mac"})"
          "\n"));
    } else {
      expectStarted(run);
      EXPECT_EQ(run["arg"], engineArgs({}, run));
      EXPECT_TRUE(resultReport().starts_with(R"({"schema":1,"ts":"TS","status":"ok","ip":"",)"));
    }
  }
  // A later discovery that succeeds leaves no error report behind.
  expectStarted(launchPersona(kProxy + R"(","auto-timezone":true})"));
  EXPECT_FALSE(exists(profile_ + "/.quillon-launcher-error.json"));
}

TEST_F(DiscoveryLaunchTest, ProbeStaysOnTheProxyWhateverTheUserSettingsAndSignals) {
  // Settings that would send curl straight to the endpoint, which answers
  // only what comes through the proxy; and a parent that ignores SIGCHLD.
  writeFile(tmp / "home/.curlrc", "noproxy = \"*\"\n");
  setEnv("NO_PROXY", "*");
  setEnv("no_proxy", "*");
  // An engine that ends at once would be reaped by the kernel for the
  // launcher, which ignores SIGCHLD; it stays until the test ends it.
  setEnv("QUILLON_TEST_LINGER", "60");
  std::string login = env("QUILLON_TEST_PROXY_USER") + ":" + env("QUILLON_TEST_PROXY_PASSWORD") + "@";
  Launch run = launchPersona(proxyAt("QUILLON_TEST_AUTH_PROXY_PORT", login) +
                                 R"(","auto-timezone":true})",
                             "", "", {.ignored = SIGCHLD});
  expectStarted(run);
  EXPECT_EQ(run["arg"].at(2), "--timezone-override=Europe/Berlin");
  EXPECT_TRUE(std::stoull(run["SigIgn:"].at(0), nullptr, 16) & (1ULL << (SIGCHLD - 1)))
      << "the engine keeps the parent's";
}

}  // namespace
}  // namespace quillon::test
