// Discovery decisions without threads or time: the steps shown, the pauses,
// the fallback rule, the failure policy and the persona's values from an answer.
#include "discovery/run_discovery.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_files.h"

namespace quillon {
namespace {

const std::string kGeo = "https://geo.quillon.test/geoip?format=json";
const std::string kMyIp = "https://ip.quillon.test/myip";

DiscoverResult answer(std::string ip, std::string cc = "", std::string tz = "",
                      std::string lat = "", std::string lng = "") {
  return {ip, 0, 5, "", "", cc, tz, lat, lng};
}

DiscoverResult failed(const char* code, int64_t status, int64_t ms) {
  return {"", status, ms, code, std::string("failed with ") + code, "", "", "", ""};
}

OverlayKeys persona(const char* onProxyFail, bool autoTimezone = true) {
  OverlayKeys o;
  o.proxyServer = "socks5://u:p@127.0.0.1:1080";
  o.webrtcNoLeak = true;
  o.onProxyFail = onProxyFail;
  o.autoTimezone = autoTimezone;
  return o;
}

// Runs discovery against answers by endpoint, cancelled at the given pause, and
// tells what was seen, "|" after each: step changes as "index:status", pauses,
// endpoints; then each step's done and failed flags, the outcome, the provider,
// the time and the overrides.
std::string discover(const OverlayKeys& o, const std::string& dir, DiscoverResult primary,
                     DiscoverResult fallback = failed("INTERNAL", -1, 0), int cancelAt = 0) {
  std::vector<SplashStep> steps = defaultSplashSteps();
  std::ostringstream seen;
  int pauses = 0;
  std::atomic<bool> cancelled{false};
  DiscoverySeams seams;
  seams.probe = [&](const std::string& proxy, const std::string& url) {
    seen << (url == kGeo ? "geo" : url == kMyIp ? "myip" : url);
    seen << (proxy == o.proxyServer ? "|" : "?|");
    return url == kGeo ? primary : fallback;
  };
  seams.pause = [&](double seconds) {
    seen << seconds << "|";
    cancelled = ++pauses == cancelAt;
  };
  seams.postStep = [&](size_t index, StepChange change) {
    applyStepChange(steps, index, change);
    seen << index << ":" << steps.at(index).status << "|";
  };
  DiscoveryOutcome out = runDiscovery(o, dir, seams, cancelled);
  for (const SplashStep& s : steps) seen << (s.done ? "d" : "-") << (s.failed ? "f" : "-");
  seen << (out.cancelled ? " cancelled " : out.blockEngine ? " blocked " : " go ");
  seen << out.capture.provider << " " << out.capture.elapsedMs << " ";
  seen << overrideSummary(out.resolved);
  return seen.str();
}

// The three outcomes; only a persona that wants no more than the IP falls
// back; cancellation stops at either check.
TEST(RunDiscovery, StepsPausesProvidersAndErrorReports) {
  test::TempDir dir;
  const std::string error = dir / ".quillon-launcher-error.json";
  const std::string start =
      "0:socks5://u:p@127.0.0.1:1080|0.12|1:contacting geo.quillon.test via SOCKS5\u2026|geo|";
  // clang-format off
  const std::tuple<OverlayKeys, DiscoverResult, DiscoverResult, int, std::string> cases[] = {
      {persona("block"), answer("203.0.113.7", "", "Asia/Tokyo"), {}, 0, start + "1:203.0.113.7|0.18|"
       "2:ip=203.0.113.7 tz=Asia/Tokyo|0.12|3:|0.08|d-d-d-d- go quillon 5 ip=203.0.113.7 tz=Asia/Tokyo"},
      {persona("fallback"), failed("PROXY_TIMEOUT", 28, 10000), {}, 0, start +
       "1:WARN: PROXY_TIMEOUT \u2014 chrome will fall back|0.18|2:none (passthrough)|0.12|3:|0.08|"
       "d-dfd-d- go quillon 10000 "},
      {persona("block"), failed("PROXY_UNREACHABLE", 7, 3), {}, 0, start + "1:BLOCKED: PROXY_UNREACHABLE|"
       "2.5|2:skipped \u2014 engine launch blocked|0.12|3:aborted (exit 42)|0.08|d-dfdfdf blocked quillon 3 "},
      {persona("block", false), failed("PROXY_TIMEOUT", 28, 10000), answer("198.51.100.23"), 0, start +
       "1:primary failed \u2014 trying ip.quillon.test\u2026|myip|1:198.51.100.23|0.18|2:ip=198.51.100.23|"
       "0.12|3:|0.08|d-d-d-d- go ip.quillon.test 10005 ip=198.51.100.23"},
      {persona("block"), answer("203.0.113.7"), {}, 1, "0:socks5://u:p@127.0.0.1:1080|0.12|d------- cancelled  0 "},
      {persona("block"), answer("203.0.113.7"), {}, 2, start + "1:203.0.113.7|0.18|d-d----- cancelled quillon 5 ip=203.0.113.7"}};
  // clang-format on
  for (const auto& [overlay, primary, fallback, cancelAt, seen] : cases) {
    test::writeFile(error, "stale");
    EXPECT_EQ(discover(overlay, dir.path(), primary, fallback, cancelAt), seen);
    EXPECT_EQ(test::exists(error), !primary.errorCode.empty() && fallback.ip.empty()) << seen;
  }
  // A fallback that fails too reports itself, and a tool that never ran no exit code.
  discover(persona("block", false), dir.path(), failed("PROXY_TIMEOUT", 28, 10000));
  EXPECT_NE(test::readFile(error).find("\"discovery_url\":\"" + kMyIp + "\",\"elapsed_ms\":10000,"),
            std::string::npos);
}

TEST(ResolvePersona, StatedValuesWinAndOnlyWholeAnswersResolve) {
  OverlayKeys all;
  all.webrtcNoLeak = all.autoGeo = all.autoLang = all.autoTimezone = true;
  OverlayKeys stated = all;
  stated.langSet = stated.geoLngSet = stated.webrtcFakePublicIpSet = stated.timezoneOverrideSet =
      true;
  // clang-format off
  const std::tuple<OverlayKeys, DiscoverResult, std::string> cases[] = {  // ip|lat|lng|lang|accept|tz
      {stated, answer("203.0.113.7", "BE", "Europe/Brussels", "50.8", "4.3"), "|50.8|||fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7|"},
      {all, answer("203.0.113.7", "ZZ", "", "48.85", ""), "203.0.113.7|||en-US|en-US,en;q=0.9|"},
      {all, answer("203.0.113.7", "\u0131l"), "203.0.113.7|||he-IL|he-IL,he;q=0.9,en;q=0.8|"},
      {all, answer("203.0.113.7", "", "", "", "2.35"), "203.0.113.7|||||"}};
  // clang-format on
  for (const auto& [overlay, result, resolved] : cases) {
    ResolvedPersona p = resolvePersona(overlay, result);
    EXPECT_EQ(
        p.fakeIP + "|" + p.geoLat + "|" + p.geoLng + "|" + p.lang + "|" + p.acceptLang + "|" + p.tz,
        resolved);
  }
}

}  // namespace
}  // namespace quillon
