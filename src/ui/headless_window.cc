#include "ui/headless_window.h"

namespace quillon {

void HeadlessWindow::updateStep(size_t index, const StepChange& change) {
  applyStepChange(steps_, index, change);
}

}  // namespace quillon
