#include "process_checks.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quillon::test {

std::map<int, std::string> openDescriptors() {
  std::map<int, std::string> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return fds;
  int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = atoi(entry->d_name);
    if (fd == own) continue;
    char target[512];
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    fds[fd] = n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
  }
  closedir(dir);
  return fds;
}

bool hasNoChildren() {
  int status = 0;
  return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

}  // namespace quillon::test
