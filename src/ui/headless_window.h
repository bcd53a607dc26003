// The progress window of a launch without a display: it keeps the steps'
// state but draws nothing, so discovery runs without its pacing pauses.
#pragma once

#include <vector>

#include "ui/progress_window.h"

namespace quillon {

class HeadlessWindow : public ProgressWindow {
 public:
  void show() override {}
  void updateStep(size_t index, const StepChange& change) override;
  void hide() override {}
  bool isOnScreen() const override { return false; }

  const std::vector<SplashStep>& steps() const { return steps_; }

 private:
  std::vector<SplashStep> steps_ = defaultSplashSteps();
};

}  // namespace quillon
