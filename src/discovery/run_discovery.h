// The background half of the discovery path: walks the progress steps, probes
// the proxy's egress (with the my-IP fallback when only the IP is wanted),
// writes the error report on failure, applies the on-proxy-fail policy and
// resolves the persona values. Decisions only; threads and time are seams.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "config/overlay.h"
#include "discovery/discover_result.h"
#include "discovery/discovery_capture.h"
#include "engine/switches.h"
#include "ui/splash_step.h"

namespace quillon {

struct DiscoverySeams {
  // Asks one endpoint through the proxy (probeEgress by default).
  std::function<DiscoverResult(const std::string& proxyServer, const std::string& endpointURL)>
      probe;
  // Pauses the discovery thread so that the window can draw a state; no
  // pause at all when empty (no window on screen).
  std::function<void(double seconds)> pause;
  // Hands a step change to the main thread, which applies it in order.
  std::function<void(size_t index, StepChange change)> postStep;
};

struct DiscoveryOutcome {
  bool cancelled = false;    // the user closed the window; nothing else is set
  bool blockEngine = false;  // discovery failed and the persona says "block"
  DiscoveryCapture capture;
  ResolvedPersona resolved;
};

// What the launch's probe found: the final result, the endpoint it came from
// and that endpoint's provider label.
struct EgressProbe {
  DiscoverResult result;
  std::string endpoint;
  std::string provider;
  bool usedFallback = false;  // the result's elapsedMs then counts both attempts
};

// Asks the primary endpoint through the persona's proxy, then the fallback
// when the primary failed and the persona wants nothing but the IP;
// beforeFallback (when set) runs just before the fallback is asked.
EgressProbe probeWithFallback(const OverlayKeys& overlay, const DiscoverySeams& seams,
                              const std::function<void()>& beforeFallback = nullptr);

DiscoveryOutcome runDiscovery(const OverlayKeys& overlay,
                              const std::optional<std::string>& userDataDir,
                              const DiscoverySeams& seams, const std::atomic<bool>& cancelled);

// The persona values of a successful probe; stated values are never replaced.
ResolvedPersona resolvePersona(const OverlayKeys& overlay, const DiscoverResult& result);

// "ip=… tz=… lang=… lat=… lng=…" of the resolved values, empty ones left out.
std::string overrideSummary(const ResolvedPersona& resolved);

}  // namespace quillon
