#include "config/proxy_url.h"

namespace quillon {

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
