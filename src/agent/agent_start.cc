#include "agent/agent_start.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace quillon {

namespace {

int movedHigh(int fd) {
  int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return high;
}

int spawnAgent(const std::string& path, const AgentValues& values, int commandWrite,
               int messageRead) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, commandWrite, kAgentCommandFd);
  posix_spawn_file_actions_adddup2(&actions, messageRead, kAgentMessageFd);
  posix_spawn_file_actions_addclosefrom_np(&actions, kAgentMessageFd + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> args = agentArguments(values);
  args.insert(args.begin(), kAgentName);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  char* envp[] = {nullptr};
  pid_t pid = 0;
  int code = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return code;
}

}  // namespace

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
  int code = moved ? spawnAgent(path, values, commandWrite, messageRead) : EMFILE;
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
