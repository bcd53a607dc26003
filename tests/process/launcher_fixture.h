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

struct Launch {
  ProcessOutcome process;
  std::string out, err;
  std::optional<EngineRecord> engine;  // what the engine recorded, when one ran
  int childrenLeft = 0;                // processes reaped after the launcher ended
};

class LauncherProcessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the launcher (or setup.program) with these arguments (argv[1...])
  // and env_; standard output and, unless given, error are captured. An
  // engine still running afterwards is killed.
  Launch launch(const std::vector<std::string>& args, ProcessSetup setup = {});

  // Sets, replaces or (with nullopt) removes a variable of env_.
  void setEnv(const std::string& name, const std::optional<std::string>& value);

  std::string path(std::string_view relative) const { return tmp_ / relative; }
  std::string userConfig() const { return tmp_ / "xdg/Quillon/command-line.json"; }
  std::string userReport() const { return tmp_ / "xdg/Quillon/.quillon-launcher-result.json"; }

  TempDir tmp_;
  std::string launcher_ = QUILLON_LAUNCHER_PATH;
  std::string engine_ = QUILLON_RECORDING_ENGINE_PATH;
  std::string record_;
  std::vector<std::string> env_;
};

// Exit 0, nothing printed, and exactly one engine that recorded its start.
void expectQuietSuccess(const Launch& run);

// The direct path's extra switch list when the persona states nothing.
std::vector<std::string> defaultExtraSwitches(const std::string& startPage = "chrome://version");

// engine path, launcher arguments, extra switches, the three fixed switches.
std::vector<std::string> expectedEngineArgv(
    const std::string& engine, const std::vector<std::string>& args,
    const std::vector<std::string>& extra = defaultExtraSwitches());

// The whole "passthrough" report line; the timestamp is matched by pattern.
bool isPassthroughReport(const std::string& bytes);

}  // namespace quillon::test
