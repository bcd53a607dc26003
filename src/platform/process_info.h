// Facts about this process and machine: environment, memory, processors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// The value of an environment variable, absent when it is not set.
std::optional<std::string> environmentValue(const char* name);

// The whole environment as "NAME=value" strings, exactly as this process got it.
std::vector<std::string> environmentBlock();

// Installed physical memory in bytes; 0 when the platform cannot tell.
uint64_t physicalMemoryBytes();

// Processors currently online; 0 or less when the platform cannot tell.
long activeProcessorCount();

// This machine's host name ("" when it cannot be read).
std::string hostName();

// A process with this id exists (possibly owned by another user).
bool processExists(long pid);

}  // namespace quillon
