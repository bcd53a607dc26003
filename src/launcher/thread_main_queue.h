// The main queue of a launch without a window toolkit: the main thread waits
// for tasks that other threads post and runs them in posting order.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "ui/main_queue.h"

namespace quillon {

class ThreadMainQueue : public MainQueue {
 public:
  void post(std::function<void()> task) override;
  [[noreturn]] void run() override;

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace quillon
