#include "platform/detached_helper.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

int movedHigh(int fd) {
  if (fd < 0) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return high;
}

std::optional<std::string> findHelper(const std::string& launcherDir, const char* name) {
  for (const std::string& dir : {joinPath(launcherDir, "../libexec/quillon"), launcherDir}) {
    std::string path = joinPath(dir, name);
    if (isExecutableFile(path)) return path;
  }
  return std::nullopt;
}

int spawnDetachedHelper(const std::string& path, const std::string& name,
                        const std::vector<std::string>& args, const std::vector<int>& fds) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  int placed = 3;
  for (int fd : fds) posix_spawn_file_actions_adddup2(&actions, fd, placed++);
  posix_spawn_file_actions_addclosefrom_np(&actions, placed);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> words = {name};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  char* envp[] = {nullptr};
  pid_t pid = 0;
  int code = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return code;
}

}  // namespace quillon
