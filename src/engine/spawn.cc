#include "engine/spawn.h"

#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "platform/files.h"
#include "platform/process_info.h"

namespace quillon {

namespace {

std::vector<char*> cStringBlock(std::vector<std::string>& strings) {
  std::vector<char*> block;
  block.reserve(strings.size() + 1);
  for (std::string& s : strings) block.push_back(s.data());
  block.push_back(nullptr);
  return block;
}

// The engine keeps only the last --disable-features switch, which is the
// launcher's own: it carries every feature the arguments disable, in their
// order, then the launcher's two, each once.
std::string disableFeaturesSwitch(const std::vector<std::string>& launcherArgs) {
  static constexpr std::string_view kPrefix = "--disable-features=";
  std::vector<std::string_view> features;
  std::unordered_set<std::string_view> seen;
  auto add = [&features, &seen](std::string_view list) {
    for (size_t start = 0, end; start <= list.size(); start = end + 1) {
      end = std::min(list.find(',', start), list.size());
      std::string_view feature = list.substr(start, end - start);
      if (!feature.empty() && seen.insert(feature).second) features.push_back(feature);
    }
  };
  for (const std::string& arg : launcherArgs)
    if (arg.starts_with(kPrefix)) add(std::string_view(arg).substr(kPrefix.size()));
  add("PasswordManagerOnboarding,AutofillEnableAccountWalletStorage");
  std::string result(kPrefix);
  for (size_t i = 0; i < features.size(); ++i) result.append(i ? "," : "").append(features[i]);
  return result;
}

// The engine's arguments and environment, and the C vectors that point into
// them; filled in place, so the pointers stay valid while it lives.
struct EngineCommand {
  std::vector<std::string> args, env;
  std::vector<char*> argv, envp;
};

void prepareEngineCommand(EngineCommand& command, const std::string& enginePath,
                          const std::vector<std::string>& launcherArgs,
                          const std::vector<std::string>& extraSwitches,
                          const std::vector<std::string>& environmentOverrides) {
  if (!isExecutableFile(enginePath)) throw SpawnError::engineMissing(enginePath);
  command.args = engineArguments(enginePath, launcherArgs, extraSwitches);
  command.env = engineEnvironment(environmentBlock(), environmentOverrides);
  command.argv = cStringBlock(command.args);
  command.envp = cStringBlock(command.env);
}

}  // namespace

std::vector<std::string> devtoolsPipeSwitches(const std::vector<std::string>& launcherArgs) {
  static constexpr std::string_view kPrefix = "--disable-blink-features=";
  static constexpr std::string_view kFeature = "AutomationControlled";
  std::string features;
  for (const std::string& arg : launcherArgs)
    if (arg.starts_with(kPrefix)) features = arg.substr(kPrefix.size());
  bool present = false;
  for (size_t start = 0, end; start <= features.size(); start = end + 1) {
    end = std::min(features.find(',', start), features.size());
    if (std::string_view(features).substr(start, end - start) == kFeature) present = true;
  }
  if (!present) features.append(features.empty() ? "" : ",").append(kFeature);
  return {"--remote-debugging-pipe", std::string(kPrefix) + features};
}

SpawnError::SpawnError(Kind kind, int code, std::string enginePath, std::string description)
    : kind_(kind),
      code_(code),
      enginePath_(std::move(enginePath)),
      description_(std::move(description)) {}

SpawnError SpawnError::posixSpawn(int code) {
  return SpawnError(Kind::posixSpawn, code, "",
                    "posix_spawn failed (errno " + std::to_string(code) + "): " + strerror(code));
}

SpawnError SpawnError::exec(int code) {
  return SpawnError(Kind::exec, code, "",
                    "execve failed (errno " + std::to_string(code) + "): " + strerror(code));
}

SpawnError SpawnError::engineMissing(std::string enginePath) {
  std::string description = "engine binary not found at " + enginePath;
  return SpawnError(Kind::engineMissing, 0, std::move(enginePath), std::move(description));
}

std::vector<std::string> engineArguments(const std::string& enginePath,
                                         const std::vector<std::string>& launcherArgs,
                                         const std::vector<std::string>& extraSwitches) {
  std::vector<std::string> argv;
  argv.reserve(launcherArgs.size() + extraSwitches.size() + 4);
  argv.push_back(enginePath);
  argv.insert(argv.end(), launcherArgs.begin(), launcherArgs.end());
  argv.insert(argv.end(), extraSwitches.begin(), extraSwitches.end());
  argv.push_back("--hide-crash-restore-bubble");
  argv.push_back(disableFeaturesSwitch(launcherArgs));
  argv.push_back("--disable-save-password-bubble");
  return argv;
}

std::vector<std::string> engineEnvironment(std::vector<std::string> base,
                                           const std::vector<std::string>& overrides) {
  for (const std::string& entry : overrides) {
    size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    std::string prefix = entry.substr(0, equals + 1);
    std::erase_if(base, [&prefix](const std::string& e) { return e.starts_with(prefix); });
    base.push_back(entry);
  }
  return base;
}

int spawnEngine(const std::string& enginePath, const std::vector<std::string>& launcherArgs,
                const std::vector<std::string>& extraSwitches,
                const std::vector<std::string>& environmentOverrides, const EnginePipe& pipe) {
  EngineCommand command;
  prepareEngineCommand(command, enginePath, launcherArgs, extraSwitches, environmentOverrides);
  if (!pipe.program.empty()) command.argv[0] = const_cast<char*>(pipe.program.c_str());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  bool withPipe = pipe.commandRead >= 0 && pipe.messageWrite >= 0;
  if (withPipe) {  // the pipe's ends lie above 4 (see the agent's start)
    posix_spawn_file_actions_adddup2(&actions, pipe.commandRead, 3);
    posix_spawn_file_actions_adddup2(&actions, pipe.messageWrite, 4);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int code = posix_spawn(&pid, enginePath.c_str(), withPipe ? &actions : nullptr, &attributes,
                         command.argv.data(), command.envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (code != 0) throw SpawnError::posixSpawn(code);
  return pid;
}

void execEngine(const std::string& enginePath, const std::vector<std::string>& launcherArgs,
                const std::vector<std::string>& extraSwitches,
                const std::vector<std::string>& environmentOverrides) {
  EngineCommand command;
  prepareEngineCommand(command, enginePath, launcherArgs, extraSwitches, environmentOverrides);
  execve(enginePath.c_str(), command.argv.data(), command.envp.data());
  throw SpawnError::exec(errno);
}

}  // namespace quillon
