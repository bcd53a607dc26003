// The persona in the forms a stock Chromium honours. The product's engine
// reads its own switches and the launch configuration; a stock Chromium
// ignores both, so with QUILLON_ENGINE_KIND=chromium the launcher also passes
// the proxy, the languages and the WebRTC policy as Chromium switches, the
// time zone and language through the engine's environment, and settings that
// Chromium keeps in the profile.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_values.h"
#include "config/overlay.h"
#include "engine/profile_preferences.h"
#include "engine/switches.h"

namespace quillon {

enum class EngineKind { quillon, chromium, unknown };

// QUILLON_ENGINE_KIND: unset, "" or "quillon" is the product's engine,
// "chromium" a stock Chromium; any other text is unknown.
EngineKind engineKindFromName(const std::optional<std::string>& name);

struct ChromiumPersona {
  SwitchList switches;                   // go after the product's switches
  std::vector<std::string> environment;  // "NAME=value", replacing the launcher's own
  // Chromium keeps --accept-lang in the profile (and, on a later start without
  // it, among the languages chosen in its settings); a persona that asks for
  // geolocation and has no coordinates gets a denial for every site.
  std::vector<PersonaSetting> settings;
  // What only the persona agent gives: the coordinates (stated, else
  // resolved), a stated processor count, and the language as the locale.
  AgentValues agent;
};

// Stated values win over resolved ones; a value neither states nor resolves
// adds nothing.
ChromiumPersona chromiumPersona(const OverlayKeys& overlay, const ResolvedPersona& resolved);

// Why a stock Chromium must not be started on this persona, or none: a proxy
// login that the launcher's relay cannot carry for it (Chromium itself does no
// SOCKS authentication and asks for an HTTP login in a dialog), such as one
// for https://. Started so, it could only fail obscurely. The text never
// shows the credentials.
std::optional<std::string> chromiumRefusal(const OverlayKeys& overlay);

// The value of a switch as Chromium reads its command line: the last
// "--name=value" or "-name=value" before a "--" argument ("" for a bare
// "--name"); none when the switch is not there.
std::optional<std::string> chromiumSwitchValue(const std::vector<std::string>& args,
                                               std::string_view name);

// Why a stock Chromium must not be started with these arguments, or none:
// the launcher reads the launch configuration from, and edits the profile
// Default in, the user data directory of the first --user-data-dir=, while
// Chromium runs on the last one, and on the profile --profile-directory names.
std::optional<std::string> chromiumProfileRefusal(const std::vector<std::string>& args,
                                                  const std::optional<std::string>& userDataDir);

// An Accept-Language value as the list of tags Chromium's --accept-lang reads:
// "fr-FR,fr;q=0.9" gives "fr-FR,fr".
std::string plainLanguageList(std::string_view acceptLanguage);

// A language tag in the form gettext reads from LANGUAGE: "fr-FR" gives
// "fr_FR:fr", "de" gives "de".
std::string gettextLanguage(std::string_view languageTag);

// The proxy URL as Chromium's --proxy-server takes it: scheme, host and port
// alone (no user name and password, no path, query or fragment, which make
// Chromium drop the switch); "socks5h" (names resolved by the proxy) becomes
// "socks5", which Chromium always does so.
std::string chromiumProxyServer(std::string_view proxyServer);

}  // namespace quillon
