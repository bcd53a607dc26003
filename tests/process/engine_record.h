// What the recording stand-in engine wrote about its own start: argument
// vector, environment, process ids, open descriptors and signal state.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::test {

struct EngineRecord {
  std::vector<std::string> argv;
  std::vector<std::string> env;
  pid_t pid = 0;
  pid_t ppid = 0;
  pid_t sid = 0;
  std::map<int, std::string> fds;  // descriptor -> what it is open on
  uint64_t blockedSignals = 0;     // SigBlk of /proc/self/status
  uint64_t ignoredSignals = 0;     // SigIgn
};

// Parses a record; none when it is cut short or malformed.
std::optional<EngineRecord> parseEngineRecord(const std::string& text);

// The bit of a signal in the SigBlk/SigIgn masks.
inline uint64_t signalBit(int sig) {
  return uint64_t{1} << (sig - 1);
}

}  // namespace quillon::test
