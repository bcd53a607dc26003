// The critical alert of a launch that cannot go on: what failed, and that a
// reinstall fixes it, with a single "OK" button.
#pragma once

#include <string>

namespace quillon {

// Shows the alert in front of other windows and returns once it is
// dismissed. Needs a QApplication.
void showCriticalAlert(const std::string& message);

}  // namespace quillon
