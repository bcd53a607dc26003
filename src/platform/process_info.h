// Facts about this process and machine: environment, memory, processors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// The value of an environment variable, absent when it is not set.
std::optional<std::string> environmentValue(const char* name);

// The whole environment as "NAME=value" strings, exactly as this process got it
// (as it was at keepEnvironment, once that has been called).
std::vector<std::string> environmentBlock();

// Keeps the environment as it is now for environmentBlock, so that libraries
// that change it later (a toolkit drops DESKTOP_STARTUP_ID) change nothing
// that a child receives.
void keepEnvironment();

// Installed physical memory in bytes; 0 when the platform cannot tell.
uint64_t physicalMemoryBytes();

// Processors currently online; 0 or less when the platform cannot tell.
long activeProcessorCount();

// This machine's host name ("" when it cannot be read).
std::string hostName();

// A process with this id exists (possibly owned by another user).
bool processExists(long pid);

// A descriptor (close-on-exec) that becomes readable when the process ends,
// or -1 when there is no such process. Opened for a child that has not been
// waited for, it stands for that child even after it has ended.
int openProcessHandle(long pid);

}  // namespace quillon
