#include "config/overlay.h"

#include <cmath>
#include <functional>
#include <set>

namespace quillon {

namespace {

// Numbers count by their integer part: 2 and 1.5 are true, 0 and 0.5 false.
bool numberTruth(const Json& value) {
  if (value.is_number_integer() || value.is_number_unsigned()) return value != 0;
  return std::trunc(value.get<double>()) != 0.0;
}

std::string stringOf(const Json& config, const char* key) {
  auto it = config.find(key);
  if (it == config.end() || !it->is_string()) return "";
  return it->get<std::string>();
}

// A number or a text as text; "" for anything else.
std::string scalarOf(const Json& config, const char* key) {
  auto it = config.find(key);
  if (it == config.end()) return "";
  if (it->is_string()) return it->get<std::string>();
  return it->is_number() ? it->dump() : "";
}

}  // namespace

bool overlayFlag(const char* key, const Json& config) {
  auto it = config.find(key);
  if (it == config.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_string()) {
    const auto& text = it->get_ref<const std::string&>();
    return text == "true" || text == "1";
  }
  if (it->is_number()) return numberTruth(*it);
  return false;
}

OverlayKeys overlayFromConfig(const Json& file) {
  OverlayKeys o;
  if (!file.is_object()) return o;
  // The keys read below, gathered in one pass: a lookup in the ordered type
  // scans every member, and a configuration may hold hundreds of thousands.
  static const std::set<std::string, std::less<>> kKeys = {
      "proxy-server",    "chrome-command-line",
      "webrtc-no-leak",  "webrtc-fake-public-ip",
      "auto-geo",        "auto-lang",
      "auto-timezone",   "geo-lat",
      "geo-lng",         "lang",
      "accept-language", "timezone-override",
      "on-proxy-fail",   "close-previous-tabs",
      "start-page",      "granular-storage-reset",
      "device-memory",   "hardware-concurrency",
      "speech-voices",   "webgl-profile"};
  Json config = Json::object();
  for (const auto& [key, value] : file.items())
    if (kKeys.contains(key)) config[key] = value;
  auto has = [&config](const char* key) { return config.contains(key); };

  o.proxyServer = stringOf(config, "proxy-server");
  if (o.proxyServer.empty()) {
    auto cmd = config.find("chrome-command-line");
    if (cmd != config.end() && cmd->is_object()) o.proxyServer = stringOf(*cmd, "--proxy-server");
  }
  o.webrtcNoLeak = overlayFlag("webrtc-no-leak", config);
  o.autoGeo = overlayFlag("auto-geo", config);
  o.autoLang = overlayFlag("auto-lang", config);
  o.autoTimezone = overlayFlag("auto-timezone", config);
  o.webrtcFakePublicIpSet = has("webrtc-fake-public-ip");
  o.geoLatSet = has("geo-lat");
  o.geoLngSet = has("geo-lng");
  o.langSet = has("lang");
  o.acceptLanguageSet = has("accept-language");
  o.timezoneOverrideSet = has("timezone-override");
  o.lang = stringOf(config, "lang");
  o.acceptLanguage = stringOf(config, "accept-language");
  o.timezoneOverride = stringOf(config, "timezone-override");
  o.geoLat = scalarOf(config, "geo-lat");
  o.geoLng = scalarOf(config, "geo-lng");
  o.hardwareConcurrency = scalarOf(config, "hardware-concurrency");
  o.onProxyFail = stringOf(config, "on-proxy-fail") == "fallback" ? "fallback" : "block";
  o.closePreviousTabs = overlayFlag("close-previous-tabs", config);
  o.startPage = stringOf(config, "start-page");
  if (!o.startPage.empty()) o.closePreviousTabs = true;

  auto reset = config.find("granular-storage-reset");
  if (reset != config.end() && reset->is_object()) {
    for (const auto& [kind, value] : reset->items()) {
      if (value.is_boolean())
        o.granularStorageReset[kind] = value.get<bool>();
      else if (value.is_number())
        o.granularStorageReset[kind] = numberTruth(value);
    }
  }
  o.deviceMemorySet = has("device-memory");
  o.hardwareConcurrencySet = has("hardware-concurrency");
  o.speechVoicesSet = has("speech-voices");
  o.webglProfile = stringOf(config, "webgl-profile");
  return o;
}

OverlayKeys loadOverlay(const std::string& path) {
  std::optional<Json> config = readJsonObjectFile(path);
  return config ? overlayFromConfig(*config) : OverlayKeys{};
}

}  // namespace quillon
