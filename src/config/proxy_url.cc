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

}  // namespace quillon
