// The commands of quillon-persona. Each prints to standard output, errors to
// standard error, and returns the exit status; none changes anything.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon {

// Exit statuses.
inline constexpr int kExitConsistent = 0;
inline constexpr int kExitOutputFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInconsistent = 3;
inline constexpr int kExitProbeFailed = 4;

struct CommandOptions {
  std::string programPath;  // argv[0]: the launcher beside it is the one described
  std::optional<std::string> userDataDir;
  bool json = false;
  bool colour = false;
  std::vector<std::string> folders;  // list's arguments
};

int runShow(const CommandOptions& options);
int runProbe(const CommandOptions& options);
int runList(const CommandOptions& options);

// Writes "quillon-persona: " + message + "\n" to standard error.
void printError(const std::string& message);

// Writes all of text to standard output; false (errno set) when it could not.
bool printOut(const std::string& text);

// Writes text to standard output and returns status; when it cannot, says so
// on standard error and returns kExitOutputFailed.
int finishOutput(const std::string& text, int status);

// The path names a folder; else false, with "no such folder", "not a
// folder" or why it cannot be reached on standard error.
bool checkFolder(const std::string& path);

}  // namespace quillon
