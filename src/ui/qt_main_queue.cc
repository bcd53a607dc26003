#include "ui/qt_main_queue.h"

#include <QApplication>

#include <unistd.h>

namespace quillon {

void QtMainQueue::post(std::function<void()> task) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::run() {
  // The launch always ends inside a task; an event loop that stops anyway
  // ends the process as a finished launch would.
  QApplication::exec();
  _exit(0);
}

}  // namespace quillon
