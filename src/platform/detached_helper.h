// Starting a helper that outlives its starter (the relay, the persona agent):
// its own session, /dev/null as its standard descriptors, the descriptors it
// is given at 3, 4, ..., no environment, default signal dispositions and an
// empty mask. It is not waited for; init reaps it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon {

// fd moved to the lowest free descriptor at or above 10, close-on-exec, so
// that placing descriptors at 3, 4, ... never overwrites it; -1 (and fd
// closed) when there is none, fd itself when it is negative.
int movedHigh(int fd);

// The helper program name in <launcherDir>/../libexec/quillon (installed) or
// beside the launcher (build tree); none when neither is an executable file.
std::optional<std::string> findHelper(const std::string& launcherDir, const char* name);

// Spawns path with argv[0] = name and args after it, placing fds[i] at 3 + i
// and closing everything above; returns 0 or the error number.
int spawnDetachedHelper(const std::string& path, const std::string& name,
                        const std::vector<std::string>& args, const std::vector<int>& fds);

}  // namespace quillon
