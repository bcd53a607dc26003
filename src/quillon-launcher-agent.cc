// quillon-launcher-agent: gives a stock Chromium the persona's coordinates,
// processor count and locale through its DevTools pipe (see
// agent/devtools_session.h). Started by the launcher with the pipe's ends as
// its descriptors 3 and 4 and the values as its arguments; it reads no
// environment, and ends when Chromium closes the pipe.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/agent_loop.h"

int main(int argc, char** argv) {
  // Chromium's going away shows as a failed write, not a signal.
  signal(SIGPIPE, SIG_IGN);
  close_range(quillon::kAgentMessageFd + 1, ~0U, 0);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::optional<quillon::AgentValues> values = quillon::agentValuesFromArguments(args);
  if (!values) return 2;
  quillon::runAgentLoop(quillon::kAgentCommandFd, quillon::kAgentMessageFd, *values);
  return 0;
}
