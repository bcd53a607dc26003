#include "ui/critical_alert.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace quillon {

void showCriticalAlert(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, "Quillon Browser", "Quillon Browser couldn't launch",
                  QMessageBox::Ok);
  box.setInformativeText(QString::fromStdString(message) +
                         "\n\nReinstall Quillon Browser to fix this.");
  box.button(QMessageBox::Ok)->setText("OK");
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.show();
  box.raise();
  box.activateWindow();
  box.exec();
}

}  // namespace quillon
