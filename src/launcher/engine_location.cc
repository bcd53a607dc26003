#include "launcher/engine_location.h"

#include "platform/paths.h"

namespace quillon {

std::string locateEngine(const std::optional<std::string>& overrideValue,
                         const std::string& launcherDir) {
  if (overrideValue && !overrideValue->empty()) return *overrideValue;
  return joinPath(joinPath(launcherDir, kEngineBundle), kEngineInBundle);
}

}  // namespace quillon
