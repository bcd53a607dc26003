// The relay in front of a stock Chromium whose proxy wants a login: started
// before the engine, which then goes through it instead of to the proxy.
#pragma once

#include <optional>
#include <string>

#include "engine/switches.h"
#include "launcher/startup.h"
#include "relay/handover.h"

namespace quillon {

// A stock Chromium whose proxy login the relay carries.
bool launchUsesRelay(const LaunchInputs& in);

// Points the --proxy-server switch among extra at the relay's port.
void pointProxyAtRelay(SwitchList& extra, const std::string& port);

// For a stock Chromium with a proxy login the relay carries: starts the
// relay and points the --proxy-server switch among extra at it, or, when a
// browser on the profile already goes through this persona's relay, points
// it at that relay. None in every other case. A relay that cannot start is
// fatal: the engine must not run without it; so is a browser on the profile
// without this persona's proxy (running_browser.h).
std::optional<RelayStart> startEngineRelay(const LaunchInputs& in, SwitchList& extra);

}  // namespace quillon
