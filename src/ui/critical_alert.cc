#include "ui/critical_alert.h"

#include <QAbstractButton>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTimer>

namespace quillon {

void showCriticalAlert(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, "Quillon Browser", "Quillon Browser couldn't launch",
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setInformativeText(QString::fromStdString(message) +
                         "\n\nReinstall Quillon Browser to fix this.");
  // The message holds paths from the environment: never read it as markup.
  if (auto* informative = box.findChild<QLabel*>("qt_msgbox_informativelabel"))
    informative->setTextFormat(Qt::PlainText);
  if (auto* heading = box.findChild<QLabel*>("qt_msgbox_label")) {
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
  }
  // Wide enough that an engine path rarely wraps.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(440, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
  box.button(QMessageBox::Ok)->setText("OK");
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  // In front once it is on screen; showing it before exec would map it once
  // without and once with its modality.
  QTimer::singleShot(0, &box, [&box] {
    box.raise();
    box.activateWindow();
  });
  box.exec();
}

}  // namespace quillon
