// A test fixture that fails a test whose calls left something of a child
// process behind: an open descriptor or a child (running or zombie).
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

namespace quillon::test {

// Every open descriptor of this process and what it refers to.
inline std::map<int, std::string> openDescriptors() {
  std::map<int, std::string> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return fds;
  while (dirent* entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd == dirfd(dir)) continue;
    char target[512];
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    fds[fd] = n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
  }
  closedir(dir);
  return fds;
}

// True when this process has no child at all, zombies included.
inline bool hasNoChildren() {
  int status = 0;
  return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

class NothingLeftBehind : public testing::Test {
 protected:
  void SetUp() override { before_ = openDescriptors(); }
  void TearDown() override {
    EXPECT_EQ(openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(hasNoChildren()) << "a child was left behind";
  }
  std::map<int, std::string> before_;
};

}  // namespace quillon::test
