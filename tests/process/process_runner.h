// Running a program as a process for tests, with controlled arguments,
// environment, descriptors and signals; output captured, every wait bounded.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

using Millis = std::chrono::milliseconds;

struct ProcessSetup {
  std::string program;                // run verbatim, no search path
  std::vector<std::string> argv;      // argv[0] included
  std::vector<std::string> env;       // the whole environment, "NAME=value"
  std::string cwd;                    // empty: the test's own
  int standardError = -1;             // open descriptor to use as fd 2; -1: captured
  std::vector<std::pair<int, int>> inheritedFds;  // (open descriptor, number in the child)
  std::vector<int> blockedSignals;    // the child's signal mask
  std::vector<int> ignoredSignals;    // ignored in the child; every other one is default
  Millis timeout{20000};              // then the process is killed
};

struct ProcessOutcome {
  pid_t pid = -1;
  bool spawned = false;
  bool timedOut = false;
  int exitStatus = -1;   // -1 unless it exited normally
  int termSignal = 0;    // the signal that ended it, if one did
  std::string out;
  std::string err;
};

// A started process whose standard output and error are read into memory.
// Standard input is /dev/null; no descriptor of the test process reaches it
// except the inherited ones named in the setup.
class RunningProcess {
 public:
  enum class Start { spawn, traced };

  // Starts the process at once; traced starts it under ptrace, for
  // waitForExitHeld.
  explicit RunningProcess(const ProcessSetup& setup, Start start = Start::spawn);
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  pid_t pid() const { return outcome_.pid; }
  const ProcessOutcome& outcome() const { return outcome_; }

  // Waits for the process itself to end (killing it at the setup's timeout),
  // reading its output meanwhile.
  const ProcessOutcome& waitForExit();

  // For a traced process: as waitForExit, but the process is held at its
  // exit, before its children pass to another parent, until holdUntilPath
  // exists or holdLimit has passed.
  const ProcessOutcome& waitForExitHeld(const std::string& holdUntilPath, Millis holdLimit);

  // Reads output until every writer has closed the pipes, at most for the
  // given time (the engine inherits them, so this waits for it too).
  void drainOutput(Millis limit);

 private:
  void readAvailable(int pollMs);
  void killAfterTimeout();

  ProcessSetup setup_;
  ProcessOutcome outcome_;
  int outFd_ = -1;
  int errFd_ = -1;
};

// Makes the calling process the reaper of its orphaned descendants.
void becomeChildSubreaper();

// Reaps every child, killing by id those still running after the limit.
// Returns how many children were reaped.
int reapChildren(Millis limit);

// Waits until this child has ended and reaps it; false on timeout.
bool reapChild(pid_t pid, Millis limit);

// The ids of this process's running children (from /proc).
std::vector<pid_t> childProcesses();

// Waits until a regular file exists at path; false on timeout.
bool waitForFile(const std::string& path, Millis limit);

}  // namespace quillon::test
