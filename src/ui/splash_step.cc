#include "ui/splash_step.h"

namespace quillon {

std::vector<SplashStep> defaultSplashSteps() {
  return {{"Loading persona overlay", "", false, false},
          {"Discovering proxy egress IP", "", false, false},
          {"Applying anti-detect overrides", "", false, false},
          {"Launching Quillon Browser", "", false, false}};
}

bool applyStepChange(std::vector<SplashStep>& steps, size_t index, const StepChange& change) {
  if (index >= steps.size()) return false;
  change(steps[index]);
  return true;
}

}  // namespace quillon
