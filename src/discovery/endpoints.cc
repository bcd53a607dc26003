#include "discovery/endpoints.h"

#ifndef QUILLON_GEOIP_HOST
#error "QUILLON_GEOIP_HOST must name the primary endpoint's host"
#endif
#ifndef QUILLON_MYIP_HOST
#error "QUILLON_MYIP_HOST must name the fallback endpoint's host"
#endif

namespace quillon {

std::string primaryEndpointHost() {
  return QUILLON_GEOIP_HOST;
}

std::string primaryEndpointURL() {
  return "https://" + primaryEndpointHost() + "/geoip?format=json";
}

std::string fallbackEndpointHost() {
  return QUILLON_MYIP_HOST;
}

std::string fallbackEndpointURL() {
  return "https://" + fallbackEndpointHost() + "/myip";
}

std::string providerLabel(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  size_t firstDot = host.find('.');
  size_t lastDot = host.rfind('.');
  std::string_view label = host;
  if (firstDot != std::string_view::npos && firstDot == lastDot)
    label = host.substr(0, firstDot);
  else if (firstDot != std::string_view::npos)
    label = host.substr(firstDot + 1, lastDot - firstDot - 1);
  std::string lower(label);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string primaryProviderLabel() {
  return providerLabel(primaryEndpointHost());
}

std::string fallbackProviderLabel() {
  return fallbackEndpointHost();
}

std::string contactingPrimaryText() {
  return "contacting " + primaryEndpointHost() + " via SOCKS5\u2026";
}

std::string tryingFallbackText() {
  return "primary failed \u2014 trying " + fallbackEndpointHost() + "\u2026";
}

}  // namespace quillon
