#include "relay/relay_settings.h"

#include <cctype>

#include "config/proxy_url.h"

namespace quillon {

namespace {

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool proxyHasLogin(std::string_view proxyServer) {
  std::optional<std::string_view> userinfo = splitProxyUrl(proxyServer).userinfo;
  return userinfo && !userinfo->empty();
}

std::optional<RelaySettings> relaySettingsFor(std::string_view proxyServer) {
  ProxyUrl parts = splitProxyUrl(proxyServer);
  if (!parts.userinfo || parts.userinfo->empty()) return std::nullopt;
  RelaySettings settings;
  std::string scheme = lowered(parts.scheme);
  if (scheme == "socks5" || scheme == "socks5h")
    settings.kind = UpstreamKind::socks5;
  else if (scheme == "http" || scheme.empty())
    settings.kind = UpstreamKind::http;
  else
    return std::nullopt;

  std::string_view authority = serverOf(parts.hostPart);
  std::string_view port;
  if (authority.starts_with("[")) {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    settings.host = authority.substr(1, close - 1);
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(":")) return std::nullopt;
    if (!rest.empty()) port = rest.substr(1);
  } else {
    size_t colon = authority.rfind(':');
    settings.host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
    if (settings.host.find(':') != std::string::npos) return std::nullopt;
  }
  if (settings.host.empty()) return std::nullopt;
  settings.port =
      port.empty() ? (settings.kind == UpstreamKind::socks5 ? "1080" : "80") : std::string(port);
  if (!isPort(settings.port)) return std::nullopt;

  size_t colon = parts.userinfo->find(':');
  settings.user = percentDecoded(parts.userinfo->substr(0, colon));
  if (colon != std::string_view::npos)
    settings.password = percentDecoded(parts.userinfo->substr(colon + 1));
  if (settings.kind == UpstreamKind::socks5 &&
      (settings.user.size() > 255 || settings.password.size() > 255))
    return std::nullopt;
  if (settings.user.size() + settings.password.size() + settings.host.size() + 64 >
      kMaxRelaySettingsBytes)
    return std::nullopt;
  return settings;
}

std::string encodeRelaySettings(const RelaySettings& settings) {
  std::string message;
  auto field = [&message](std::string_view value) {
    message.push_back(static_cast<char>(value.size() >> 8));
    message.push_back(static_cast<char>(value.size() & 0xFF));
    message.append(value);
  };
  field(settings.kind == UpstreamKind::socks5 ? "socks5" : "http");
  field(settings.host);
  field(settings.port);
  field(settings.user);
  field(settings.password);
  return message;
}

std::optional<RelaySettings> decodeRelaySettings(std::string_view message) {
  std::string fields[5];
  for (std::string& value : fields) {
    if (message.size() < 2) return std::nullopt;
    size_t length = static_cast<uint8_t>(message[0]) << 8 | static_cast<uint8_t>(message[1]);
    if (message.size() < 2 + length) return std::nullopt;
    value = message.substr(2, length);
    message.remove_prefix(2 + length);
  }
  if (!message.empty() || (fields[0] != "socks5" && fields[0] != "http") || fields[1].empty() ||
      !isPort(fields[2]))
    return std::nullopt;
  return RelaySettings{fields[0] == "socks5" ? UpstreamKind::socks5 : UpstreamKind::http, fields[1],
                       fields[2], fields[3], fields[4]};
}

}  // namespace quillon
