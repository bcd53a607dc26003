#include "config/proxy_url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace quillon {

namespace {

bool knownScheme(std::string_view scheme) {
  static constexpr std::array<std::string_view, 6> kSchemes = {"http",   "https",  "socks",
                                                               "socks4", "socks5", "socks5h"};
  return std::any_of(kSchemes.begin(), kSchemes.end(), [scheme](std::string_view known) {
    return scheme.size() == known.size() &&
           std::equal(scheme.begin(), scheme.end(), known.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == b;
           });
  });
}

bool isAddress(int family, std::string_view text) {
  unsigned char address[16];
  return text.size() < 64 && inet_pton(family, std::string(text).c_str(), address) == 1;
}

// A DNS name, or, when its last label is a number (URL parsers then read the
// whole name as an IPv4 address), a dotted IPv4 address in plain decimal.
bool isHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') return false;
  std::string_view last = host.substr(host.find_last_of('.', host.size() - 2) + 1);
  if (last.ends_with('.')) last.remove_suffix(1);
  std::string_view digits = last;
  bool hex = last.size() >= 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X');
  if (hex) digits.remove_prefix(2);
  bool numeric = !last.empty() && std::all_of(digits.begin(), digits.end(), [hex](char c) {
    return hex ? std::isxdigit(static_cast<unsigned char>(c))
               : std::isdigit(static_cast<unsigned char>(c));
  });
  return !numeric || isAddress(AF_INET, host);
}

}  // namespace

std::string_view serverOf(std::string_view hostPart) {
  return hostPart.substr(0, hostPart.find_first_of("/?#"));
}

bool isPort(std::string_view port) {
  int number = 0;
  auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  return !port.empty() && port.size() <= 5 && error == std::errc() &&
         end == port.data() + port.size() && std::isdigit(static_cast<unsigned char>(port[0])) &&
         number >= 1 && number <= 65535;
}

ProxyUrl splitProxyUrl(std::string_view url) {
  ProxyUrl parts;
  size_t schemeEnd = url.find("://");
  if (schemeEnd != std::string_view::npos) {
    parts.scheme = url.substr(0, schemeEnd);
    url.remove_prefix(schemeEnd + 3);
  }
  size_t at = url.rfind('@');
  if (at != std::string_view::npos) {
    parts.userinfo = url.substr(0, at);
    url.remove_prefix(at + 1);
  }
  parts.hostPart = url;
  return parts;
}

bool namesOneProxyHost(std::string_view url) {
  ProxyUrl parts = splitProxyUrl(url);
  if (url.find("://") != std::string_view::npos && !knownScheme(parts.scheme)) return false;
  std::string_view server = serverOf(parts.hostPart);
  std::string_view host = server;
  std::string_view rest;
  if (server.starts_with('[')) {
    size_t close = server.find(']');
    if (close == std::string_view::npos) return false;
    host = server.substr(0, close + 1);
    rest = server.substr(close + 1);
    if (!isAddress(AF_INET6, host.substr(1, host.size() - 2))) return false;
  } else {
    size_t colon = server.find(':');
    host = server.substr(0, colon);
    rest = colon == std::string_view::npos ? "" : server.substr(colon);
    if (!isHostName(host)) return false;
  }
  return rest.empty() || (rest[0] == ':' && isPort(rest.substr(1)));
}

std::string proxyServerShown(std::string_view url) {
  ProxyUrl parts = splitProxyUrl(url);
  std::string shown(serverOf(parts.hostPart));
  if (url.find("://") == std::string_view::npos) return shown;
  return std::string(parts.scheme) + "://" + shown;
}

std::string maskedProxyUrl(std::string_view url) {
  ProxyUrl parts = splitProxyUrl(url);
  size_t colon = parts.userinfo ? parts.userinfo->find(':') : std::string_view::npos;
  if (colon == std::string_view::npos || colon + 1 == parts.userinfo->size())
    return std::string(url);
  // The login starts where the scheme's "://" ends, or at the start.
  size_t loginStart = parts.userinfo->data() - url.data();
  return std::string(url.substr(0, loginStart + colon + 1)) + "\u2022\u2022\u2022\u2022@" +
         std::string(parts.hostPart);
}

std::string percentDecoded(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace quillon
