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

// The host and port of a URL's host part: up to a path, query or fragment.
std::string_view serverOf(std::string_view hostPart);

// A port as a proxy URL may give it: plain decimal digits, from 1 to 65535.
bool isPort(std::string_view port);

// The proxy URL names one proxy and nothing else: a scheme, when there is
// one, that names one kind of proxy (http, https, socks, socks4, socks5,
// socks5h, in any letter case), then, after an optional login, a DNS name
// (letters, digits, hyphens, dots), an IPv4 address or a bracketed IPv6
// address, and an optional port from 1 to 65535; a path, query or fragment
// after it is dropped. Chromium reads anything else in its proxy switch as its
// own rule syntax ("http=h:1;https=h:2", "socks5://a=b:1080") and then browses
// without a proxy.
bool namesOneProxyHost(std::string_view url);

// The URL without its login and without anything after its host and port,
// the scheme as written: what a message may show of it.
std::string proxyServerShown(std::string_view url);

// The URL as it may be shown on screen: the login's password (after the first
// ":" of the login) replaced by a fixed mask, whatever its length; the user
// name stays. A URL without a password comes back as it is.
std::string maskedProxyUrl(std::string_view url);

// A login's user name or password as the proxy takes it: every "%XX" with two
// hex digits becomes that byte; anything else stays as written.
std::string percentDecoded(std::string_view text);

}  // namespace quillon
