#include "launcher/launch_decision.h"

#include "config/proxy_url.h"
#include "launcher/running_browser.h"

namespace quillon {

std::optional<std::string> launchRefusal(const LaunchInputs& in) {
  if (in.engineKind == EngineKind::unknown)
    return "Unknown QUILLON_ENGINE_KIND (expected quillon or chromium); engine not started";
  const std::string& proxy = in.overlay.proxyServer;
  if (!proxy.empty() && !namesOneProxyHost(proxy))
    return "The proxy \"" + proxyServerShown(proxy) +
           "\" does not name one host (a DNS name, an IPv4 address or a bracketed IPv6 address, "
           "and a port from 1 to 65535); not started, so that no traffic bypasses the proxy";
  if (in.engineKind != EngineKind::chromium) return std::nullopt;
  if (std::optional<std::string> refusal = chromiumRefusal(in.overlay)) return refusal;
  if (std::optional<std::string> refusal =
          chromiumProfileRefusal(in.passThroughArgs, in.userDataDir))
    return refusal;
  RunningBrowser running = runningBrowser(in);
  if (running.found && !running.persona) return std::string(kRunningBrowserRefusal);
  return std::nullopt;
}

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
