// The persona agent's loop over Chromium's DevTools pipe: it reads Chromium's
// messages (each ended by a NUL byte) and writes its commands, until Chromium
// closes its end.
#pragma once

#include "agent/agent_values.h"

namespace quillon {

// Returns once Chromium has closed its end of either pipe.
void runAgentLoop(int commandFd, int messageFd, const AgentValues& values);

}  // namespace quillon
