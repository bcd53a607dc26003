// Other processes of this machine as /proc shows them: their ids, owners,
// start times and command lines, for finding the browser processes that
// carry a given switch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The ids of every process in /proc, in no particular order.
std::vector<long> processIds();

// The effective user id of the process, or none when it is gone.
std::optional<uint32_t> processUser(long pid);

// When the process started (in clock ticks since boot), or none when it is
// gone or a zombie: with the id, it tells one process from a later one that
// reuses its id.
std::optional<uint64_t> processStartTime(long pid);

// The process is in this process's network namespace (where a loopback port
// is the same port).
bool inThisNetworkNamespace(long pid);

// The raw bytes of /proc/PID/cmdline (at most 256 KiB), or none.
std::optional<std::string> processCommandLine(long pid);

// A command line's arguments. Read as /proc shows it: NUL-separated, or, once
// the program has set its process title (a relaunched Chromium does), one
// text with its arguments joined by spaces, which is split before each " --".
std::vector<std::string> commandLineArguments(std::string_view raw);

}  // namespace quillon
