// Discovery decisions without threads or time: the steps a window is shown,
// the pauses, the fallback rule, the policy on failure and the resolution of
// the persona's values from a probe's answer.
#include "discovery/run_discovery.h"

#include <gtest/gtest.h>

#include <vector>

#include "discovery/endpoints.h"
#include "report/error_report.h"
#include "support/test_files.h"

namespace quillon {
namespace {

DiscoverResult answer(std::string ip, std::string cc = "", std::string tz = "",
                      std::string lat = "", std::string lng = "") {
  return {ip, 0, 5, "", "", cc, tz, lat, lng};
}

DiscoverResult failed(const char* code, int64_t status, int64_t ms) {
  return {"", status, ms, code, std::string("failed with ") + code, "", "", "", ""};
}

// Runs discovery against scripted answers (by endpoint URL) and records what
// the main thread and the pauses would have seen.
struct Discovery {
  std::vector<SplashStep> steps = defaultSplashSteps();
  std::vector<std::string> log;  // "index:status" per posted change, in order
  std::vector<double> pauses;
  std::vector<std::string> asked;
  DiscoveryOutcome outcome;

  Discovery(const OverlayKeys& overlay, const std::string& userDataDir, DiscoverResult primary,
            DiscoverResult fallback = failed("INTERNAL", -1, 0), int cancelAfterPause = -1) {
    std::atomic<bool> cancelled{false};
    DiscoverySeams seams;
    seams.probe = [&](const std::string& proxy, const std::string& url) {
      EXPECT_EQ(proxy, overlay.proxyServer);
      asked.push_back(url);
      return url == primaryEndpointURL() ? primary : fallback;
    };
    seams.pause = [&](double seconds) {
      pauses.push_back(seconds);
      if (static_cast<int>(pauses.size()) == cancelAfterPause) cancelled = true;
    };
    seams.postStep = [&](size_t index, StepChange change) {
      applyStepChange(steps, index, change);
      log.push_back(std::to_string(index) + ":" + (index < 4 ? steps[index].status : "?"));
    };
    outcome = runDiscovery(overlay, userDataDir, seams, cancelled);
  }

