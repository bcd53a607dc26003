#include "launcher/engine_agent.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "launcher/fatal.h"

namespace quillon {

namespace {

// Above 4, so that placing the agent's or the engine's ends at 3 and 4
// never overwrites another.
int movedHigh(int fd) {
  int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return high;
}

struct Pipes {
  EnginePipe engine;
  int commandWrite = -1;
  int messageRead = -1;
};

bool openPipes(Pipes& pipes) {
  int commands[2];
  int messages[2];
  if (pipe2(commands, O_CLOEXEC) != 0) return false;
  if (pipe2(messages, O_CLOEXEC) != 0) {
    close(commands[0]);
    close(commands[1]);
    return false;
  }
  pipes.engine = {movedHigh(commands[0]), movedHigh(messages[1])};
  pipes.commandWrite = movedHigh(commands[1]);
  pipes.messageRead = movedHigh(messages[0]);
  return true;
}

// In a session of its own, with /dev/null as its standard descriptors, no
// environment, default signal dispositions and an empty mask; returns 0 or
// the error number.
int spawnAgent(const std::string& path, const AgentValues& values, const Pipes& pipes) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipes.commandWrite, kAgentCommandFd);
  posix_spawn_file_actions_adddup2(&actions, pipes.messageRead, kAgentMessageFd);
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
  // The agent is not waited for: it outlives the launcher, and init reaps it.
  return code;
}

}  // namespace

bool launchUsesAgent(const LaunchInputs& in, const AgentValues& values) {
  return in.engineKind == EngineKind::chromium && in.road == LaunchRoad::launcher &&
         agentCarriesAny(values);
}

std::optional<EnginePipe> startEngineAgent(const LaunchInputs& in, const AgentValues& values,
                                           SwitchList& extra) {
  if (!launchUsesAgent(in, values)) return std::nullopt;
  std::optional<std::string> agent = findAgent(in.launcherDir);
  if (!agent)
    fatalLaunchError(std::string("The persona agent is missing (") + kAgentName +
                     " beside the launcher or in ../libexec/quillon); engine not started");
  Pipes pipes;
  if (!openPipes(pipes))
    fatalLaunchError(std::string("The persona agent could not be started (no pipe: ") +
                     strerror(errno) + "); engine not started");
  int code = spawnAgent(*agent, values, pipes);
  close(pipes.commandWrite);
  close(pipes.messageRead);
  if (code != 0) {
    closeEnginePipe(pipes.engine);
    fatalLaunchError("The persona agent could not be started (posix_spawn failed (errno " +
                     std::to_string(code) + "): " + strerror(code) + "); engine not started");
  }
  std::vector<std::string> pipeSwitches = devtoolsPipeSwitches(in.passThroughArgs);
  extra.insert(extra.end(), pipeSwitches.begin(), pipeSwitches.end());
  return pipes.engine;
}

void closeEnginePipe(const EnginePipe& pipe) {
  if (pipe.commandRead >= 0) close(pipe.commandRead);
  if (pipe.messageWrite >= 0) close(pipe.messageWrite);
}

}  // namespace quillon
