// The discovery path: the persona's values come from its proxy's egress
// before the engine starts.
#pragma once

#include "discovery/run_discovery.h"
#include "launcher/startup.h"

namespace quillon {

// The probe through curl and pauses that really sleep.
DiscoverySeams realDiscoverySeams();

// Runs discovery and the launch after it; ends the process with 0, 1 or 42.
[[noreturn]] void runDiscoveryLaunch(const LaunchInputs& in);

}  // namespace quillon
