// The steps that the progress window shows while a launch discovers its
// persona: one row per step, with a state derived from two flags.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillon {

struct SplashStep {
  std::string label;   // the step's name
  std::string status;  // short status text; empty until the step reports
  bool done = false;
  bool failed = false;  // independent of done; a failed step shows as failed
};

// A change to one step, made on the main thread.
using StepChange = std::function<void(SplashStep&)>;

// Indexes of the four steps of a discovery launch.
inline constexpr size_t kStepOverlay = 0;
inline constexpr size_t kStepDiscover = 1;
inline constexpr size_t kStepOverrides = 2;
inline constexpr size_t kStepLaunch = 3;

// "Loading persona overlay", "Discovering proxy egress IP", "Applying
// anti-detect overrides", "Launching Quillon Browser": pending, no status.
std::vector<SplashStep> defaultSplashSteps();

// Applies change to steps[index]; false (and nothing changed) when the index
// is beyond the steps.
bool applyStepChange(std::vector<SplashStep>& steps, size_t index, const StepChange& change);

}  // namespace quillon
