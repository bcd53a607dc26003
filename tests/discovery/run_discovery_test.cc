// Discovery decisions without threads or time: the steps a window is shown,
// the pauses, the fallback rule, the policy on failure and the resolution of
// the persona's values from a probe's answer.
#include "discovery/run_discovery.h"

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace quillon {
namespace {

// The endpoints of the build's default hosts.
const std::string kGeo = "https://geo.quillon.test/geoip?format=json";
const std::string kMyIp = "https://ip.quillon.test/myip";

DiscoverResult answer(std::string ip, std::string cc = "", std::string tz = "",
                      std::string lat = "", std::string lng = "") {
  return {ip, 0, 5, "", "", cc, tz, lat, lng};
}

DiscoverResult failed(const char* code, int64_t status, int64_t ms) {
  return {"", status, ms, code, std::string("failed with ") + code, "", "", "", ""};
}

// Runs discovery against scripted answers (by endpoint URL), cancelled after
// the given pause, and records what the main thread and the pauses saw.
struct Discovery {
  std::vector<SplashStep> steps = defaultSplashSteps();
  std::string log;  // "index:status|" per posted change, in order
  std::vector<double> pauses;
  std::vector<std::string> asked;
  DiscoveryOutcome outcome;

  Discovery(const OverlayKeys& overlay, const std::string& userDataDir, DiscoverResult primary,
            DiscoverResult fallback = failed("INTERNAL", -1, 0), size_t cancelAfterPause = 0) {
    std::atomic<bool> cancelled{false};
    DiscoverySeams seams;
    seams.probe = [&](const std::string& proxy, const std::string& url) {
      EXPECT_EQ(proxy, overlay.proxyServer);
      asked.push_back(url);
      return url == kGeo ? primary : fallback;
    };
    seams.pause = [&](double seconds) {
      pauses.push_back(seconds);
      cancelled = pauses.size() == cancelAfterPause;
    };
    seams.postStep = [&](size_t index, StepChange change) {
      applyStepChange(steps, index, change);
      log += std::to_string(index) + ":" + steps.at(index).status + "|";
    };
    outcome = runDiscovery(overlay, userDataDir, seams, cancelled);
  }
  std::string flags() const {  // done and failed of each step
    std::string f;
    for (const SplashStep& s : steps) f += std::string(s.done ? "d" : "-") + (s.failed ? "f" : "-");
    return f;
  }
};

OverlayKeys persona(const char* onProxyFail, bool autoTimezone = true) {
  OverlayKeys o;
  o.proxyServer = "socks5://u:p@127.0.0.1:1080";
  o.onProxyFail = onProxyFail;
  o.autoTimezone = autoTimezone;
  o.webrtcNoLeak = true;
  return o;
}

TEST(RunDiscovery, StepsPausesAndReportsForTheThreeOutcomes) {
  test::TempDir dir;
  const std::string start =
      "0:socks5://u:p@127.0.0.1:1080|1:contacting geo.quillon.test via SOCKS5\u2026|1:";
  struct Case {
    const char* policy;
    DiscoverResult primary;
    std::string log, flags;
    double pause;  // after the resolution
    bool blocked;
  };
  const Case cases[] = {
      {"block", answer("203.0.113.7", "", "Asia/Tokyo"),
       start + "203.0.113.7|2:ip=203.0.113.7 tz=Asia/Tokyo|3:|", "d-d-d-d-", 0.18, false},
      {"fallback", failed("PROXY_TIMEOUT", 28, 10000),
       start + "WARN: PROXY_TIMEOUT \u2014 chrome will fall back|2:none (passthrough)|3:|",
       "d-dfd-d-", 0.18, false},
      {"block", failed("PROXY_UNREACHABLE", 7, 3),
       start +
           "BLOCKED: PROXY_UNREACHABLE|2:skipped \u2014 engine launch blocked|3:aborted (exit 42)|",
       "d-dfdfdf", 2.5, true}};
  for (const Case& c : cases) {
    test::writeFile(dir / ".quillon-launcher-error.json", "stale");
    Discovery run(persona(c.policy), dir.path(), c.primary);
    EXPECT_EQ(run.log, c.log);
    EXPECT_EQ(run.flags(), c.flags);
    EXPECT_EQ(run.pauses, (std::vector<double>{0.12, c.pause, 0.12, 0.08}));
    EXPECT_EQ(run.outcome.blockEngine, c.blocked);
    EXPECT_FALSE(run.outcome.cancelled);
    EXPECT_EQ(test::exists(dir / ".quillon-launcher-error.json"), !c.primary.errorCode.empty());
    EXPECT_EQ(run.asked, std::vector<std::string>{kGeo}) << "geo asked: no fallback";
  }
}

TEST(RunDiscovery, FallbackOnlyWhenOnlyTheIpIsWanted) {
  test::TempDir dir;
  Discovery rescued(persona("block", false), dir.path(), failed("PROXY_TIMEOUT", 28, 10000),
                    answer("198.51.100.23"));
  EXPECT_EQ(rescued.asked, (std::vector<std::string>{kGeo, kMyIp}));
  EXPECT_TRUE(
      rescued.log.find("|1:primary failed \u2014 trying ip.quillon.test\u2026|1:198.51.100.23|") !=
      std::string::npos);
  EXPECT_EQ(rescued.outcome.resolved.fakeIP, "198.51.100.23");
  EXPECT_EQ(rescued.outcome.capture.provider, "ip.quillon.test");
  EXPECT_EQ(rescued.outcome.capture.elapsedMs, 10005);
  EXPECT_FALSE(test::exists(dir / ".quillon-launcher-error.json"));

  Discovery lost(persona("block", false), dir.path(), failed("PROXY_TIMEOUT", 28, 10000),
                 failed("PROXY_AUTH_FAILED", 97, 20));
  EXPECT_TRUE(lost.outcome.blockEngine);
  EXPECT_EQ(lost.outcome.capture.provider, "ip.quillon.test");
  std::string report = test::readFile(dir / ".quillon-launcher-error.json");
  EXPECT_NE(report.find("\"error_code\":\"PROXY_AUTH_FAILED\",\"message\":\"failed with "
                        "PROXY_AUTH_FAILED\",\"proxy\":\"socks5://u:p@127.0.0.1:1080\","
                        "\"discovery_url\":\"" +
                        kMyIp + "\",\"curl_exit_code\":97,\"elapsed_ms\":10020,"),
            std::string::npos)
      << report;
  Discovery uncalled(persona("block", false), dir.path(), failed("INTERNAL", -1, 0));
  EXPECT_EQ(test::readFile(dir / ".quillon-launcher-error.json").find("curl_exit_code"),
            std::string::npos)
      << "a tool that never ran has no exit code";
}

TEST(RunDiscovery, CancelledAtEitherCheckStopsThere) {
  test::TempDir dir;
  Discovery early(persona("block"), dir.path(), answer("203.0.113.7"), {}, 1);
  EXPECT_TRUE(early.outcome.cancelled && early.asked.empty());
  EXPECT_EQ(early.log, "0:socks5://u:p@127.0.0.1:1080|");
  Discovery late(persona("block"), dir.path(), answer("203.0.113.7"), {}, 2);
  EXPECT_TRUE(late.outcome.cancelled);
  EXPECT_TRUE(late.log.ends_with("|1:203.0.113.7|")) << "nothing after the second check";
}

TEST(ResolvePersona, StatedValuesWinAndOnlyWholeAnswersResolve) {
  OverlayKeys all;
  all.webrtcNoLeak = all.autoGeo = all.autoLang = all.autoTimezone = true;
  OverlayKeys stated = all;
  stated.langSet = stated.geoLngSet = stated.webrtcFakePublicIpSet = stated.timezoneOverrideSet =
      true;
  const std::tuple<OverlayKeys, DiscoverResult, std::string> cases[] = {
      // ip|lat|lng|lang|accept|tz
      {all, answer("203.0.113.7", "de", "Europe/Berlin", "48.85", "2.35"),
       "203.0.113.7|48.85|2.35|de-DE|de-DE,de;q=0.9,en;q=0.8|Europe/Berlin"},
      {stated, answer("203.0.113.7", "BE", "Europe/Brussels", "50.8", "4.3"),
       "|50.8|||fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7|"},
      {all, answer("203.0.113.7", "ZZ", "", "48.85", ""), "203.0.113.7|||en-US|en-US,en;q=0.9|"},
      {all, answer("203.0.113.7", "\u0131l"), "203.0.113.7|||he-IL|he-IL,he;q=0.9,en;q=0.8|"},
      {all, answer("203.0.113.7", "", "", "", "2.35"), "203.0.113.7|||||"}};
  for (const auto& [overlay, result, resolved] : cases) {
    ResolvedPersona p = resolvePersona(overlay, result);
    EXPECT_EQ(
        p.fakeIP + "|" + p.geoLat + "|" + p.geoLng + "|" + p.lang + "|" + p.acceptLang + "|" + p.tz,
        resolved);
  }
  EXPECT_EQ(
      overrideSummary({"203.0.113.7", "48.85", "", "de-DE", "de-DE,de;q=0.9", "Europe/Berlin"}),
      "ip=203.0.113.7 tz=Europe/Berlin lang=de-DE lat=48.85");
}

}  // namespace
}  // namespace quillon
