// The discovery path: the persona's values come from its proxy's egress
// before the engine starts.
#pragma once

#include "launcher/startup.h"

namespace quillon {

// Runs discovery and the launch after it; ends the process with 0, 1 or 42.
[[noreturn]] void runDiscoveryLaunch(const LaunchInputs& in);

}  // namespace quillon
