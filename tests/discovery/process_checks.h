// A fixture that fails a test whose calls left something of a child process
// behind: an open descriptor or a child (running or zombie).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <string>

namespace quillon::test {

// Every open descriptor of this process and what it refers to.
inline std::map<int, std::string> openDescriptors() {
  std::map<int, std::string> fds;
  std::error_code e;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    fds[std::stoi(entry.path().filename())] = std::filesystem::read_symlink(entry.path(), e);
  return fds;
}

class NothingLeftBehind : public testing::Test {
 protected:
  void SetUp() override { before_ = openDescriptors(); }
  void TearDown() override {
    EXPECT_EQ(openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD) << "a child was left";
  }
  std::map<int, std::string> before_;
};

}  // namespace quillon::test
