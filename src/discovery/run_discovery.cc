#include "discovery/run_discovery.h"

#include "config/proxy_url.h"
#include "discovery/country_lang.h"
#include "discovery/endpoints.h"
#include "report/error_report.h"

namespace quillon {

namespace {

// The pacing pauses, in seconds, that let a window draw each state.
constexpr double kAfterOverlay = 0.12;
constexpr double kAfterResolution = 0.18;
constexpr double kAfterBlocked = 2.5;
constexpr double kAfterOverrides = 0.12;
constexpr double kAfterLaunch = 0.08;

void pause(const DiscoverySeams& seams, double seconds) {
  if (seams.pause) seams.pause(seconds);
}

void setStatus(const DiscoverySeams& seams, size_t index, std::string status, bool done,
               bool failed = false) {
  seams.postStep(index, [status = std::move(status), done, failed](SplashStep& step) {
    step.status = status;
    step.done = step.done || done;
    step.failed = step.failed || failed;
  });
}

// Only the IP is wanted when no geo, language or time-zone value is.
bool wantsOnlyTheIp(const OverlayKeys& o) {
  return !o.autoGeo && !o.autoLang && !o.autoTimezone;
}

void writeErrorReport(const OverlayKeys& overlay, const DiscoverResult& result,
                      const std::string& endpointURL, const std::string& path) {
  ErrorReport report;
  report.step = kDiscoveryStep;
  report.errorCode = result.errorCode;
  report.message = result.message;
  report.proxy = overlay.proxyServer;
  report.discoveryURL = endpointURL;
  if (result.curlExitCode >= 0) report.curlExitCode = result.curlExitCode;
  report.elapsedMs = result.elapsedMs;
  writeReportFile(report, path);
}

}  // namespace

EgressProbe probeWithFallback(const OverlayKeys& overlay, const DiscoverySeams& seams,
                              const std::function<void()>& beforeFallback) {
  EgressProbe egress;
  egress.endpoint = primaryEndpointURL();
  egress.provider = primaryProviderLabel();
  egress.result = seams.probe(overlay.proxyServer, egress.endpoint);
  if (!egress.result.errorCode.empty() && wantsOnlyTheIp(overlay)) {
    if (beforeFallback) beforeFallback();
    egress.endpoint = fallbackEndpointURL();
    egress.provider = fallbackProviderLabel();
    DiscoverResult second = seams.probe(overlay.proxyServer, egress.endpoint);
    second.elapsedMs += egress.result.elapsedMs;
    egress.result = std::move(second);
    egress.usedFallback = true;
  }
  return egress;
}

ResolvedPersona resolvePersona(const OverlayKeys& o, const DiscoverResult& r) {
  ResolvedPersona p;
  if (o.webrtcNoLeak && !o.webrtcFakePublicIpSet) p.fakeIP = r.ip;
  if (o.autoGeo && !r.latitude.empty() && !r.longitude.empty()) {
    if (!o.geoLatSet) p.geoLat = r.latitude;
    if (!o.geoLngSet) p.geoLng = r.longitude;
  }
  if (o.autoLang && !r.countryCode.empty()) {
    std::optional<CountryLang> row = lookupCountryLang(upperCased(r.countryCode));
    if (!o.langSet) p.lang = row ? row->primary : kFallbackLanguage;
    if (!o.acceptLanguageSet) p.acceptLang = row ? row->accept : kFallbackAcceptLanguage;
  }
  if (o.autoTimezone && !o.timezoneOverrideSet) p.tz = r.timezone;
  return p;
}

std::string overrideSummary(const ResolvedPersona& p) {
  std::string summary;
  auto add = [&summary](const char* key, const std::string& value) {
    if (value.empty()) return;
    if (!summary.empty()) summary += ' ';
    summary.append(key).append(value);
  };
  add("ip=", p.fakeIP);
  add("tz=", p.tz);
  add("lang=", p.lang);
  add("lat=", p.geoLat);
  add("lng=", p.geoLng);
  return summary;
}

DiscoveryOutcome runDiscovery(const OverlayKeys& overlay,
                              const std::optional<std::string>& userDataDir,
                              const DiscoverySeams& seams, const std::atomic<bool>& cancelled) {
  DiscoveryOutcome outcome;
  const std::string errorReport = errorReportPath(userDataDir);
  removeStaleErrorReport(errorReport);

  setStatus(seams, kStepOverlay, maskedProxyUrl(overlay.proxyServer), true);  // on screen
  pause(seams, kAfterOverlay);
  if (cancelled) {
    outcome.cancelled = true;
    return outcome;
  }

  setStatus(seams, kStepDiscover, contactingPrimaryText(), false);
  EgressProbe egress = probeWithFallback(
      overlay, seams, [&seams] { setStatus(seams, kStepDiscover, tryingFallbackText(), false); });
  const DiscoverResult& result = egress.result;
  const std::string& endpoint = egress.endpoint;

  outcome.capture = {result.ip, result.countryCode, egress.provider, result.timezone,
                     result.elapsedMs};
  if (!result.errorCode.empty()) {
    writeErrorReport(overlay, result, endpoint, errorReport);
    outcome.blockEngine = overlay.onProxyFail == "block";
    setStatus(seams, kStepDiscover,
              outcome.blockEngine ? "BLOCKED: " + result.errorCode
                                  : "WARN: " + result.errorCode + " \u2014 chrome will fall back",
              true, true);
  } else {
    setStatus(seams, kStepDiscover, result.ip, true);
    outcome.resolved = resolvePersona(overlay, result);
  }

  pause(seams, outcome.blockEngine ? kAfterBlocked : kAfterResolution);
  if (cancelled) {
    outcome.cancelled = true;
    return outcome;
  }

  if (outcome.blockEngine) {
    setStatus(seams, kStepOverrides, "skipped \u2014 engine launch blocked", true, true);
  } else {
    std::string summary = overrideSummary(outcome.resolved);
    setStatus(seams, kStepOverrides, summary.empty() ? "none (passthrough)" : summary, true);
  }
  pause(seams, kAfterOverrides);

  if (outcome.blockEngine)
    setStatus(seams, kStepLaunch, "aborted (exit 42)", true, true);
  else
    seams.postStep(kStepLaunch, [](SplashStep& step) { step.done = true; });
  pause(seams, kAfterLaunch);
  return outcome;
}

}  // namespace quillon
