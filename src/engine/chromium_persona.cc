#include "engine/chromium_persona.h"

#include <cctype>

#include "config/proxy_url.h"
#include "relay/relay_settings.h"

namespace quillon {

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool allOf(std::string_view text, int (*test)(int)) {
  if (text.empty()) return false;
  for (char c : text)
    if (!test(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string_view firstTag(std::string_view list) {
  return trimmed(list.substr(0, list.find_first_of(",;")));
}

}  // namespace

EngineKind engineKindFromName(const std::optional<std::string>& name) {
  if (!name || name->empty() || *name == "quillon") return EngineKind::quillon;
  if (*name == "chromium") return EngineKind::chromium;
  return EngineKind::unknown;
}

std::string plainLanguageList(std::string_view acceptLanguage) {
  std::string list;
  while (!acceptLanguage.empty()) {
    size_t comma = acceptLanguage.find(',');
    std::string_view item = acceptLanguage.substr(0, comma);
    acceptLanguage = comma == std::string_view::npos ? "" : acceptLanguage.substr(comma + 1);
    std::string_view tag = trimmed(item.substr(0, item.find(';')));
    if (tag.empty()) continue;
    if (!list.empty()) list += ',';
    list += tag;
  }
  return list;
}

std::string gettextLanguage(std::string_view languageTag) {
  languageTag = trimmed(languageTag);
  size_t end = languageTag.find_first_of("-_");
  std::string_view language = languageTag.substr(0, end);
  if (!allOf(language, isalpha)) return "";
  std::string base = lowered(language);
  while (end != std::string_view::npos) {
    languageTag.remove_prefix(end + 1);
    end = languageTag.find_first_of("-_");
    std::string_view subtag = languageTag.substr(0, end);
    bool region = (subtag.size() == 2 && allOf(subtag, isalpha)) ||
                  (subtag.size() == 3 && allOf(subtag, isdigit));
    if (!region) continue;
    std::string gettext = base + "_";
    for (char c : subtag) gettext += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return gettext.append(":").append(base);
  }
  return base;
}

std::string chromiumProxyServer(std::string_view proxyServer) {
  ProxyUrl parts = splitProxyUrl(proxyServer);
  std::string scheme = lowered(parts.scheme);
  if (scheme == "socks5h") scheme = "socks5";
  std::string server(serverOf(parts.hostPart));
  return scheme.empty() ? server : scheme + "://" + server;
}

std::optional<std::string> chromiumRefusal(const OverlayKeys& overlay) {
  if (!proxyHasLogin(overlay.proxyServer) || relaySettingsFor(overlay.proxyServer))
    return std::nullopt;
  return "Chromium cannot log in to the proxy " + chromiumProxyServer(overlay.proxyServer) +
         " (the launcher's relay logs in only to socks5, socks5h and http proxies); not started, "
         "so that no traffic bypasses the proxy";
}

std::optional<std::string> chromiumSwitchValue(const std::vector<std::string>& args,
                                               std::string_view name) {
  std::optional<std::string> value;
  for (const std::string& arg : args) {
    if (arg == "--") break;  // what follows is no switch
    std::string_view text = arg;
    if (text.starts_with("--"))
      text.remove_prefix(2);
    else if (text.starts_with("-"))
      text.remove_prefix(1);
    else
      continue;
    if (!text.starts_with(name)) continue;
    text.remove_prefix(name.size());
    if (text.empty())
      value = "";
    else if (text.front() == '=')
      value = std::string(text.substr(1));
  }
  return value;
}

std::optional<std::string> chromiumProfileRefusal(const std::vector<std::string>& args,
                                                  const std::optional<std::string>& userDataDir) {
  std::optional<std::string> used = chromiumSwitchValue(args, "user-data-dir");
  std::optional<std::string> profile = chromiumSwitchValue(args, "profile-directory");
  if (used == userDataDir && (!profile || *profile == "Default")) return std::nullopt;
  return std::string("Chromium would run on another profile than the launch configuration's (") +
         (used == userDataDir ? "--profile-directory other than Default"
                              : "a later or different --user-data-dir") +
         "); not started, so that the persona's settings land where the browser runs";
}

ChromiumPersona chromiumPersona(const OverlayKeys& overlay, const ResolvedPersona& resolved) {
  const std::string& acceptLanguage =
      overlay.acceptLanguageSet ? overlay.acceptLanguage : resolved.acceptLang;
  const std::string& timezone =
      overlay.timezoneOverrideSet ? overlay.timezoneOverride : resolved.tz;
  std::string_view language = overlay.langSet ? overlay.lang : resolved.lang;
  if (language.empty()) language = firstTag(acceptLanguage);

  ChromiumPersona persona;
  if (!overlay.proxyServer.empty())
    addSwitch(persona.switches, "proxy-server", chromiumProxyServer(overlay.proxyServer));
  std::string languages = plainLanguageList(acceptLanguage);
  addSwitch(persona.switches, "accept-lang", languages);
  if (overlay.webrtcNoLeak)
    persona.switches.push_back("--webrtc-ip-handling-policy=disable_non_proxied_udp");
  if (!timezone.empty()) persona.environment.push_back("TZ=" + timezone);
  std::string gettext = gettextLanguage(language);
  if (!gettext.empty()) persona.environment.push_back("LANGUAGE=" + gettext);

  std::optional<Json> stated;
  if (!languages.empty()) stated = languages;
  persona.settings.push_back({"/intl/accept_languages", stated, false});
  persona.settings.push_back({"/intl/selected_languages", stated, false});
  bool geoStated = overlay.geoLatSet || overlay.geoLngSet;
  std::optional<double> latitude = coordinateOf(geoStated ? overlay.geoLat : resolved.geoLat);
  std::optional<double> longitude = coordinateOf(geoStated ? overlay.geoLng : resolved.geoLng);
  if (latitude && longitude) {
    persona.agent.latitude = latitude;
    persona.agent.longitude = longitude;
  }
  persona.agent.hardwareConcurrency = processorCountOf(overlay.hardwareConcurrency);
  persona.agent.locale = language;
  std::optional<Json> blocked;  // Chromium's content setting "block"
  if ((overlay.autoGeo || geoStated) && !persona.agent.latitude) blocked = 2;
  persona.settings.push_back(
      {"/profile/default_content_setting_values/geolocation", blocked, true});
  return persona;
}

}  // namespace quillon
