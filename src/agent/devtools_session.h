// What the persona agent says to Chromium over its DevTools pipe: on the
// browser's session and on every target it attaches, the automatic attach
// that pauses each new target before its first script, the persona's
// overrides, and the release. It enables one domain, Fetch, on the browser's
// session, for the requests of documents only, and injects no script.
//
// A tab, window or iframe is held until its renderer has answered the
// overrides: it may go on in another renderer the moment it runs (a blank tab
// sent to a site, a new window's first document), and Chromium gives that
// renderer only the overrides the first one has answered. Every other target
// runs at once, its overrides in flight: a worker answers nothing until it
// runs, and a popup in a renderer of its own has none to answer until it
// runs, and takes the overrides with its first one. No target is held longer
// than kHoldLimit.
//
// A tab that Chromium starts loading itself (a link opened in a new tab, an
// address given to Target.createTarget) is not paused by the attach: its
// document's request goes out at once, and its first script could run in a
// renderer already there for its site before the overrides. So the request of
// a document is held too, while the frame it is for is a held target, and
// goes on with that target's release; every other document's request goes on
// at once.
//
// The locale is the renderer process's, held by the one session that set it
// first; the others are told that another override is in effect. When that
// session ends (its tab closed, its iframe or worker gone), Chromium puts the
// whole process back to the machine's locale, so the agent asks every other
// session again and one of those still in that process takes it over.
#pragma once

#include <chrono>
#include <map>
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
  std::string targetId;               // a page's is its main frame's id
  std::vector<std::string> requests;  // its document requests held meanwhile
};

// A locale command on its way, and how many holders had ended when it was
// sent: one sent before the last of them may have found that holder still
// there.
struct LocaleAsk {
  std::string sessionId;
  long losses = 0;
};

struct DevtoolsSession {
  AgentValues values;
  long nextId = 1;
  std::vector<HeldTarget> held;
  std::vector<std::string> attached;      // sessions given the locale, oldest first
  std::set<std::string> localeHolders;    // those that set it for their process
  std::map<long, LocaleAsk> localeAsked;  // unanswered locale commands, by id
  long localeLosses = 0;                  // holders ended so far
  long localeRetaken = 0;                 // localeLosses at the last retake
};

// The commands that start the agent's work on the browser's own session.
std::vector<std::string> browserCommands(DevtoolsSession& session);

// A target as its attach describes it.
struct AttachedTarget {
  std::string type;            // "page", "iframe", "worker", "shared_worker", "service_worker", ...
  std::string url;             // "" before its first document
  bool opener = false;         // opened by another page
  bool reachesOpener = false;  // and shares its renderer
  std::string id;              // its target id
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
// is, a document request going on unless its frame is held; nothing for
// other answers, other events and text that is not a message.
std::vector<std::string> answerMessage(DevtoolsSession& session, std::string_view message,
                                       AgentClock::time_point now = AgentClock::now());

// The locale again, oldest session first, for every session that does not
// hold it and has not been asked since, once a holder has ended; nothing
// otherwise. Called after each batch of messages, so that many sessions
// ending together ask once.
std::vector<std::string> retakeLocale(DevtoolsSession& session);

// The releases of the targets held kHoldLimit or longer at now.
std::vector<std::string> releaseOverdue(DevtoolsSession& session, AgentClock::time_point now);

// When the next held target falls due; none when nothing is held.
std::optional<AgentClock::time_point> nextDue(const DevtoolsSession& session);

}  // namespace quillon
