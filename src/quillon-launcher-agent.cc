// quillon-launcher-agent: gives a stock Chromium the persona's coordinates,
// processor count and locale through its DevTools pipe (see
// agent/devtools_session.h). Started by the launcher with the pipe's ends as
// its descriptors 3 and 4 and the values as its arguments; it reads no
// environment, and ends when Chromium closes the pipe.
//
// Chromium names this program as its own, so a relaunch of the browser runs
// it with Chromium's switches (see relaunchSwitches): it then starts a new
// agent and becomes the engine on the new pipe.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/agent_loop.h"
#include "agent/agent_start.h"

namespace {

// Returns only when the engine could not be run.
int relaunchEngine(char** argv, const quillon::AgentRelaunch& relaunch) {
  quillon::AgentStart start = quillon::startAgent("/proc/self/exe", relaunch.values);
  if (start.error != 0) return 1;
  if (dup2(start.engineCommandRead, 3) != 3 || dup2(start.engineMessageWrite, 4) != 4) return 1;
  close(start.engineCommandRead);
  close(start.engineMessageWrite);
  execv(relaunch.enginePath.c_str(), argv);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (std::optional<quillon::AgentRelaunch> relaunch = quillon::relaunchFromArguments(args))
    return relaunchEngine(argv, *relaunch);
  // Chromium's going away shows as a failed write, not a signal.
  signal(SIGPIPE, SIG_IGN);
  close_range(quillon::kAgentMessageFd + 1, ~0U, 0);
  std::optional<quillon::AgentValues> values = quillon::agentValuesFromArguments(args);
  if (!values) return 2;
  quillon::runAgentLoop(quillon::kAgentCommandFd, quillon::kAgentMessageFd, *values);
  return 0;
}
