// What the relay needs to carry the browser's connections to a persona's
// proxy that wants a login: the proxy and its login, taken from the proxy
// URL, and the message that hands them to the relay from memory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

enum class UpstreamKind { socks5, http };

struct RelaySettings {
  UpstreamKind kind = UpstreamKind::socks5;
  std::string host;  // a name or an address literal (without brackets)
  std::string port;  // decimal
  std::string user;  // percent-decoded
  std::string password;
};

// The proxy URL carries a login: there is text before its last "@".
bool proxyHasLogin(std::string_view proxyServer);

// The relay's settings for a proxy URL with a login the relay can carry:
// socks5://, socks5h:// (the relay never resolves a target either way) or
// http:// (also a URL without a scheme, which Chromium takes for HTTP), a
// host and a port (1080 or 80 when left out), and for SOCKS5 a user name and
// password of at most 255 bytes each. None for anything else.
std::optional<RelaySettings> relaySettingsFor(std::string_view proxyServer);

// The hand-over message: each field as a 2-byte length and its bytes.
std::string encodeRelaySettings(const RelaySettings& settings);
std::optional<RelaySettings> decodeRelaySettings(std::string_view message);

// The largest message: two lengths of names and the logins, with room.
inline constexpr size_t kMaxRelaySettingsBytes = 8192;

}  // namespace quillon
