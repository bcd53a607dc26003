// The launch decision: whether the engine may be started at all, and
// discovery through the proxy runs only when the persona asks for an automatic
// value it does not state and the proxy is SOCKS5.
#pragma once

#include <optional>
#include <string>

#include "config/overlay.h"
#include "launcher/startup.h"

namespace quillon {

// Why the engine must not be started at all, before anything else happens,
// or none: an unknown engine kind; a proxy that does not name one host (the
// engine would read it as a list of rules and could browse without a proxy);
// for a stock Chromium, a proxy login it cannot use, or arguments that make it
// run on another profile than the launch configuration's.
std::optional<std::string> launchRefusal(const LaunchInputs& in);

// The persona asks for at least one automatic value that it does not state.
bool needsDiscovery(const OverlayKeys& overlay);

// The proxy URL begins with "socks5://" (case-sensitive).
bool isSocks5Proxy(const std::string& proxyServer);

// needsDiscovery and a SOCKS5 proxy: the launch takes the discovery path.
bool takesDiscoveryPath(const OverlayKeys& overlay);

}  // namespace quillon
