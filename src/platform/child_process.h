// Running a helper program to completion and capturing what it prints on
// standard output, without a shell and without leaking descriptors into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// More output than any helper of the launcher legitimately prints; past it the
// bytes are counted but not kept.
inline constexpr size_t kMaxChildOutputBytes = size_t{64} * 1024 * 1024;

// What is kept of a helper's standard error: enough for its error lines.
inline constexpr size_t kMaxChildErrorBytes = size_t{64} * 1024;

struct ChildRun {
  bool launched = false;     // the program was started
  std::string launchError;   // why it was not started (or why its end was lost)
  bool exited = false;       // the program ended and was reaped
  bool signalled = false;    // it was ended by a signal
  int status = -1;           // exit status, or the signal number when signalled
  std::string output;        // standard output, at most the cap given
  uint64_t outputBytes = 0;  // every byte it wrote to standard output
  std::string errorOutput;   // the start of what it wrote to standard error
  int64_t elapsedMs = 0;     // from just before the launch to just after the end
};

// Runs the program at path (no search path) with argv[0] = path followed by
// args. Standard input is inherited, or reads standardInput when given (from
// memory, never from a file or the command line); standard output is read
// while the program runs; standard error is kept in memory and its start
// returned; the environment is inherited and the signal dispositions and
// mask are reset to the defaults. Works whatever SIGCHLD disposition the
// process has, and leaves that disposition as it found it. Returns once the
// program has ended, even when a process it left behind still holds its
// standard output; nothing of the run (descriptor or zombie) outlives the
// call. Only one thread may run children at a time.
ChildRun runChild(const std::string& path, const std::vector<std::string>& args,
                  size_t outputCap = kMaxChildOutputBytes,
                  std::optional<std::string_view> standardInput = std::nullopt);

}  // namespace quillon
