// A persona's proxy URL taken apart around its login, the one rule every
// user of the URL follows: the login is everything before the last "@", so a
// password holding "/" or "@" never ends up in the host part.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct ProxyUrl {
  std::string_view scheme;                   // before "://"; empty when there is none
  std::optional<std::string_view> userinfo;  // before the last "@", when there is one
  std::string_view hostPart;                 // the rest: host, port and anything after
};

ProxyUrl splitProxyUrl(std::string_view url);

// The URL as it may be shown on screen: the login's password (after the first
// ":" of the login) replaced by a fixed mask, whatever its length; the user
// name stays. A URL without a password comes back as it is.
std::string maskedProxyUrl(std::string_view url);

// A login's user name or password as the proxy takes it: every "%XX" with two
// hex digits becomes that byte; anything else stays as written.
std::string percentDecoded(std::string_view text);

}  // namespace quillon
