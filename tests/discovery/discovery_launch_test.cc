// The discovery path of the built launcher through real microsocks to the
// loopback geo-IP responder, inside the network of with_test_network.sh.
#include <cstdlib>
#include <regex>

#include "launcher_process.h"

namespace quillon::test {
namespace {

std::string env(const char* name) {
  return getenv(name) ? getenv(name) : "";
}

std::string proxyAt(const char* portVariable, const std::string& login = "") {
  return "socks5://" + login + "127.0.0.1:" + env(portVariable);
}

class DiscoveryLaunchTest : public LauncherProcess {
 protected:
  void SetUp() override {
    ASSERT_NE(env("QUILLON_TEST_ANSWERS"), "") << "run through with_test_network.sh";
    LauncherProcess::SetUp();
    setEnv("CURL_CA_BUNDLE", env("CURL_CA_BUNDLE"));
    setEnv("PATH", "/usr/bin:/bin");
  }

  // Launches a persona with the given members after its proxy and the
  // responder's answers ("": its own), on a profile with a session's tabs.
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

  // A report with its timestamp and elapsed time as TS and E.
  std::string report(const char* name) {
    static const std::regex timed(R"("ts":"[-0-9T:]{19}Z"|"elapsed_ms":\d+)");
    return std::regex_replace(readFile(profile + "/" + name), timed, "T");
  }

  std::string profile = tmp / "profile";
};

// The persona's switches come right after the user data directory. The probe
// stays on the proxy (the endpoint answers nothing else) whatever the user's
// curl and no-proxy settings say, and under a parent that ignores SIGCHLD.
TEST_F(DiscoveryLaunchTest, ValuesFromTheProxyReachTheEngineAndTheReport) {
  writeFile(tmp / "home/.curlrc", "noproxy = \"*\"\n");
  setEnv("NO_PROXY", "*");
  setEnv("no_proxy", "*");
  setEnv("QUILLON_TEST_LINGER", "60");  // or the kernel would reap it for the launcher
  const std::string proxy =
      proxyAt("QUILLON_TEST_AUTH_PROXY_PORT",
              env("QUILLON_TEST_PROXY_USER") + ":" + env("QUILLON_TEST_PROXY_PASSWORD") + "@");
  const std::string all =
      R"(,"webrtc-no-leak":true,"auto-geo":true,"auto-lang":"1","auto-timezone":1)";
  const std::string cases[][4] = {
      // members, geoip answer, switches, report fields
      {all, "",
       "--webrtc-fake-public-ip=203.0.113.7 --force-webrtc-ip-handling-policy=default "
       "--timezone-override=Europe/Berlin --lang=de-DE --accept-language=de-DE,de;q=0.9,en;q=0.8 "
       "--geo-lat=48.85 --geo-lng=2.35 --geo-accuracy=100 ",
       R"("203.0.113.7","timezone":"Europe/Berlin","country_code":"de","lat":"48.85","lng":"2.35",)"
       R"("lang":"de-DE","accept_lang":"de-DE,de;q=0.9,en;q=0.8",T,"provider":"quillon")"},
      {R"(,"webrtc-no-leak":true)", "none",  // only the IP is wanted: the fallback rescues it
       "--webrtc-fake-public-ip=198.51.100.23 --force-webrtc-ip-handling-policy=default ",
       R"("198.51.100.23","timezone":"","country_code":"","lat":"","lng":"","lang":"",)"
       R"("accept_lang":"",T,"provider":"ip.quillon.test")"}};
  for (const auto& [members, geoip, switches, fields] : cases) {
    Launch run = launchPersona(proxy, members, geoip, "", {.ignored = SIGCHLD});
    expectStarted(run);
    EXPECT_TRUE(std::stoull(run["SigIgn:"].at(0), nullptr, 16) & (1ULL << (SIGCHLD - 1)));
    std::string argv;
    for (const std::string& arg : run["arg"]) argv += arg + " ";
    EXPECT_TRUE(argv.starts_with(QUILLON_RECORDING_ENGINE_PATH " --user-data-dir=" + profile + " " +
                                 switches + "--device-memory="))
        << argv;
    EXPECT_EQ(report(".quillon-launcher-result.json"),
              R"({"schema":1,T,"status":"ok","ip":)" + fields +
                  R"(,"error_code":"","message":"","launcher_version":"0.28.0-mac"})" + "\n");
    EXPECT_FALSE(exists(profile + "/Default/Current Tabs")) << "hygiene ran";
  }
}

// A proxy that is down, under the fallback policy, starts the engine without
// persona values; a wrong login blocks it before hygiene; a later success
// removes the error report.
TEST_F(DiscoveryLaunchTest, FailuresReportAndFollowThePolicy) {
  const std::string cases[][5] = {
      // proxy, members, code, curl status, provider
      {proxyAt("QUILLON_TEST_CLOSED_PORT"), R"(,"auto-timezone":true,"on-proxy-fail":"fallback")",
       "PROXY_UNREACHABLE", "7", ""},
      {proxyAt("QUILLON_TEST_AUTH_PROXY_PORT", env("QUILLON_TEST_PROXY_USER") + ":wrong@"),
       R"(,"auto-timezone":true)", "PROXY_AUTH_FAILED", "97", "quillon"}};
  for (const auto& [proxy, members, code, curlStatus, provider] : cases) {
    Launch run = launchPersona(proxy, members, "none", "none");
    std::string error = report(".quillon-launcher-error.json");
    EXPECT_TRUE(error.starts_with(R"({"schema":1,T,"step":"discover_proxy_ip","error_code":")" +
                                  code + R"(","message":"curl exit )" + curlStatus))
        << error;
    EXPECT_NE(error.find(R"(","proxy":")" + proxy +
                         R"(","discovery_url":"https://geo.quillon.test/geoip?format=json",)"
                         R"("curl_exit_code":)" +
                         curlStatus + ",T,"),
              std::string::npos)
        << error;
    if (provider.empty()) {
      expectStarted(run);
      EXPECT_EQ(run["arg"].at(2).substr(0, 16), "--device-memory=");
      continue;
    }
    EXPECT_EQ(run.status, 42);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.children, 0) << "no engine";
    EXPECT_EQ(readFile(profile + "/Default/Current Tabs"), "tabs") << "no hygiene";
    std::string result = report(".quillon-launcher-result.json");  // ip: the answer's text
    EXPECT_EQ(result.substr(result.find(R"(","timezone")")),
              R"(","timezone":"","country_code":"","lat":"","lng":"","lang":"","accept_lang":"",)"
              R"(T,"provider":")" +
                  provider +
                  R"(","error_code":"PROXY_BLOCKED",)"
                  R"("message":"see .quillon-launcher-error.json for details",)"
                  R"("launcher_version":"0.28.0-mac"})"
                  "\n");
  }
  expectStarted(launchPersona(proxyAt("QUILLON_TEST_PROXY_PORT"), R"(,"auto-timezone":true)"));
  EXPECT_FALSE(exists(profile + "/.quillon-launcher-error.json"));
}

}  // namespace
}  // namespace quillon::test
