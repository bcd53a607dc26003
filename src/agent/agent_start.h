// Starting the persona agent beside the engine: the two pipes of the
// engine's DevTools pipe, and the agent's own process on one end of each.
#pragma once

#include <string>

#include "agent/agent_values.h"

namespace quillon {

// The engine's ends, close-on-exec and above descriptor 4, so that placing
// them at 3 and 4 overwrites neither; error is 0, or the error number of the
// step that failed ("pipe" or "posix_spawn") and both ends are -1.
struct AgentStart {
  int engineCommandRead = -1;
  int engineMessageWrite = -1;
  int error = 0;
  const char* step = "";
};

// Spawns the agent at path with values, in a session of its own, with
// /dev/null as its standard descriptors, no environment, default signal
// dispositions and an empty mask. It is not waited for: it outlives its
// starter and ends when the engine's ends are all closed.
AgentStart startAgent(const std::string& path, const AgentValues& values);

}  // namespace quillon
