// The main thread's queue: work that other threads hand to the main thread
// (step updates, the launch after discovery) runs there, in posting order.
#pragma once

#include <functional>

namespace quillon {

class MainQueue {
 public:
  virtual ~MainQueue() = default;

  // Queues task to run on the main thread; callable from any thread.
  virtual void post(std::function<void()> task) = 0;

  // Runs queued tasks on the calling (main) thread until one ends the
  // process; the discovery path always ends inside a task.
  [[noreturn]] virtual void run() = 0;
};

}  // namespace quillon
