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

}  // namespace quillon
