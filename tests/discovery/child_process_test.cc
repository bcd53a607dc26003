// Running a helper program: argument vector, output capture and its bound,
// statuses, launch failures, and nothing left behind.
#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "process_checks.h"
#include "support/test_files.h"

namespace quillon {
namespace {

class ChildProcessTest : public testing::Test {
 protected:
  void SetUp() override { before_ = test::openDescriptors(); }
  void TearDown() override {
    EXPECT_EQ(test::openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(test::hasNoChildren()) << "a child was left behind";
  }
  std::map<int, std::string> before_;
};

TEST_F(ChildProcessTest, ArgumentsReachTheProgramWithoutAShell) {
  ChildRun run = runChild("/bin/sh", {"-c", "printf '[%s]' \"$@\"", "sh", "a b", "$(id)", "*", ""});
  EXPECT_TRUE(run.launched);
  EXPECT_TRUE(run.exited);
  EXPECT_FALSE(run.signalled);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "[a b][$(id)][*][]");
  EXPECT_EQ(run.outputBytes, run.output.size());
  EXPECT_GE(run.elapsedMs, 0);
}

TEST_F(ChildProcessTest, ExitStatusAndSignalAreReported) {
  ChildRun exited = runChild("/bin/sh", {"-c", "exit 97"});
  EXPECT_TRUE(exited.exited);
  EXPECT_FALSE(exited.signalled);
  EXPECT_EQ(exited.status, 97);

  ChildRun killed = runChild("/bin/sh", {"-c", "kill -TERM $$"});
  EXPECT_TRUE(killed.exited);
  EXPECT_TRUE(killed.signalled);
  EXPECT_EQ(killed.status, 15);
}

TEST_F(ChildProcessTest, StandardErrorGoesNowhereAndDoesNotBlock) {
  ChildRun run = runChild("/bin/sh", {"-c", "head -c 3000000 /dev/zero >&2; echo out"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "out\n");
}

TEST_F(ChildProcessTest, OutputAboveTheCapIsCountedNotKept) {
  ChildRun run = runChild("/bin/sh", {"-c", "head -c 1000000 /dev/zero | tr '\\0' x"}, 10);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "xxxxxxxxxx");
  EXPECT_EQ(run.outputBytes, 1000000u);
}

TEST_F(ChildProcessTest, OutputIsReadWhileTheChildRuns) {
  // 20 MB is far beyond any pipe buffer: the child only ends if it is read.
  ChildRun run = runChild("/bin/sh", {"-c", "head -c 20000000 /dev/zero; echo end"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.outputBytes, 20000004u);
  ASSERT_EQ(run.output.size(), 20000004u);
  EXPECT_EQ(run.output.substr(run.output.size() - 4), "end\n");
}

TEST_F(ChildProcessTest, LaunchFailuresCarryTheSystemsText) {
  test::TempDir dir;
  std::string garbage = dir / "garbage";
  test::writeFile(garbage, "\x01\x02 not a program\n");
  chmod(garbage.c_str(), 0755);
  ChildRun run = runChild(garbage, {});
  EXPECT_FALSE(run.launched);
  EXPECT_EQ(run.launchError, "Exec format error");

  run = runChild(dir / "missing", {});
  EXPECT_FALSE(run.launched);
  EXPECT_EQ(run.launchError, "No such file or directory");
  EXPECT_EQ(run.status, -1);
  EXPECT_EQ(run.elapsedMs, 0);
}

TEST_F(ChildProcessTest, TheChildGetsOnlyItsStandardDescriptors) {
  // ls lists the descriptors it was started with, plus its own for the listing.
  ChildRun run = runChild("/bin/ls", {"-l", "/proc/self/fd"});
  ASSERT_EQ(run.status, 0);
  std::map<int, std::string> parent = test::openDescriptors();
  std::map<int, std::string> child;
  size_t line = 0;
  while (line < run.output.size()) {
    size_t end = run.output.find('\n', line);
    std::string entry = run.output.substr(line, end - line);
    line = end + 1;
    size_t arrow = entry.find(" -> ");
    if (arrow == std::string::npos) continue;
    size_t name = entry.rfind(' ', arrow - 1) + 1;
    child[std::stoi(entry.substr(name, arrow - name))] = entry.substr(arrow + 4);
  }
  ASSERT_TRUE(child.count(1));
  EXPECT_EQ(child[1].rfind("pipe:", 0), 0u);
  EXPECT_EQ(child[2], "/dev/null");
  for (const auto& [fd, target] : child) {
    if (fd <= 2 || target.rfind("/proc/", 0) == 0) continue;
    // Anything else is a descriptor this test process itself holds without
    // close-on-exec; the runner's pipe is never among them.
    EXPECT_EQ(parent[fd], target) << "descriptor " << fd;
    EXPECT_NE(target, child[1]) << "descriptor " << fd;
  }
}

}  // namespace
}  // namespace quillon
