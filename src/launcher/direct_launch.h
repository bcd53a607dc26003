// The direct launch path: no window and no discovery. Cleans the profile,
// writes a "passthrough" result report, spawns the engine and exits.
#pragma once

#include "engine/switches.h"
#include "launcher/startup.h"

namespace quillon {

// Runs profile hygiene when the user data directory is present and non-empty
// and no engine is running on it.
void runProfileHygiene(const OverlayKeys& overlay, const std::optional<std::string>& userDataDir);

// For a stock Chromium, appends the persona's Chromium switches to extra and
// returns the engine's environment overrides; nothing for the product's engine.
std::vector<std::string> applyEngineKind(EngineKind kind, const OverlayKeys& overlay,
                                         const ResolvedPersona& resolved, SwitchList& extra);

// The switches of the persona's WebGL profile, from the profiles file.
SwitchList webglSwitches(const LaunchInputs& in);

// Spawns the engine with the extra switches (and, for a stock Chromium, the
// persona's Chromium forms) and ends the process: 0 once the engine is
// spawned, 1 through the fatal path. On the driving road the process becomes
// the engine instead. The start page, the last of the extra switches, is left
// out when the arguments name a page (see leavesOutStartPage).
[[noreturn]] void startEngine(const LaunchInputs& in, const ResolvedPersona& resolved,
                              SwitchList extra);

// Ends the process: 0 once the engine is spawned, 1 through the fatal path.
[[noreturn]] void runDirectLaunch(const LaunchInputs& in);

}  // namespace quillon
