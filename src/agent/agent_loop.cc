#include "agent/agent_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "agent/devtools_session.h"

namespace quillon {

namespace {

// Writes every command, each ended by a NUL byte; false once Chromium's end
// is gone.
bool sendCommands(int fd, const std::vector<std::string>& commands) {
  std::string bytes;
  for (const std::string& command : commands) bytes.append(command).push_back('\0');
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Milliseconds until the next held target falls due (at least 1), or -1.
int pollTimeout(const DevtoolsSession& session) {
  std::optional<AgentClock::time_point> due = nextDue(session);
  if (!due) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - AgentClock::now());
  return static_cast<int>(std::max<long>(left.count(), 1));
}

}  // namespace

void runAgentLoop(int commandFd, int messageFd, const AgentValues& values) {
  DevtoolsSession session;
  session.values = values;
  if (!sendCommands(commandFd, browserCommands(session))) return;
  std::string pending;
  char buffer[65536];
  for (;;) {
    pollfd message{messageFd, POLLIN, 0};
    int ready = poll(&message, 1, pollTimeout(session));
    if (ready < 0 && errno != EINTR) return;
    if (!sendCommands(commandFd, releaseOverdue(session, AgentClock::now()))) return;
    if (ready <= 0) continue;
    ssize_t count = read(messageFd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    pending.append(buffer, static_cast<size_t>(count));
    size_t start = 0;
    for (size_t end; (end = pending.find('\0', start)) != std::string::npos; start = end + 1) {
      std::string_view text(pending.data() + start, end - start);
      if (!sendCommands(commandFd, answerMessage(session, text))) return;
    }
    pending.erase(0, start);
    if (!sendCommands(commandFd, retakeLocale(session))) return;
  }
}

}  // namespace quillon
