// The desktop progress window under Qt's offscreen platform: its size for
// each summary, every label's frame, text, font and colour, and the glyphs
// and colours of the step states.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "ui/critical_alert.h"
#include "ui/qt_progress_window.h"

namespace quillon {
namespace {

const char* kThreeAndTwo = R"({"proxy-server":"socks5://127.0.0.1:1080","auto-timezone":true,
  "lang":"de","auto-geo":false,"chrome-command-line":{"--proxy-server":"socks5://127.0.0.1:1080",
  "--disable-gpu":true,"--mute-audio":"no"}})";

std::vector<QLabel*> labelsOf(const QtProgressWindow& window) {
  QList<QLabel*> labels = window.widget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  return {labels.begin(), labels.end()};
}

QColor colourOf(const QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

// A frame with the origin at the bottom-left of the content, y upward.
QRect fromBottomLeft(const QWidget* window, int x, int y, int width, int height) {
  return QRect(x, window->height() - y - height, width, height);
}

TEST(ProgressWindow, ContentGrowsWithTheSummary) {
  const std::pair<const char*, int> cases[] = {
      {nullptr, 240},
      {R"({"auto-geo":false,"_x":true,"chrome-command-line":{"--a":"off"}})", 240},
      {R"({"lang":"de"})", 240},
      {R"({"lang":"de","auto-lang":1})", 254},
      {R"({"chrome-command-line":{"--a":1,"--b":1}})", 254},
      {kThreeAndTwo, 338},
  };
  for (const auto& [config, height] : cases) {
    SCOPED_TRACE(config ? config : "no configuration");
    QtProgressWindow window(defaultSplashSteps(),
                            config ? std::optional<Json>(Json::parse(config)) : std::nullopt);
    QWidget* widget = window.widget();
    EXPECT_EQ(widget->minimumSize(), QSize(460, height));
    EXPECT_EQ(widget->maximumSize(), QSize(460, height));
    // Everything above the summary keeps its distance to the top.
    EXPECT_EQ(labelsOf(window)[0]->geometry(), QRect(16, 16, 428, 24));
    EXPECT_EQ(labelsOf(window)[2]->geometry(), QRect(14, 72, 24, 20));
  }
}

TEST(ProgressWindow, EveryLabelHasItsFrameTextFontAndColour) {
  QtProgressWindow window(defaultSplashSteps(), Json::parse(kThreeAndTwo));
  window.updateStep(1, [](SplashStep& s) { s.status = "probing"; });
  const QColor title(231, 236, 243), subtitle(170, 179, 192), pending(245, 158, 11),
      row(190, 200, 215);
  enum Face { sans, sansBold, mono };
  struct Expected {
    QString text;
    int x, y, width, height, size;
    Face face;
    int weight;
    QColor colour;
  };
  const QString hourglass = QString::fromUtf8("\u23F3");
  const Expected expected[] = {
      {"Preparing Quillon Browser", 16, 298, 428, 24, 16, sans, QFont::DemiBold, title},
      {QString::fromUtf8("Auto-detecting persona settings\u2026"), 16, 276, 428, 20, 12, sans,
       QFont::Normal, subtitle},
      {hourglass, 14, 246, 24, 20, 14, sans, QFont::DemiBold, pending},
      {"Loading persona overlay", 40, 246, 220, 20, 13, sans, QFont::Normal, title},
      {"", 260, 246, 184, 20, 11, sans, QFont::Normal, subtitle},
      {hourglass, 14, 222, 24, 20, 14, sans, QFont::DemiBold, pending},
      {"Discovering proxy egress IP", 40, 222, 220, 20, 13, sans, QFont::Normal, title},
      {"probing", 260, 222, 184, 20, 11, sans, QFont::Normal, subtitle},
      {hourglass, 14, 198, 24, 20, 14, sans, QFont::DemiBold, pending},
      {"Applying anti-detect overrides", 40, 198, 220, 20, 13, sans, QFont::Normal, title},
      {"", 260, 198, 184, 20, 11, sans, QFont::Normal, subtitle},
      {hourglass, 14, 174, 24, 20, 14, sans, QFont::DemiBold, pending},
      {"Launching Quillon Browser", 40, 174, 220, 20, 13, sans, QFont::Normal, title},
      {"", 260, 174, 184, 20, 11, sans, QFont::Normal, subtitle},
      // The summary, from the bottom up.
      {"--proxy-server  socks5://127.0.0.1:1080", 16, 16, 428, 18, 11, mono, QFont::Normal, row},
      {"--disable-gpu   true", 16, 34, 428, 18, 11, mono, QFont::Normal, row},
      {"Raw Chromium switches (2)", 16, 52, 428, 18, 11, sansBold, QFont::Bold, subtitle},
      {"proxy-server   socks5://127.0.0.1:1080", 16, 82, 428, 18, 11, mono, QFont::Normal, row},
      {"lang           de", 16, 100, 428, 18, 11, mono, QFont::Normal, row},
      {"auto-timezone  true", 16, 118, 428, 18, 11, mono, QFont::Normal, row},
      {"Active overrides (3)", 16, 136, 428, 18, 11, sansBold, QFont::Bold, subtitle},
  };
  std::vector<QLabel*> labels = labelsOf(window);
  ASSERT_EQ(labels.size(), std::size(expected));
  const QWidget* widget = window.widget();
  for (size_t i = 0; i < labels.size(); ++i) {
    const Expected& e = expected[i];
    const QLabel* label = labels[i];
    SCOPED_TRACE(e.text.toStdString());
    EXPECT_EQ(label->text(), e.text);
    EXPECT_EQ(label->geometry(), fromBottomLeft(widget, e.x, e.y, e.width, e.height));
    EXPECT_EQ(label->font().pixelSize(), e.size);
    EXPECT_EQ(label->font().weight(), e.weight);
    EXPECT_EQ(QFontInfo(label->font()).fixedPitch(), e.face == mono);
    EXPECT_EQ(colourOf(label), e.colour);
  }
}

TEST(ProgressWindow, StepStatesShowTheirGlyphAndColours) {
  struct Case {
    bool done, failed;
    const char* glyph;
    QColor glyphColour, statusColour;
  };
  const QColor subtitle(170, 179, 192), red(248, 113, 113);
  const Case cases[] = {
      {false, false, "\u23F3", QColor(245, 158, 11), subtitle},
      {true, false, "\u2713", QColor(74, 222, 128), subtitle},
      {false, true, "\u00D7", red, red},
      {true, true, "\u00D7", red, red},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.glyph);
    QtProgressWindow window(defaultSplashSteps(), std::nullopt);
    window.updateStep(kStepLaunch, [&](SplashStep& s) {
      s.done = c.done;
      s.failed = c.failed;
      s.status = "WARN: PROXY_TIMEOUT";
      s.label = "Renamed";
    });
    std::vector<QLabel*> labels = labelsOf(window);
    EXPECT_EQ(labels[11]->text(), QString::fromUtf8(c.glyph));
    EXPECT_EQ(colourOf(labels[11]), c.glyphColour);
    EXPECT_EQ(labels[12]->text(), "Renamed");
    EXPECT_EQ(labels[13]->text(), "WARN: PROXY_TIMEOUT");
    EXPECT_EQ(colourOf(labels[13]), c.statusColour);
    EXPECT_EQ(labels[2]->text(), QString::fromUtf8("\u23F3")) << "other steps untouched";
  }
}

