// The progress window on a desktop, drawn with Qt Widgets: title, subtitle,
// one row per step (glyph, name, status) and the overrides summary below.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "config/json_read.h"
#include "ui/progress_window.h"

class QLabel;
class QWidget;

namespace quillon {

class SplashWidget;

class QtProgressWindow : public ProgressWindow {
 public:
  // Builds and lays out the window for these steps and the launch
  // configuration's top-level object (none when it could not be read). The
  // window is not shown yet. Needs a QApplication.
  QtProgressWindow(std::vector<SplashStep> steps, const std::optional<Json>& summarySource);
  ~QtProgressWindow() override;

  void show() override;
  void updateStep(size_t index, const StepChange& change) override;
  void hide() override;
  bool isOnScreen() const override;

  // The display has gone: from now on the window is treated as closed by no
  // one, and no call reaches Qt (show, updateStep and hide do nothing).
  void forget();

  // The top-level widget, for tests and screenshots.
  QWidget* widget() const;

 private:
  struct Row {
    QLabel* glyph;
    QLabel* label;
    QLabel* status;
  };

  // Copies the state of every step into its row.
  void refresh();

  std::vector<SplashStep> steps_;
  std::unique_ptr<SplashWidget> window_;
  std::vector<Row> rows_;
  std::atomic<bool> gone_{false};
};

}  // namespace quillon
