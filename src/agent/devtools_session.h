// What the persona agent says to Chromium over its DevTools pipe: on the
// browser's session and on every target it attaches, the automatic attach
// that pauses each new target before its first script, the persona's
// overrides, and the release. It never enables a domain and injects no
// script.
//
// A tab, window or iframe is held until its renderer has answered the
// overrides: it may go on in another renderer the moment it runs (a blank tab
// sent to a site, a new window's first document), and Chromium gives that
// renderer only the overrides the first one has answered. Every other target
// runs at once, its overrides in flight: a worker answers nothing until it
// runs, and a popup in a renderer of its own has none to answer until it
// runs, and takes the overrides with its first one. No target is held longer
// than kHoldLimit.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_values.h"

namespace quillon {

using AgentClock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds kHoldLimit{1000};

// A paused target waiting for its renderer's answers.
struct HeldTarget {
  std::string sessionId;
  std::set<long> unanswered;  // command ids
  AgentClock::time_point since;
};

struct DevtoolsSession {
  AgentValues values;
  long nextId = 1;
  std::vector<HeldTarget> held;
};

// The commands that start the agent's work on the browser's own session.
std::vector<std::string> browserCommands(DevtoolsSession& session);

// A target as its attach describes it.
struct AttachedTarget {
  std::string type;            // "page", "iframe", "worker", "shared_worker", "service_worker", ...
  std::string url;             // "" before its first document
  bool opener = false;         // opened by another page
  bool reachesOpener = false;  // and shares its renderer
};

// Whether the target is held until its renderer answers (see above).
bool holdsTarget(const AttachedTarget& target);

// What a target just attached on sessionId needs at now: the release is among
// the commands, or the target is held.
std::vector<std::string> targetCommands(DevtoolsSession& session, std::string_view sessionId,
                                        const AttachedTarget& target,
                                        AgentClock::time_point now = AgentClock::now());

// The commands one message from Chromium calls for, at now: those of a
// target it attached, the release of a held target whose last answer this
// is; nothing for other answers, other events and text that is not a
// message.
std::vector<std::string> answerMessage(DevtoolsSession& session, std::string_view message,
                                       AgentClock::time_point now = AgentClock::now());

// The releases of the targets held kHoldLimit or longer at now.
std::vector<std::string> releaseOverdue(DevtoolsSession& session, AgentClock::time_point now);

// When the next held target falls due; none when nothing is held.
std::optional<AgentClock::time_point> nextDue(const DevtoolsSession& session);

}  // namespace quillon
