#include "persona/persona_view.h"

#include <sys/stat.h>

#include "discovery/run_discovery.h"
#include "engine/spawn.h"
#include "launcher/direct_launch.h"
#include "launcher/engine_agent.h"
#include "launcher/engine_relay.h"
#include "launcher/launch_decision.h"
#include "persona/render.h"
#include "platform/detached_helper.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

namespace {

// What the launch's resolution takes from an egress; markers when no
// earlier egress is known.
DiscoverResult expectedEgress(const LastReport& last, bool& fromReport) {
  fromReport = last.status == "ok" && !last.ip.empty();
  DiscoverResult egress;
  egress.ip = fromReport ? last.ip : "<proxy ip>";
  egress.countryCode = fromReport ? last.countryCode : "<proxy country>";
  egress.timezone = fromReport ? last.timezone : "<proxy time zone>";
  egress.latitude = fromReport ? last.lat : "<proxy latitude>";
  egress.longitude = fromReport ? last.lng : "<proxy longitude>";
  return egress;
}

std::string statedText(const std::optional<Json>& config, const char* key) {
  if (!config) return "";
  auto it = config->find(key);
  if (it == config->end()) return "";
  return it->is_string() ? it->get<std::string>()
                         : it->dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool present(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::string automaticValues(const ResolvedPersona& r) {
  std::string names;
  auto add = [&names](const std::string& value, const char* name) {
    if (!value.empty()) names += (names.empty() ? "" : ", ") + std::string(name);
  };
  add(r.fakeIP, "WebRTC public IP");
  add(r.geoLat.empty() ? r.geoLng : r.geoLat, "coordinates");
  add(r.lang.empty() ? r.acceptLang : r.lang, "languages");
  add(r.tz, "time zone");
  return names;
}

}  // namespace

const char* engineKindName(EngineKind kind) {
  switch (kind) {
    case EngineKind::quillon:
      return "quillon";
    case EngineKind::chromium:
      return "chromium";
    case EngineKind::unknown:
      return "unknown";
  }
  return "unknown";
}

LaunchInputs personaInputs(const std::string& programPath,
                           const std::optional<std::string>& userDataDir) {
  std::vector<std::string> args = {programPath};
  if (userDataDir) args.push_back("--user-data-dir=" + *userDataDir);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return startUp(static_cast<int>(args.size()), argv.data());
}

PersonaView viewPersona(const std::string& programPath,
                        const std::optional<std::string>& userDataDir, std::time_t now) {
  PersonaView view;
  view.inputs = personaInputs(programPath, userDataDir);
  const LaunchInputs& in = view.inputs;
  const OverlayKeys& o = in.overlay;
  JsonFileRead config = readJsonObjectFileChecked(in.launchConfigPath);
  view.configState = config.state;
  view.engineFound = isExecutableFile(in.engineBinary);
  view.lastReport = readLastReport(in.userDataDir, now);

  const bool discovery = takesDiscoveryPath(o);
  ResolvedPersona resolved;
  if (discovery) {
    resolved = resolvePersona(o, expectedEgress(view.lastReport, view.proxyValuesFromReport));
    if (!view.proxyValuesFromReport) {
      if (!resolved.lang.empty()) resolved.lang = "<proxy language>";
      if (!resolved.acceptLang.empty()) resolved.acceptLang = "<proxy accept-language>";
    }
  }

  if (std::optional<std::string> refusal = launchRefusal(in)) {
    view.road = "refused";
    view.why = *refusal;
  } else if (discovery) {
    view.road = "discovery";
    view.why = "asks the proxy for " + automaticValues(resolved) +
               ", which it does not state, through a socks5:// proxy; " +
               (o.onProxyFail == "fallback" ? "a failed probe launches without them"
                                            : "a failed probe blocks the launch (exit 42)");
  } else {
    view.road = "direct";
    view.why = needsDiscovery(o) ? "asks for automatic values, but the proxy is not socks5://, "
                                   "so they stay unset"
                                 : "asks for no automatic value that it does not state";
  }

  auto add = [&view](const char* name, std::string source, std::string value) {
    view.values.push_back({name, std::move(source), std::move(value)});
  };
  auto statedOr = [&](const char* key, bool stated, const std::string& fromProxy) {
    if (stated)
      add(key, "stated", statedText(config.object, key));
    else if (!fromProxy.empty())
      add(key, "proxy", fromProxy);
    else
      add(key, "unset", "");
  };
  if (o.proxyServer.empty())
    add("proxy-server", "unset", "");
  else
    add("proxy-server", "stated", maskedProxy(o.proxyServer));
  statedOr("webrtc-fake-public-ip", o.webrtcFakePublicIpSet, resolved.fakeIP);
  statedOr("geo-lat", o.geoLatSet, resolved.geoLat);
  statedOr("geo-lng", o.geoLngSet, resolved.geoLng);
  statedOr("lang", o.langSet, resolved.lang);
  statedOr("accept-language", o.acceptLanguageSet, resolved.acceptLang);
  statedOr("timezone-override", o.timezoneOverrideSet, resolved.tz);

  SwitchList webgl = webglSwitches(in);
  MachineFacts machine = currentMachineFacts();
  SwitchList extra = discovery ? discoverySwitchList(o, resolved, webgl, machine)
                               : directSwitchList(o, webgl, machine);
  auto device = [&](const char* key, bool stated, const char* switchName) {
    if (stated) return add(key, "stated", statedText(config.object, key));
    for (const std::string& entry : extra)
      if (entry.starts_with(std::string("--") + switchName + "="))
        return add(key, "machine", entry.substr(entry.find('=') + 1));
    add(key, "unset", "");
  };
  device("device-memory", o.deviceMemorySet, "device-memory");
  device("hardware-concurrency", o.hardwareConcurrencySet, "hardware-concurrency");
  if (o.speechVoicesSet)
    add("speech-voices", "stated", statedText(config.object, "speech-voices"));
  else
    add("speech-voices", "default", "stock-chrome-mac");
  if (o.webglProfile.empty())
    add("webgl-profile", "unset", "");
  else
    add("webgl-profile", "stated",
        o.webglProfile + (webgl.empty() ? " (not found: no switches)"
                                        : " (" + std::to_string(webgl.size()) + " switches)"));
  if (o.startPage.empty())
    add("start-page", "default", "chrome://version");
  else
    add("start-page", "stated", o.startPage);
  const std::string onProxyFail = statedText(config.object, "on-proxy-fail");
  if (onProxyFail.empty())
    add("on-proxy-fail", "default", o.onProxyFail);
  else
    add("on-proxy-fail", "stated",
        onProxyFail == o.onProxyFail ? o.onProxyFail
                                     : o.onProxyFail + " (from \"" + onProxyFail + "\")");

  view.environment = applyEngineKind(in.engineKind, o, resolved, extra);
  // The relay's port is the system's choice at each launch.
  if (launchUsesRelay(in)) pointProxyAtRelay(extra, "<relay port>");
  AgentValues agent;
  if (in.engineKind == EngineKind::chromium) agent = chromiumPersona(o, resolved).agent;
  view.agent = launchUsesAgent(in, agent);
  if (view.agent) {
    std::vector<std::string> switches = agentSwitches(in, agent);
    extra.insert(extra.end(), switches.begin(), switches.end());
  }
  view.commandLine = engineArguments(in.engineBinary, in.passThroughArgs, extra);
  // The browser names the agent as its own program (see agentSwitches).
  if (view.agent)
    if (std::optional<std::string> path = findHelper(in.launcherDir, kAgentName))
      view.commandLine[0] = *path;
  if (in.engineKind == EngineKind::chromium) {
    // Stock Chromium reads none of the product's own switches; the persona
    // agent carries the coordinates (also those the proxy will give) and a
    // stated processor count.
    auto carried = [&](const PersonaValue& value) {
      if (!view.agent) return false;
      if (value.name == "geo-lat" || value.name == "geo-lng")
        return agent.latitude.has_value() || value.source == "proxy";
      return value.name == "hardware-concurrency" && agent.hardwareConcurrency.has_value();
    };
    for (const PersonaValue& value : view.values) {
      static const std::vector<std::string> kIgnored = {
          "webrtc-fake-public-ip", "geo-lat",       "geo-lng",      "device-memory",
          "hardware-concurrency",  "speech-voices", "webgl-profile"};
      if (value.source != "unset" && !carried(value) &&
          std::find(kIgnored.begin(), kIgnored.end(), value.name) != kIgnored.end())
        view.notCarried.push_back(value.name);
    }
  }

  view.hygiene = hygieneSkip(in.userDataDir);
  if (view.hygiene != HygieneSkip::noUserDataDir) {
    for (const std::string& item : hygieneItems(o.closePreviousTabs, o.granularStorageReset)) {
      std::optional<std::string> target = hygieneTarget(*in.userDataDir, item);
      if (target && present(*target)) view.hygienePaths.push_back(*target);
    }
  }
  return view;
}

}  // namespace quillon
