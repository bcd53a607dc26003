// Fixture of the process-level tests: the built launcher run against the
// recording engine in a private home, and the engine arguments to expect.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine_record.h"
#include "process_runner.h"
#include "support/test_files.h"

namespace quillon::test {

struct LaunchOptions {
  std::string program{};               // default: the built launcher
  std::optional<std::string> argv0{};  // default: program
  std::string cwd{};                   // default: the test's own
  int standardError = -1;              // default: captured
  std::vector<std::pair<int, int>> inheritedFds{};
  std::vector<int> blockedSignals{};
  std::vector<int> ignoredSignals{};
  int lingerMs = 0;                    // the engine stays this long after recording
  bool holdAtExit = false;             // hold the launcher at its exit until the record exists
  Millis timeout{20000};
};

struct Launch {
  ProcessOutcome process;
  std::optional<EngineRecord> engine;  // what the engine recorded, when one ran
  std::string rawRecord;
  int childrenLeft = 0;                // processes reaped after the launcher ended
  bool engineOutlivedLauncher = false; // the engine still ran once the launcher had ended
};

class LauncherProcessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the launcher with these arguments (argv[1...]) and env_.
  Launch launch(const std::vector<std::string>& args, const LaunchOptions& options = {});

  // Sets, replaces or (with nullopt) removes a variable of env_.
  void setEnv(const std::string& name, const std::optional<std::string>& value);

  std::string path(std::string_view relative) const { return tmp_ / relative; }
  std::string userConfig() const { return tmp_ / "xdg/Quillon/command-line.json"; }
  std::string userReport() const { return tmp_ / "xdg/Quillon/.quillon-launcher-result.json"; }

  // A copy of the launcher at <tmp>/<dir>/quillon-launcher; returns its path.
  std::string copyLauncher(const std::string& dir) const;

  TempDir tmp_;
  std::string launcher_;
  std::string engine_;
  std::string record_;
  std::vector<std::string> env_;
};

// The device entries of the extra switch list on this machine.
std::vector<std::string> deviceSwitches();

// The direct path's extra switch list when the persona states nothing.
std::vector<std::string> defaultExtraSwitches(const std::string& startPage = "chrome://version");

// engine path, launcher arguments, extra switches, the three fixed switches.
std::vector<std::string> expectedEngineArgv(const std::string& engine,
                                            const std::vector<std::string>& args,
                                            const std::vector<std::string>& extra);

// The whole "passthrough" report line; the timestamp is matched by pattern.
bool isPassthroughReport(const std::string& bytes);

// Makes a directory unwritable, also for root (immutable flag), and undoes
// it when destroyed.
class ReadOnlyDirectory {
 public:
  explicit ReadOnlyDirectory(std::string path);
  ~ReadOnlyDirectory();
  ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
  ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

  // Creating a file inside really fails.
  bool effective() const;

 private:
  std::string path_;
  bool immutable_ = false;
};

}  // namespace quillon::test
