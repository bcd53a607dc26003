#include "ui/qt_progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

#include "ui/label_text.h"
#include "ui/summary.h"

namespace quillon {

namespace {

constexpr int kWidth = 460;
constexpr int kBaseHeight = 240;

const QColor kBackground(30, 33, 41);
const QColor kTitleColour(231, 236, 243);
const QColor kSubtitleColour(170, 179, 192);
const QColor kPendingColour(245, 158, 11);
const QColor kDoneColour(74, 222, 128);
const QColor kFailedColour(248, 113, 113);
const QColor kSummaryRowColour(190, 200, 215);

const QString kPendingGlyph = QString::fromUtf8("\u23F3");
const QString kDoneGlyph = QString::fromUtf8("\u2713");
const QString kFailedGlyph = QString::fromUtf8("\u00D7");

// Sizes are in logical pixels, the unit of every frame here, so that text
// fits its frame whatever the screen's dots per inch.
QFont systemFont(int size, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setPixelSize(size);
  font.setWeight(weight);
  return font;
}

QFont monospacedFont(int size) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(size);
  font.setWeight(QFont::Normal);
  return font;
}

void setColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

// The status column shortens long texts in the middle; the whole text stays
// in the tooltip.
void setStatusText(QLabel* label, const std::string& status) {
  QString text = QString::fromStdString(singleLineText(status));
  label->setToolTip(text);
  label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
}

// The summary rows' font: 11 pixels, or the largest smaller size at which
// every row fits its frame, measured with the font as it is drawn (a 28
// character key and a 36 character value are 66 columns, wider than 428
// pixels in some monospaced fonts at 11). Below 7 pixels a row that still does
// not fit is cut at its end with an ellipsis.
constexpr int kSmallestRowFont = 7;

QFont summaryRowFont(const std::vector<SummaryLine>& lines) {
  QFont font = monospacedFont(11);
  auto fits = [&font](const SummaryLine& line) {
    return line.header ||
           QFontMetrics(font).horizontalAdvance(QString::fromStdString(line.text)) <= line.width;
  };
  while (font.pixelSize() > kSmallestRowFont && !std::all_of(lines.begin(), lines.end(), fits))
    font.setPixelSize(font.pixelSize() - 1);
  return font;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name),
      nullptr);
  xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  free(reply);
  return atom;
}

// Asks an X11 desktop to leave the window out of its taskbar and pager. Qt
// has no flag for it; the state is set before the window is first mapped.
void skipTaskbarOnX11(QWidget* window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* connection = x11->connection();
  xcb_atom_t states[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                         internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(window->winId()),
                      internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
}

}  // namespace

// The top-level widget: closing it is the user cancelling the launch.
class SplashWidget : public QWidget {
 public:
  explicit SplashWidget(std::function<void()> onClose) : onClose_(std::move(onClose)) {}

  // A label at a frame given with the origin at the bottom-left of the
  // content and y growing upward.
  QLabel* addLabel(const QString& text, const QFont& font, const QColor& colour,
                   Qt::Alignment alignment, int x, int y, int width, int height) {
    auto* label = new QLabel(text, this);
    label->setFont(font);
    setColour(label, colour);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setGeometry(x, this->height() - y - height, width, height);
    return label;
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->accept();
    onClose_();
  }

 private:
  std::function<void()> onClose_;
};

QtProgressWindow::QtProgressWindow(std::vector<SplashStep> steps,
                                   const std::optional<Json>& summarySource)
    : steps_(std::move(steps)),
      window_(std::make_unique<SplashWidget>([this] { notifyClosed(); })) {
  SummaryKeys keys = collectSummaryKeys(summarySource);
  int summary = summaryHeight(keys);
  int extra = std::max(0, summary > 0 ? summary + 16 - 60 : -60);

  // Titled and closable only, above normal windows, a tool window so that it
  // gets no taskbar entry.
  window_->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  window_->setWindowTitle(QString::fromUtf8("Preparing Quillon Browser\u2026"));
  window_->setFixedSize(kWidth, kBaseHeight + extra);
  QPalette palette = window_->palette();
  palette.setColor(QPalette::Window, kBackground);
  window_->setPalette(palette);
  window_->setAutoFillBackground(true);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window_->move(screen->availableGeometry().center() - window_->rect().center());

  window_->addLabel("Preparing Quillon Browser", systemFont(16, QFont::DemiBold), kTitleColour,
                    Qt::AlignLeft, 16, 200 + extra, 428, 24);
  window_->addLabel(QString::fromUtf8("Auto-detecting persona settings\u2026"),
                    systemFont(12, QFont::Normal), kSubtitleColour, Qt::AlignLeft, 16, 178 + extra,
                    428, 20);
  for (size_t i = 0; i < steps_.size(); ++i) {
    int y = 148 + extra - 24 * static_cast<int>(i);
    Row row;
    row.glyph = window_->addLabel(kPendingGlyph, systemFont(14, QFont::DemiBold), kPendingColour,
                                  Qt::AlignHCenter, 14, y, 24, 20);
    row.label = window_->addLabel(QString::fromStdString(singleLineText(steps_[i].label)),
                                  systemFont(13, QFont::Normal), kTitleColour, Qt::AlignLeft, 40, y,
                                  220, 20);
    row.status = window_->addLabel("", systemFont(11, QFont::Normal), kSubtitleColour,
                                   Qt::AlignRight, 260, y, 184, 20);
    rows_.push_back(row);
  }
  std::vector<SummaryLine> lines = layoutSummary(summarySource, keys);
  QFont rowFont = summaryRowFont(lines);
  for (const SummaryLine& line : lines) {
    QFont font = line.header ? systemFont(11, QFont::Bold) : rowFont;
    QString text = QFontMetrics(font).elidedText(QString::fromStdString(line.text), Qt::ElideRight,
                                                 line.width);
    window_->addLabel(text, font, line.header ? kSubtitleColour : kSummaryRowColour, Qt::AlignLeft,
                      line.x, line.y, line.width, line.height);
  }
}

QtProgressWindow::~QtProgressWindow() = default;

void QtProgressWindow::show() {
  if (gone_) return;
  if (!window_->isVisible()) skipTaskbarOnX11(window_.get());
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void QtProgressWindow::updateStep(size_t index, const StepChange& change) {
  if (applyStepChange(steps_, index, change) && !gone_) refresh();
}

void QtProgressWindow::hide() {
  if (!gone_) window_->hide();
}

bool QtProgressWindow::isOnScreen() const {
  return !gone_ && window_->isVisible();
}

void QtProgressWindow::forget() {
  gone_ = true;
}

QWidget* QtProgressWindow::widget() const {
  return window_.get();
}

void QtProgressWindow::refresh() {
  // Labels belong to the main thread; touching them elsewhere is a bug that
  // must not go unnoticed.
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) abort();
  for (size_t i = 0; i < steps_.size() && i < rows_.size(); ++i) {
    const SplashStep& step = steps_[i];
    const Row& row = rows_[i];
    if (step.failed) {
      row.glyph->setText(kFailedGlyph);
      setColour(row.glyph, kFailedColour);
    } else if (step.done) {
      row.glyph->setText(kDoneGlyph);
      setColour(row.glyph, kDoneColour);
    } else {
      row.glyph->setText(kPendingGlyph);
      setColour(row.glyph, kPendingColour);
    }
    row.label->setText(QString::fromStdString(singleLineText(step.label)));
    setStatusText(row.status, step.status);
    setColour(row.status, step.failed ? kFailedColour : kSubtitleColour);
  }
}

}  // namespace quillon
