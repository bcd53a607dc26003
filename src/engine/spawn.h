// Starting the engine: its own process, in a session of its own, with the
// launcher's arguments, the extra switch list, three fixed trailing switches
// and the launcher's whole environment (with optional overrides). The
// launcher never waits for it. Or, for a caller that drives the browser, the
// same command line run in place of the launcher's process.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace quillon {

class SpawnError : public std::exception {
 public:
  enum class Kind { posixSpawn, exec, engineMissing };

  static SpawnError posixSpawn(int code);
  static SpawnError exec(int code);
  static SpawnError engineMissing(std::string enginePath);

  Kind kind() const { return kind_; }
  int code() const { return code_; }
  const std::string& enginePath() const { return enginePath_; }
  // "posix_spawn failed (errno N): text", "execve failed (errno N): text" or
  // "engine binary not found at PATH".
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  SpawnError(Kind kind, int code, std::string enginePath, std::string description);

  Kind kind_;
  int code_;
  std::string enginePath_;
  std::string description_;
};

// The engine's argument vector: its path, the launcher's arguments, the extra
// switches, then the three trailing switches. The engine honours only the
// last --disable-features, so the launcher's carries the features of every
// --disable-features= among its arguments, in order, then its own two, each
// once.
std::vector<std::string> engineArguments(const std::string& enginePath,
                                         const std::vector<std::string>& launcherArgs,
                                         const std::vector<std::string>& extraSwitches);

// The engine's environment: base with every "NAME=value" override replacing
// the entries of the same name, overrides last.
std::vector<std::string> engineEnvironment(std::vector<std::string> base,
                                           const std::vector<std::string>& overrides);

// The engine's ends of its DevTools pipe, which it takes as its descriptors 3
// (commands in) and 4 (messages out), -1 for none; and the program it names
// as its own (its argv[0], "" for its path), which it runs again when it
// relaunches itself.
struct EnginePipe {
  int commandRead = -1;
  int messageWrite = -1;
  std::string program;
};

// The switches that open the DevTools pipe: --remote-debugging-pipe, and a
// --disable-blink-features with AutomationControlled after the features of
// the last such switch among the arguments (the engine honours only the
// last), which keeps navigator.webdriver false.
std::vector<std::string> devtoolsPipeSwitches(const std::vector<std::string>& launcherArgs);

// Spawns the engine, with the pipe's ends when given, and returns its process
// id at once; throws SpawnError on failure.
int spawnEngine(const std::string& enginePath, const std::vector<std::string>& launcherArgs,
                const std::vector<std::string>& extraSwitches,
                const std::vector<std::string>& environmentOverrides = {},
                const EnginePipe& pipe = {});

// Replaces this process by the engine with the same command line and
// environment as spawnEngine: the process keeps its id, session, descriptors
// (but those marked close-on-exec) and signal state. Returns only by throwing
// SpawnError.
[[noreturn]] void execEngine(const std::string& enginePath,
                             const std::vector<std::string>& launcherArgs,
                             const std::vector<std::string>& extraSwitches,
                             const std::vector<std::string>& environmentOverrides = {});

}  // namespace quillon
