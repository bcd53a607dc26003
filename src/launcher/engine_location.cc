#include "launcher/engine_location.h"

#include "platform/paths.h"

namespace quillon {

std::string locateEngine(const std::optional<std::string>& overrideValue,
                         const std::string& launcherDir) {
  if (overrideValue && !overrideValue->empty()) {
    // A relative override names a file against the current directory, the
    // way a file URL does: without its dot segments.
    if (overrideValue->front() == '/') return *overrideValue;
    return withoutDotSegments(joinPath(currentDirectory(), *overrideValue));
  }
  return joinPath(joinPath(launcherDir, kEngineBundle), kEngineInBundle);
}

}  // namespace quillon
