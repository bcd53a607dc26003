// The main queue on a desktop: tasks posted from any thread run in the Qt
// event loop of the main thread, in posting order.
#pragma once

#include "launcher/main_queue.h"

namespace quillon {

class QtMainQueue : public MainQueue {
 public:
  // Needs a QApplication, created before the first post.
  void post(std::function<void()> task) override;
  [[noreturn]] void run() override;
};

}  // namespace quillon
