// The progress window and the critical alert under Qt's offscreen platform.
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

const char* kThreeAndTwo = R"({"proxy-server":"socks5://u:pw@h:1080","auto-timezone":true,
  "lang":"de","auto-geo":false,"chrome-command-line":{"--proxy-server":"socks5://a:b@c@h:1",
  "--gpu":1,"--a":"no"}})";
const QColor kTitle(231, 236, 243), kSubtitle(170, 179, 192), kPending(245, 158, 11),
    kDone(74, 222, 128), kRow(190, 200, 215), kRed(248, 113, 113);
const char* kLong = "ip=203.0.113.77 tz=America/Argentina/Buenos_Aires lat=-34.6 lng=-58.38";

TEST(ProgressWindow, ContentSizeIsFixedAndFollowsTheSummary) {
  const std::pair<const char*, int> cases[] = {
      {"null", 240}, {R"({"a":1})", 240}, {R"({"a":1,"b":1})", 254}, {kThreeAndTwo, 338}};
  for (const auto& [config, height] : cases) {
    QtProgressWindow window(defaultSplashSteps(), Json::parse(config));
    EXPECT_EQ(window.widget()->minimumSize(), QSize(460, height)) << config;
    EXPECT_EQ(window.widget()->maximumSize(), QSize(460, height)) << config;
  }
}

// Steps pending (a long status), done, failed and both; frames from the bottom-left.
TEST(ProgressWindow, LabelsHaveTheirFrameTextFontAndColourPerStepState) {
  QtProgressWindow window(defaultSplashSteps(), Json::parse(kThreeAndTwo));
  for (size_t i = 0; i < 4; ++i)
    window.updateStep(i, [i](SplashStep& s) { s = {"Step", i ? "on" : kLong, i % 2 == 1, i > 1}; });
  window.updateStep(4, [](SplashStep&) { ADD_FAILURE() << "a step beyond the rows changed"; });
  using W = QFont::Weight;
  // clang-format off
  const std::tuple<int, const char*, QRect, int, W, QColor> expected[] = {
      {0, "Preparing Quillon Browser", {16, 298, 428, 24}, 16, W::DemiBold, kTitle},
      {1, "Auto-detecting persona settings\u2026", {16, 276, 428, 20}, 12, W::Normal, kSubtitle},
      {2, "\u23F3", {14, 246, 24, 20}, 14, W::DemiBold, kPending},
      {3, "Step", {40, 246, 220, 20}, 13, W::Normal, kTitle},
      {5, "\u2713", {14, 222, 24, 20}, 14, W::DemiBold, kDone},
      {7, "on", {260, 222, 184, 20}, 11, W::Normal, kSubtitle},
      {8, "\u00D7", {14, 198, 24, 20}, 14, W::DemiBold, kRed},
      {10, "on", {260, 198, 184, 20}, 11, W::Normal, kRed},
      {11, "\u00D7", {14, 174, 24, 20}, 14, W::DemiBold, kRed},
      {14, "--proxy-server  socks5://a:\u2022\u2022\u2022\u2022@h:1", {16, 16, 428, 18}, 11, W::Normal, kRow},
      {16, "Raw Chromium switches (2)", {16, 52, 428, 18}, 11, W::Bold, kSubtitle},
      {17, "proxy-server   socks5://u:\u2022\u2022\u2022\u2022@h:1080", {16, 82, 428, 18}, 11, W::Normal, kRow},
      {20, "Active overrides (3)", {16, 136, 428, 18}, 11, W::Bold, kSubtitle}};
  // clang-format on
  QList<QLabel*> labels = window.widget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(labels.size(), 21);
  for (const auto& [index, text, frame, size, weight, colour] : expected) {
    const QLabel* label = labels[index];
    EXPECT_EQ(label->text(), QString::fromUtf8(text)) << index;
    EXPECT_EQ(label->geometry(), frame.translated(0, 338 - 2 * frame.y() - frame.height())) << text;
    EXPECT_EQ(label->font().pixelSize(), size) << text;
    EXPECT_EQ(label->font().weight(), weight) << text;
    EXPECT_EQ(QFontInfo(label->font()).fixedPitch(), colour == kRow) << text;  // summary rows
    EXPECT_EQ(label->palette().color(QPalette::WindowText), colour) << index;
  }
  QStringList cut = labels[4]->text().split(QChar(0x2026));  // in the middle, to its width
  EXPECT_LE(labels[4]->fontMetrics().horizontalAdvance(labels[4]->text()), 184);
  EXPECT_TRUE(cut.size() == 2 && QString(kLong).startsWith(cut[0]) &&
              QString(kLong).endsWith(cut[1]) && cut[1].size() > 4);
}

// The widest row (a 28-character key, a 36-character value) and line breaks: every label draws its
// whole text on one line inside its frame.
TEST(ProgressWindow, EveryLabelFitsItsFrameOnOneLine) {
  const std::string key(28, 'W'), value = "0123456789ABCDEF0123456789ABCDEF012\n";
  QtProgressWindow window(defaultSplashSteps(), Json{{key, value}, {"b", "x\u2028y\rz\u2029"}});
  window.updateStep(1, [](SplashStep& s) { s.status = "203.0.113.7\nline two"; });
  QList<QLabel*> labels = window.widget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(labels.size(), 17);
  EXPECT_EQ(labels[15]->text().toStdString(), key + "  " + value.substr(0, 35) + "\uFFFD");
  EXPECT_EQ(labels[14]->text().toStdString(), "b" + std::string(29, ' ') + "x\uFFFDy\uFFFDz\uFFFD");
  for (const QLabel* label : labels) {
    QSize needed = label->sizeHint();
    EXPECT_TRUE(needed.width() <= label->width() && needed.height() <= label->height())
        << label->text().toStdString() << " needs " << needed.width() << "x" << needed.height();
  }
}

TEST(CriticalAlert, ShowsTheMessageAsPlainTextWithOneOkButton) {
  QStringList texts;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    for (QLabel* label : box->findChildren<QLabel*>())
      if (label->textFormat() == Qt::PlainText) texts << label->text();
    for (QAbstractButton* button : box->buttons()) texts << button->text();
    box->accept();
  });
  showCriticalAlert("<b>x</b>");
  texts.sort();
  EXPECT_EQ(texts, QStringList({"<b>x</b>\n\nReinstall Quillon Browser to fix this.", "OK",
                                "Quillon Browser couldn't launch"}));
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);  // CTest also runs it on a real display
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
