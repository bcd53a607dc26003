// Where the engine executable is: $QUILLON_ENGINE_BIN when non-empty (made
// absolute against the current directory), else inside the launcher's own
// bundle directory.
#pragma once

#include <optional>
#include <string>

namespace quillon {

inline constexpr const char* kEngineBundle = "Contents/Frameworks/Quillon Browser Engine.app";
inline constexpr const char* kEngineInBundle = "Contents/MacOS/Quillon Browser Engine";

// The engine path for an override value and the launcher's directory. The
// path is not checked here; the spawn does that.
std::string locateEngine(const std::optional<std::string>& overrideValue,
                         const std::string& launcherDir);

}  // namespace quillon
