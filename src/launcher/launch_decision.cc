#include "launcher/launch_decision.h"

namespace quillon {

bool needsDiscovery(const OverlayKeys& o) {
  return (o.webrtcNoLeak && !o.webrtcFakePublicIpSet) ||
         (o.autoGeo && !(o.geoLatSet && o.geoLngSet)) ||
         (o.autoLang && !(o.langSet && o.acceptLanguageSet)) ||
         (o.autoTimezone && !o.timezoneOverrideSet);
}

bool isSocks5Proxy(const std::string& proxyServer) {
  return proxyServer.starts_with("socks5://");
}

bool takesDiscoveryPath(const OverlayKeys& overlay) {
  return needsDiscovery(overlay) && isSocks5Proxy(overlay.proxyServer);
}

}  // namespace quillon
