// The desktop progress window and the critical alert under Qt's offscreen
// platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "ui/critical_alert.h"
#include "ui/qt_progress_window.h"

namespace quillon {
namespace {

const char* kThreeAndTwo = R"({"proxy-server":"socks5://h:1080","auto-timezone":true,"lang":"de",
  "auto-geo":false,"chrome-command-line":{"--proxy-server":"socks5://h:1","--gpu":1,"--a":"no"}})";
const QColor kTitle(231, 236, 243), kSubtitle(170, 179, 192), kPending(245, 158, 11),
    kRow(190, 200, 215), kRed(248, 113, 113);

QList<QLabel*> labelsOf(const QtProgressWindow& window) {
  return window.widget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
}

QColor colourOf(const QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

TEST(ProgressWindow, ContentHeightFollowsTheSummary) {
  const std::pair<const char*, int> cases[] = {{"null", 240},
                                               {R"({"lang":"de"})", 240},
                                               {R"({"lang":"de","auto-lang":1})", 254},
                                               {kThreeAndTwo, 338}};
  for (const auto& [config, height] : cases) {
    QtProgressWindow window(defaultSplashSteps(), Json::parse(config));
    EXPECT_EQ(window.widget()->minimumSize(), QSize(460, height)) << config;
    EXPECT_EQ(window.widget()->maximumSize(), QSize(460, height)) << config;
  }
}

// Frames with the origin at the bottom-left of the 338-point content.
TEST(ProgressWindow, LabelsHaveTheirFrameTextFontAndColour) {
  QtProgressWindow window(defaultSplashSteps(), Json::parse(kThreeAndTwo));
  window.updateStep(1, [](SplashStep& s) { s.status = "probing"; });
  using W = QFont::Weight;
  const std::tuple<int, const char*, QRect, int, W, QColor> expected[] = {
      {0, "Preparing Quillon Browser", {16, 298, 428, 24}, 16, W::DemiBold, kTitle},
      {1, "Auto-detecting persona settings\u2026", {16, 276, 428, 20}, 12, W::Normal, kSubtitle},
      {2, "\u23F3", {14, 246, 24, 20}, 14, W::DemiBold, kPending},
      {3, "Loading persona overlay", {40, 246, 220, 20}, 13, W::Normal, kTitle},
      {7, "probing", {260, 222, 184, 20}, 11, W::Normal, kSubtitle},
      {14, "--proxy-server  socks5://h:1", {16, 16, 428, 18}, 11, W::Normal, kRow},
      {16, "Raw Chromium switches (2)", {16, 52, 428, 18}, 11, W::Bold, kSubtitle},
      {17, "proxy-server   socks5://h:1080", {16, 82, 428, 18}, 11, W::Normal, kRow},
      {20, "Active overrides (3)", {16, 136, 428, 18}, 11, W::Bold, kSubtitle},
  };
  QList<QLabel*> labels = labelsOf(window);
  ASSERT_EQ(labels.size(), 21);
  for (const auto& [index, text, frame, size, weight, colour] : expected) {
    const QLabel* label = labels[index];
    EXPECT_EQ(label->text(), QString::fromUtf8(text));
    EXPECT_EQ(label->geometry(), frame.translated(0, 338 - 2 * frame.y() - frame.height())) << text;
    EXPECT_EQ(label->font().pixelSize(), size) << text;
    EXPECT_EQ(label->font().weight(), weight) << text;
    EXPECT_EQ(QFontInfo(label->font()).fixedPitch(), colour == kRow) << text;  // summary rows
    EXPECT_EQ(colourOf(label), colour) << text;
  }
}

TEST(ProgressWindow, StepRowsShowTheirStateAndCutLongStatusesInTheMiddle) {
  const QString status = "ip=203.0.113.77 tz=America/Argentina/Buenos_Aires lat=-34.6 lng=-58.38";
  const std::tuple<bool, bool, const char*, QColor, QColor> cases[] = {
      {false, false, "\u23F3", kPending, kSubtitle},
      {true, false, "\u2713", QColor(74, 222, 128), kSubtitle},
      {false, true, "\u00D7", kRed, kRed},
      {true, true, "\u00D7", kRed, kRed}};
  for (const auto& [done, failed, glyph, glyphColour, statusColour] : cases) {
    QtProgressWindow window(defaultSplashSteps(), std::nullopt);
    SplashStep step{"Renamed", status.toStdString(), done, failed};
    window.updateStep(kStepLaunch, [step](SplashStep& s) { s = step; });
    window.updateStep(4, [](SplashStep&) { ADD_FAILURE() << "a step beyond the rows changed"; });
    QList<QLabel*> labels = labelsOf(window);
    EXPECT_EQ(labels[11]->text() + labels[12]->text(), QString::fromUtf8(glyph) + "Renamed");
    EXPECT_EQ(colourOf(labels[11]), glyphColour) << glyph;
    EXPECT_EQ(colourOf(labels[13]), statusColour) << glyph;
    QStringList cut = labels[13]->text().split(QChar(0x2026));
    EXPECT_LE(labels[13]->fontMetrics().horizontalAdvance(labels[13]->text()), 184);
    EXPECT_TRUE(cut.size() == 2 && status.startsWith(cut[0]) && status.endsWith(cut[1]) &&
                cut[1].size() > 4)
        << labels[13]->text().toStdString();
  }
}

TEST(CriticalAlert, ShowsTheMessageAsPlainTextWithOneOkButton) {
  QStringList texts;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    for (QLabel* label : box->findChildren<QLabel*>())
      if (!label->text().isEmpty() && label->textFormat() == Qt::PlainText) texts << label->text();
    for (QAbstractButton* button : box->buttons()) texts << button->text();
    box->accept();
  });
  showCriticalAlert("Engine binary not found:\n/opt/<b>q</b>/engine");
  texts.sort();
  EXPECT_EQ(texts, QStringList({"Engine binary not found:\n/opt/<b>q</b>/engine\n\nReinstall "
                                "Quillon Browser to fix this.",
                                "OK", "Quillon Browser couldn't launch"}));
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
