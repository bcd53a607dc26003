// The launch decision: discovery through the proxy runs only when the persona
// asks for an automatic value it does not state and the proxy is SOCKS5.
#pragma once

#include "config/overlay.h"

namespace quillon {

// The persona asks for at least one automatic value that it does not state.
bool needsDiscovery(const OverlayKeys& overlay);

// The proxy URL begins with "socks5://" (case-sensitive).
bool isSocks5Proxy(const std::string& proxyServer);

// needsDiscovery and a SOCKS5 proxy: the launch takes the discovery path.
bool takesDiscoveryPath(const OverlayKeys& overlay);

}  // namespace quillon
