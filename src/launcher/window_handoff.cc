#include "launcher/window_handoff.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/child_process.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process_info.h"

extern char** environ;

namespace quillon {

bool hasDisplayEnvironment() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = environmentValue(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

std::optional<std::string> findCompanion(const std::string& launcherDir) {
  if (launcherDir.empty()) return std::nullopt;
  for (const std::string& dir : {joinPath(launcherDir, "../libexec/quillon"), launcherDir}) {
    std::string path = joinPath(dir, kCompanionName);
    if (isExecutableFile(path)) return path;
  }
  return std::nullopt;
}

std::vector<std::string> handOffArguments(int argc, char** argv, const std::string& launcherDir,
                                          int configFd) {
  std::vector<std::string> args;
  args.emplace_back(argc > 0 && argv[0] ? argv[0] : "");
  args.push_back(std::string(kLaunchFromPrefix) + launcherDir);
  args.push_back(std::string(kLaunchConfigPrefix) + std::to_string(configFd));
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

void handOffToCompanion(const std::string& companion, int argc, char** argv,
                        const std::string& launcherDir, const LaunchConfig& config) {
  int fd = memoryFileHolding(config.bytes.value_or(""));
  if (fd < 0) return;
  std::vector<std::string> args = handOffArguments(argc, argv, launcherDir, fd);
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  // Inherited by the companion alone: it closes the descriptor at once.
  if (fcntl(fd, F_SETFD, 0) == 0) execve(companion.c_str(), pointers.data(), environ);
  close(fd);
}

void alertThroughCompanion(const std::string& launcherDir, const std::string& message) {
  if (!hasDisplayEnvironment()) return;
  std::optional<std::string> companion = findCompanion(launcherDir);
  if (companion) runChild(*companion, {std::string(kAlertArgument), message}, 0);
}

}  // namespace quillon
