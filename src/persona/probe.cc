// quillon-persona probe: the launcher's probe through the persona's proxy,
// and whether the persona's stated values still fit its egress.
#include <ctime>

#include "discovery/probe.h"
#include "discovery/run_discovery.h"
#include "launcher/launch_decision.h"
#include "persona/commands.h"
#include "persona/persona_view.h"
#include "persona/render.h"
#include "persona/verdict.h"

namespace quillon {

namespace {

// The first tag of an Accept-Language value.
std::string firstTag(const std::string& list) {
  return list.substr(0, list.find_first_of(",;"));
}

}  // namespace

int runProbe(const CommandOptions& options) {
  LaunchInputs in = personaInputs(options.programPath, options.userDataDir);
  const OverlayKeys& o = in.overlay;
  const std::string proxy = maskedProxy(o.proxyServer);
  if (!isSocks5Proxy(o.proxyServer)) {
    std::string why = "the launcher probes only a socks5:// proxy; this persona's is ";
    why += proxy.empty() ? "unset" : escapeText(proxy);
    return finishOutput(
        options.json ? jsonLine({{"proxy", proxy}, {"error_code", "NOT_SOCKS5"}, {"message", why}})
                     : "probe not run: " + why + "\n",
        kExitProbeFailed);
  }

  DiscoverySeams seams;
  seams.probe = [](const std::string& proxyServer, const std::string& endpointURL) {
    return probeEgress(proxyServer, endpointURL);
  };
  EgressProbe egress = probeWithFallback(o, seams);
  const DiscoverResult& r = egress.result;
  Json out = {{"proxy", proxy},
              {"endpoint", egress.endpoint},
              {"provider", egress.provider},
              {"elapsed_ms", r.elapsedMs}};
  if (!r.errorCode.empty()) {
    std::string message = withProxyMasked(r.message, o.proxyServer);
    out["error_code"] = r.errorCode;
    out["message"] = message;
    out["curl_exit_code"] = r.curlExitCode;
    return finishOutput(options.json ? jsonLine(std::move(out))
                                     : paint("probe failed", "31", options.colour) + ": " +
                                           r.errorCode + ": " + escapeText(message) + "\n",
                        kExitProbeFailed);
  }

  ResolvedPersona resolved = resolvePersona(o, r);
  const std::string lang = o.langSet ? o.lang : resolved.lang;
  const std::string acceptLang = o.acceptLanguageSet ? o.acceptLanguage : resolved.acceptLang;
  LastReport last = readLastReport(in.userDataDir, std::time(nullptr));
  ZoneTable zones = loadZoneTable();
  VerdictInputs verdictIn;
  verdictIn.statedTimezone = o.timezoneOverrideSet ? o.timezoneOverride : "";
  verdictIn.statedLanguage = o.langSet             ? o.lang
                             : o.acceptLanguageSet ? firstTag(o.acceptLanguage)
                                                   : "";
  verdictIn.egressCountry = r.countryCode;
  verdictIn.egressTimezone = r.timezone;
  if (last.status == "ok") {
    verdictIn.lastCountry = last.countryCode;
    verdictIn.lastTimezone = last.timezone;
  }
  verdictIn.zones = &zones;
  Verdict verdict = judgePersona(verdictIn);

  out.update({{"ip", r.ip},
              {"country_code", r.countryCode},
              {"timezone", r.timezone},
              {"latitude", r.latitude},
              {"longitude", r.longitude},
              {"lang", lang},
              {"accept_language", acceptLang},
              {"consistent", verdict.consistent()},
              {"reasons", verdict.reasons},
              {"notes", verdict.notes},
              {"zone_table", zones.path}});
  const int status = verdict.consistent() ? kExitConsistent : kExitInconsistent;
  if (options.json) return finishOutput(jsonLine(std::move(out)), status);
  std::vector<Row> rows;
  for (const char* key : {"proxy", "provider", "ip", "country_code", "timezone", "latitude",
                          "longitude", "lang", "accept_language"}) {
    std::string value = out[key].get<std::string>();
    rows.push_back({{key}, {value.empty() ? "-" : escapeText(value)}});
  }
  rows.push_back({{"elapsed"}, {std::to_string(r.elapsedMs) + " ms"}});
  std::string text = renderTable(rows, options.colour);
  text += verdict.consistent() ? paint("consistent", "32", options.colour) + "\n"
                               : paint("inconsistent", "31", options.colour) + "\n";
  for (const std::string& reason : verdict.reasons) text += "  " + escapeText(reason) + "\n";
  for (const std::string& note : verdict.notes) text += "note: " + escapeText(note) + "\n";
  return finishOutput(text, status);
}

}  // namespace quillon
