// What the discovery path asks of a progress window, whatever draws it: the
// window without a display (nothing drawn) or the desktop one. Every call is
// made on the main thread.
#pragma once

#include <cstddef>
#include <functional>

#include "ui/splash_step.h"

namespace quillon {

class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;

  // Puts the window on screen, in front, with the default steps.
  virtual void show() = 0;

  // Applies change to the step at index and redraws it; an index beyond the
  // steps changes nothing.
  virtual void updateStep(size_t index, const StepChange& change) = 0;

  // Takes the window off the screen without closing it (no close callback).
  virtual void hide() = 0;

  // True when the user sees each step: the discovery pauses between steps
  // exist so that every state is drawn, and are skipped without a screen.
  virtual bool isOnScreen() const = 0;

  // Called once on the main thread when the user closes the window.
  void setCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

 protected:
  void notifyClosed() {
    if (closeHandler_) closeHandler_();
  }

 private:
  std::function<void()> closeHandler_;
};

}  // namespace quillon
