#include "agent/agent_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/detached_helper.h"

namespace quillon {

AgentStart startAgent(const std::string& path, const AgentValues& values) {
  int commands[2];
  int messages[2];
  if (pipe2(commands, O_CLOEXEC) != 0) return {-1, -1, errno, "pipe"};
  if (pipe2(messages, O_CLOEXEC) != 0) {
    int error = errno;
    close(commands[0]);
    close(commands[1]);
    return {-1, -1, error, "pipe"};
  }
  AgentStart start{movedHigh(commands[0]), movedHigh(messages[1])};
  int commandWrite = movedHigh(commands[1]);
  int messageRead = movedHigh(messages[0]);
  bool moved = start.engineCommandRead >= 0 && start.engineMessageWrite >= 0 && commandWrite >= 0 &&
               messageRead >= 0;
  static_assert(kAgentCommandFd == 3 && kAgentMessageFd == 4);
  int code = moved ? spawnDetachedHelper(path, kAgentName, agentArguments(values),
                                         {commandWrite, messageRead})
                   : EMFILE;
  for (int fd : {commandWrite, messageRead})
    if (fd >= 0) close(fd);
  if (code != 0) {
    for (int fd : {start.engineCommandRead, start.engineMessageWrite})
      if (fd >= 0) close(fd);
    return {-1, -1, code, moved ? "posix_spawn" : "pipe"};
  }
  return start;
}

}  // namespace quillon
