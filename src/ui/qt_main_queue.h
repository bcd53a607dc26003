// The main queue on a desktop: tasks posted from any thread run in the Qt
// event loop of the main thread, in posting order. When the display goes away
// under the window, the queue carries on without Qt.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "ui/main_queue.h"

namespace quillon {

class QtMainQueue : public MainQueue {
 public:
  // Needs a QApplication, created before the first post.
  void post(std::function<void()> task) override;
  [[noreturn]] void run() override;

  // For a launch whose display has gone: from now on the calling thread runs
  // the tasks in a plain loop, those posted before first, and Qt runs none.
  [[noreturn]] void runWithoutToolkit();

 private:
  // In the Qt event loop: the tasks posted so far.
  void runPosted();

  // The queue itself; a Qt event per post only wakes the event loop.
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool withoutToolkit_ = false;
};

}  // namespace quillon