  std::string flags() const {
    std::string f;
    for (const SplashStep& s : steps) f += std::string(s.done ? "d" : "-") + (s.failed ? "f" : "-");
    return f;
  }
};

OverlayKeys persona(const char* onProxyFail = "block") {
  OverlayKeys o;
  o.proxyServer = "socks5://u:p@127.0.0.1:1080";
  o.onProxyFail = onProxyFail;
  o.autoTimezone = true;
  o.webrtcNoLeak = true;
  return o;
}

TEST(RunDiscovery, StepsPausesAndReportsForTheThreeOutcomes) {
  test::TempDir dir;
  const std::string errorReport = dir / ".quillon-launcher-error.json";
  const std::string contacting = contactingPrimaryText();
  struct Case {
    const char* policy;
    DiscoverResult primary;
    std::vector<std::string> log;
    std::string flags;
    std::vector<double> pauses;
    bool blocked, errorReportLeft;
  };
  const Case cases[] = {
      {"block",
       answer("203.0.113.7", "", "Asia/Tokyo"),
       {"0:socks5://u:p@127.0.0.1:1080", "1:" + contacting, "1:203.0.113.7",
        "2:ip=203.0.113.7 tz=Asia/Tokyo", "3:"},
       "d-d-d-d-",
       {0.12, 0.18, 0.12, 0.08},
       false,
       false},
      {"fallback",
       failed("PROXY_TIMEOUT", 28, 10000),
       {"0:socks5://u:p@127.0.0.1:1080", "1:" + contacting,
        "1:WARN: PROXY_TIMEOUT \u2014 chrome will fall back", "2:none (passthrough)", "3:"},
       "d-dfd-d-",
       {0.12, 0.18, 0.12, 0.08},
       false,
       true},
      {"block",
       failed("PROXY_UNREACHABLE", 7, 3),
       {"0:socks5://u:p@127.0.0.1:1080", "1:" + contacting, "1:BLOCKED: PROXY_UNREACHABLE",
        "2:skipped \u2014 engine launch blocked", "3:aborted (exit 42)"},
       "d-dfdfdf",
       {0.12, 2.5, 0.12, 0.08},
       true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log[2]);
    test::writeFile(errorReport, "stale");
    Discovery run(persona(c.policy), dir.path(), c.primary);
    EXPECT_EQ(run.log, c.log);
    EXPECT_EQ(run.flags(), c.flags);
    EXPECT_EQ(run.pauses, c.pauses);
    EXPECT_EQ(run.outcome.blockEngine, c.blocked);
    EXPECT_FALSE(run.outcome.cancelled);
    EXPECT_EQ(test::exists(errorReport), c.errorReportLeft);
    EXPECT_EQ(run.asked, std::vector<std::string>{primaryEndpointURL()})
        << "geo asked: no fallback";
  }
}

TEST(RunDiscovery, FallbackOnlyWhenOnlyTheIpIsWanted) {
  test::TempDir dir;
  OverlayKeys ipOnly = persona();
  ipOnly.autoTimezone = false;

  Discovery rescued(ipOnly, dir.path(), failed("PROXY_TIMEOUT", 28, 10000),
                    answer("198.51.100.23"));
  EXPECT_EQ(rescued.asked, (std::vector<std::string>{primaryEndpointURL(), fallbackEndpointURL()}));
  EXPECT_EQ(rescued.log[2], "1:" + tryingFallbackText());
  EXPECT_EQ(rescued.steps[1].status, "198.51.100.23");
  EXPECT_EQ(rescued.outcome.resolved.fakeIP, "198.51.100.23");
  EXPECT_EQ(rescued.outcome.capture.provider, fallbackProviderLabel());
  EXPECT_EQ(rescued.outcome.capture.elapsedMs, 10005);
  EXPECT_FALSE(test::exists(dir / ".quillon-launcher-error.json"));

  Discovery lost(ipOnly, dir.path(), failed("PROXY_TIMEOUT", 28, 10000),
                 failed("PROXY_AUTH_FAILED", 97, 20));
  EXPECT_TRUE(lost.outcome.blockEngine);
  EXPECT_EQ(lost.outcome.capture.provider, fallbackProviderLabel());
  std::string report = test::readFile(dir / ".quillon-launcher-error.json");
  for (const std::string& part :
       {std::string(
            "\"error_code\":\"PROXY_AUTH_FAILED\",\"message\":\"failed with PROXY_AUTH_FAILED\""),
        "\"discovery_url\":\"" + fallbackEndpointURL() +
            "\",\"curl_exit_code\":97,\"elapsed_ms\":10020,"})
    EXPECT_NE(report.find(part), std::string::npos) << report;

  Discovery uncalled(ipOnly, dir.path(), failed("INTERNAL", -1, 0));
  EXPECT_EQ(test::readFile(dir / ".quillon-launcher-error.json").find("curl_exit_code"),
            std::string::npos)
      << "a tool that never ran has no exit code";
}

TEST(RunDiscovery, CancelledAtEitherCheckStopsThere) {
  test::TempDir dir;
  Discovery early(persona(), dir.path(), answer("203.0.113.7"), {}, 1);
  EXPECT_TRUE(early.outcome.cancelled);
  EXPECT_TRUE(early.asked.empty());
  EXPECT_EQ(early.log.size(), 1u);

  Discovery late(persona(), dir.path(), answer("203.0.113.7"), {}, 2);
  EXPECT_TRUE(late.outcome.cancelled);
  EXPECT_EQ(late.log.back(), "1:203.0.113.7") << "nothing after the second check";
}

TEST(ResolvePersona, StatedValuesWinAndOnlyWholeAnswersResolve) {
  auto all = [] {
    OverlayKeys o;
    o.webrtcNoLeak = o.autoGeo = o.autoLang = o.autoTimezone = true;
    return o;
  };
  OverlayKeys stated = all();
  stated.langSet = stated.geoLngSet = stated.webrtcFakePublicIpSet = stated.timezoneOverrideSet =
      true;
  struct Case {
    OverlayKeys overlay;
    DiscoverResult result;
    std::string resolved;  // ip|lat|lng|lang|accept|tz
  };
  const Case cases[] = {
      {all(), answer("203.0.113.7", "de", "Europe/Berlin", "48.85", "2.35"),
       "203.0.113.7|48.85|2.35|de-DE|de-DE,de;q=0.9,en;q=0.8|Europe/Berlin"},
      {stated, answer("203.0.113.7", "BE", "Europe/Brussels", "50.8", "4.3"),
       "|50.8|||fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7|"},
      {all(), answer("203.0.113.7", "ZZ", "", "48.85", ""), "203.0.113.7|||en-US|en-US,en;q=0.9|"},
      {all(), answer("203.0.113.7", "\u0131l"), "203.0.113.7|||he-IL|he-IL,he;q=0.9,en;q=0.8|"},
      {all(), answer("203.0.113.7", "", "", "", "2.35"), "203.0.113.7|||||"},
  };
  for (const Case& c : cases) {
    ResolvedPersona p = resolvePersona(c.overlay, c.result);
    EXPECT_EQ(
        p.fakeIP + "|" + p.geoLat + "|" + p.geoLng + "|" + p.lang + "|" + p.acceptLang + "|" + p.tz,
        c.resolved)
        << c.result.countryCode;
  }
}

TEST(OverrideSummary, FixedOrderSkippingEmptyValues) {
  ResolvedPersona p{"203.0.113.7", "48.85", "", "de-DE", "de-DE,de;q=0.9", "Europe/Berlin"};
  EXPECT_EQ(overrideSummary(p), "ip=203.0.113.7 tz=Europe/Berlin lang=de-DE lat=48.85");
  EXPECT_EQ(overrideSummary({}), "");
}

}  // namespace
}  // namespace quillon