TEST(ProgressWindow, StepsBeyondTheRowsChangeNothingAndLongStatusesAreCutInTheMiddle) {
  QtProgressWindow window(defaultSplashSteps(), std::nullopt);
  bool called = false;
  window.updateStep(4, [&](SplashStep&) { called = true; });
  EXPECT_FALSE(called);

  const std::string status =
      "ip=203.0.113.77 tz=America/Argentina/Buenos_Aires lang=es "
      "lat=-34.603722 lng=-58.381592";
  window.updateStep(kStepOverrides, [&](SplashStep& s) { s.status = status; });
  QLabel* label = labelsOf(window)[10];
  QString shown = label->text();
  EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), 184);
  qsizetype cut = shown.indexOf(QChar(0x2026));
  ASSERT_GT(cut, 0) << shown.toStdString();
  EXPECT_TRUE(QString::fromStdString(status).startsWith(shown.left(cut)));
  EXPECT_TRUE(QString::fromStdString(status).endsWith(shown.mid(cut + 1)));
  EXPECT_GT(shown.mid(cut + 1).size(), 4) << "the end of the text stays visible";
}

TEST(CriticalAlert, ShowsTheMessageAsPlainTextWithOneOkButton) {
  QStringList texts;
  QStringList buttons;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    for (QLabel* label : box->findChildren<QLabel*>())
      if (!label->text().isEmpty() && label->textFormat() == Qt::PlainText) texts << label->text();
    for (QAbstractButton* button : box->buttons()) buttons << button->text();
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    box->accept();
  });
  showCriticalAlert("Engine binary not found:\n/opt/<b>q</b>/engine");
  texts.sort();
  EXPECT_EQ(texts, QStringList({"Engine binary not found:\n/opt/<b>q</b>/engine\n\nReinstall "
                                "Quillon Browser to fix this.",
                                "Quillon Browser couldn't launch"}));
  EXPECT_EQ(buttons, QStringList{"OK"});
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
