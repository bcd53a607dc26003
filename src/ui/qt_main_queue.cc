#include "ui/qt_main_queue.h"

#include <QApplication>

#include <unistd.h>

namespace quillon {

void QtMainQueue::post(std::function<void()> task) {
  bool withoutToolkit = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    withoutToolkit = withoutToolkit_;
  }
  ready_.notify_one();
  if (!withoutToolkit)
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { runPosted(); }, Qt::QueuedConnection);
}

void QtMainQueue::run() {
  // The launch always ends inside a task; an event loop that stops anyway
  // ends the process as a finished launch would.
  QApplication::exec();
  _exit(0);
}

void QtMainQueue::runPosted() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (withoutToolkit_ || tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void QtMainQueue::runWithoutToolkit() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      withoutToolkit_ = true;
      ready_.wait(lock, [this] { return !tasks_.empty(); });
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace quillon
