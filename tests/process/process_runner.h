// Running a program as a process for tests, with controlled arguments,
// environment, descriptors and signals; every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

using Millis = std::chrono::milliseconds;

struct ProcessSetup {
  std::string program{};                            // run verbatim, no search path
  std::vector<std::string> argv{};                  // argv[0] included
  std::vector<std::string> env{};                   // the whole environment, "NAME=value"
  std::string cwd{};                                // empty: the test's own
  int standardOutput = -1;                          // open descriptors for 1 and 2;
  int standardError = -1;                           // standard input is /dev/null
  std::vector<std::pair<int, int>> inheritedFds{};  // (open descriptor, number in the child)
  std::vector<int> blockedSignals{};                // the child's signal mask
  std::vector<int> ignoredSignals{};  // ignored in the child; every other one is default
  std::string holdAtExitUntil{};      // set: traced, and held at its exit (before its
                                      // children pass to another parent) until this file exists
  Millis timeout{20000};              // then the process is killed
};

struct ProcessOutcome {
  pid_t pid = -1;
  bool timedOut = false;
  int exitStatus = -1;  // -1 unless it exited normally
  int termSignal = 0;   // the signal that ended it, if one did
};

// Starts the process and waits for it to end. No other descriptor of the
// test process reaches it.
ProcessOutcome runProcess(ProcessSetup setup);

// Reaps every child, killing those still running after the limit.
// Returns how many were reaped.
int reapChildren(Millis limit);

// Waits until a regular file exists at path; false on timeout.
bool waitForFile(const std::string& path, Millis limit);

}  // namespace quillon::test
