#include "platform/process_info.h"

#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace quillon {

std::optional<std::string> environmentValue(const char* name) {
  const char* value = getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

namespace {

std::optional<std::vector<std::string>>& keptEnvironment() {
  static std::optional<std::vector<std::string>> kept;
  return kept;
}

}  // namespace

std::vector<std::string> environmentBlock() {
  if (keptEnvironment()) return *keptEnvironment();
  std::vector<std::string> block;
  for (char** entry = environ; entry && *entry; ++entry) block.emplace_back(*entry);
  return block;
}

void keepEnvironment() {
  keptEnvironment() = environmentBlock();
}

uint64_t physicalMemoryBytes() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

long activeProcessorCount() {
  return sysconf(_SC_NPROCESSORS_ONLN);
}

}  // namespace quillon
