// The persona agent beside a stock Chromium: started before the engine, it
// holds the engine's DevTools pipe and gives every target the persona's
// coordinates, processor count and locale (see agent/devtools_session.h).
#pragma once

#include <optional>

#include "agent/agent_values.h"
#include "engine/spawn.h"
#include "engine/switches.h"
#include "launcher/startup.h"

namespace quillon {

// A stock Chromium on the launcher's road (a caller that drives the browser
// brings its own DevTools) whose persona has a value only the agent carries.
bool launchUsesAgent(const LaunchInputs& in, const AgentValues& values);

// The switches a launch with the agent adds: those that open the engine's
// DevTools pipe, then those its relaunch needs.
std::vector<std::string> agentSwitches(const LaunchInputs& in, const AgentValues& values);

// When the launch uses the agent: starts it on one end of two pipes, adds the
// switches that open the engine's DevTools pipe and those its relaunch needs
// to extra, and returns the engine's ends, close-on-exec, with the agent as
// the program the engine names as its own. None in every other case. An agent that
// cannot start is fatal: the engine must not run without the persona's
// values.
std::optional<EnginePipe> startEngineAgent(const LaunchInputs& in, const AgentValues& values,
                                           SwitchList& extra);

// Closes the launcher's copies of the engine's ends once the engine has them
// (or did not start, which ends the agent).
void closeEnginePipe(const EnginePipe& pipe);

}  // namespace quillon
