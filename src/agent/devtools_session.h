// What the persona agent says to Chromium over its DevTools pipe: on the
// browser's session and on every target it attaches, the automatic attach
// that pauses each new target before its first script, the persona's
// overrides, and the release. It sends them all without waiting for any
// answer (a paused target answers no command its renderer handles until
// released), never enables a domain and injects no script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_values.h"

namespace quillon {

struct DevtoolsSession {
  AgentValues values;
  long nextId = 1;
};

// The commands that start the agent's work on the browser's own session.
std::vector<std::string> browserCommands(DevtoolsSession& session);

// The commands for a target just attached on sessionId, of the protocol's
// type ("page", "iframe", "worker", "shared_worker", "service_worker", ...).
std::vector<std::string> targetCommands(DevtoolsSession& session, std::string_view sessionId,
                                        std::string_view type);

// The commands one message from Chromium calls for: those of a target it
// attached; nothing for answers, other events and text that is not a
// message.
std::vector<std::string> answerMessage(DevtoolsSession& session, std::string_view message);

}  // namespace quillon
