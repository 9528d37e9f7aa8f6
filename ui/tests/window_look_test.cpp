// How the window looks on the screen it starts on: the screen class for the
// screen's free area, a window that ends with its status bar, every status
// panel in sight, boxes that cover the chart, and captions shown whole.
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <cstdlib>

#include "chart/ImageCanvas.h"
#include "ui/ChartView.h"
#include "ui/MainWindowLayout.h"
#include "ui/SessionTexts.h"
#include "ui/StatusBar.h"
#include "ui/WindowGeometry.h"
#include "window_support.h"

namespace {

// ---- Screen class -----------------------------------------------------------

struct ScreenSizeCase {
  QSize screen;
  ScreenClass expected;
};

void PrintTo(const ScreenSizeCase& c, std::ostream* os) { *os << c.screen.width() << "x" << c.screen.height(); }

class ScreenClassForScreenSize : public ::testing::TestWithParam<ScreenSizeCase> {};

TEST_P(ScreenClassForScreenSize, TakesTheLargestWindowThatFitsTheScreen) {
  const ScreenSizeCase& c = GetParam();
  EXPECT_EQ(ScreenClassFor(c.screen.width(), c.screen.height()), c.expected);

  PrivateRuntimeDir runtime;
  FakeDialogs dialogs;
  TForm1 form(dialogs, c.screen);
  EXPECT_EQ(form.Screen(), c.expected);
  const WindowGeometry g = WindowGeometryFor(c.expected);
  EXPECT_EQ(form.width(), g.Width);
  // Where the class's window fits, the whole window lies on the screen.
  if (g.Width <= c.screen.width() && g.Height <= c.screen.height()) {
    EXPECT_LE(form.height(), c.screen.height());
  }
}

INSTANTIATE_TEST_SUITE_P(
    FakeScreens, ScreenClassForScreenSize,
    ::testing::Values(ScreenSizeCase{{1366, 768}, ScreenClass::Medium},  // a laptop: Wide runs off its bottom
                      ScreenSizeCase{{1366, 740}, ScreenClass::Narrow},  // the same with a desktop panel
                      ScreenSizeCase{{1280, 1024}, ScreenClass::Wide},
                      ScreenSizeCase{{1920, 1080}, ScreenClass::ExtraWide},
                      ScreenSizeCase{{2560, 1440}, ScreenClass::ExtraWide},
                      ScreenSizeCase{{1920, 1020}, ScreenClass::Wide},  // a tall desktop panel
                      ScreenSizeCase{{1919, 1200}, ScreenClass::Wide}, ScreenSizeCase{{1280, 999}, ScreenClass::Medium},
                      ScreenSizeCase{{1024, 768}, ScreenClass::Medium},
                      ScreenSizeCase{{1100, 1024}, ScreenClass::Medium},  // as the width alone chose it
                      ScreenSizeCase{{1010, 768}, ScreenClass::Narrow}, ScreenSizeCase{{800, 600}, ScreenClass::Narrow},
                      ScreenSizeCase{{640, 480}, ScreenClass::Narrow}));  // nothing fits: the smallest

// ---- Status bar panels ------------------------------------------------------

struct FitCase {
  const char* what;
  std::array<int, 7> widths;
  int room;
  std::array<int, 7> expected;
};

TEST(StatusPanelWidths, WidestPanelsShrinkToOneWidthAndTheClockKeepsItsOwn) {
  const FitCase cases[] = {
      {"fits: unchanged", {135, 185, 185, 155, 145, 355, 75}, 1274, {135, 185, 185, 155, 145, 355, 75}},
      {"fits exactly", {100, 100, 100, 100, 100, 100, 100}, 700, {100, 100, 100, 100, 100, 100, 100}},
      {"the Narrow class's bar", {115, 125, 175, 75, 255, 50, 100}, 794, {115, 125, 165, 75, 164, 50, 100}},
      {"one panel too wide", {50, 50, 50, 50, 50, 400, 50}, 500, {50, 50, 50, 50, 50, 200, 50}},
      {"no room beside the clock", {60, 60, 60, 60, 60, 60, 100}, 130, {5, 5, 5, 5, 5, 5, 100}},
  };
  for (const FitCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::array<int, 7> fitted = FitPanelWidths(c.widths, c.room, 6);
    EXPECT_EQ(fitted, c.expected);
    int sum = 0;
    for (int w : fitted) sum += w;
    EXPECT_LE(sum, std::max(c.room, c.widths[6]));
  }
}

TEST(StatusPanelWidths, TheAcquisitionStatusAndTheClockBothKeepTheirWidths) {
  // The Narrow class's bar with the acquisition status at the room of its
  // longest text: the widest others give it up.
  EXPECT_EQ(FitPanelWidths({115, 125, 175, 75, 255, 168, 100}, 794, {5, 6}),
            (std::array<int, 7>{113, 113, 113, 75, 112, 168, 100}));
  EXPECT_EQ(FitPanelWidths({60, 60, 60, 60, 60, 60, 100}, 130, {5, 6}), (std::array<int, 7>{0, 0, 0, 0, 0, 60, 100}));
  EXPECT_EQ(FitPanelWidths({135, 185, 185, 155, 145, 355, 75}, 1274, {5, 6}),
            (std::array<int, 7>{135, 185, 185, 155, 145, 355, 75}));
}

struct ClassCase {
  int screenWidth;
  ScreenClass screen;
};

void PrintTo(const ClassCase& c, std::ostream* os) { *os << "screen " << c.screenWidth; }

class WindowOfClass : public ::testing::TestWithParam<ClassCase> {
 protected:
  void SetUp() override {
    runtime = std::make_unique<PrivateRuntimeDir>();
    form = std::make_unique<TForm1>(dialogs, GetParam().screenWidth);
    form->show();
    ASSERT_TRUE(WaitUntil([&] { return form->isVisible(); }));
    ASSERT_EQ(form->Screen(), GetParam().screen);
  }
  void TearDown() override {
    form.reset();
    runtime.reset();
  }

  std::unique_ptr<PrivateRuntimeDir> runtime;
  FakeDialogs dialogs;
  std::unique_ptr<TForm1> form;
};

TEST_P(WindowOfClass, EndsWithItsStatusBarAndShowsEveryPanelWhole) {
  const WindowGeometry g = WindowGeometryFor(GetParam().screen);
  auto* bar = form->findChild<TStatusBar*>("StatusBar1");
  ASSERT_TRUE(bar);
  // No strip of nothing below the bar.
  EXPECT_EQ(bar->geometry().bottom(), form->rect().bottom());
  EXPECT_EQ(form->size(), QSize(g.Width, g.ClientHeight()));
  int right = 0;
  for (int i = 0; i < TStatusBar::kPanelCount; ++i) {
    SCOPED_TRACE(i);
    QLabel* panel = bar->Panel(i);
    const QRect onWindow(panel->mapTo(form.get(), QPoint(0, 0)), panel->size());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_GT(panel->width(), 0);
    EXPECT_TRUE(form->rect().contains(onWindow)) << onWindow.x() << "+" << onWindow.width();
    EXPECT_GE(onWindow.left(), right);  // side by side, none over another
    right = onWindow.right() + 1;
  }
  EXPECT_EQ(bar->PanelWidth(6), WindowGeometryFor(GetParam().screen).PanelWidths[6]);
}

// What a caption needs beside its text, and the room the control gives it.
int TextRoom(QWidget* w, const QString& text) {
  QStyle* style = w->style();
  if (auto* check = qobject_cast<QCheckBox*>(w)) {
    QStyleOptionButton opt;
    opt.initFrom(check);
    opt.text = text;
    return style->subElementRect(QStyle::SE_CheckBoxContents, &opt, check).width();
  }
  if (auto* radio = qobject_cast<QRadioButton*>(w)) {
    QStyleOptionButton opt;
    opt.initFrom(radio);
    opt.text = text;
    return style->subElementRect(QStyle::SE_RadioButtonContents, &opt, radio).width();
  }
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = text;
    // The label is clipped to the contents; a pixel of air each side.
    return style->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width() - 2;
  }
  if (auto* label = qobject_cast<QLabel*>(w)) {
    int indent = label->indent();
    if (indent < 0) indent = label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    // The indent keeps a left or right aligned text off that edge only.
    const bool toOneSide = label->alignment() & (Qt::AlignLeft | Qt::AlignRight);
    return label->contentsRect().width() - 2 * label->margin() - (toOneSide ? indent : 0);
  }
  if (auto* box = qobject_cast<QGroupBox*>(w)) {
    QStyleOptionGroupBox opt;
    opt.initFrom(box);
    opt.text = text;
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    opt.textAlignment = box->alignment();
    opt.lineWidth = 1;
    const QRect label = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
    // The title's room ends where the box ends, less the frame's margin.
    return box->rect().right() - label.left() - style->pixelMetric(QStyle::PM_DefaultFrameWidth) * 2;
  }
  return -1;
}

QString CaptionOf(QWidget* w) {
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->wordWrap() ? QString() : label->text();
  if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
  return {};
}

TEST_P(WindowOfClass, EveryCaptionShowsWhole) {
  // Texts the handlers write into captioned controls, beside the initial ones.
  const std::pair<const char*, QString> later[] = {
      {"ReadButton", "Stop"},
      {"RespLabel", QString::fromUtf8(kRespNotTransmittedText.data(), kRespNotTransmittedText.size())},
      {"RespLabel", QString::fromUtf8(kRespTransmittedText.data(), kRespTransmittedText.size())},
      {"ChestLabel", "NOT connected"},
      {"PulsePanel", "Pulse: 255"},
      {"RespPanel", "Resp.: 255"},
      // The acquisition status at its longest.
      {"StatusPanel5", "Status: Receiving... 80000 packets (data lost)"},
      {"StatusPanel5", "Status: Port lost - reconnecting... 80000 packets"},
      {"StatusPanel5", "Status: Receiving... 80000 packets (rate off)"},
      {"StatusPanel5", "Status: Loading... 80000 packets"},
  };
  std::vector<std::pair<QWidget*, QString>> captions;
  for (QWidget* w : form->findChildren<QWidget*>()) {
    const QString text = CaptionOf(w);
    if (!text.trimmed().isEmpty()) captions.emplace_back(w, text);
  }
  for (const auto& [name, text] : later) captions.emplace_back(form->findChild<QWidget*>(name), text);
  int measured = 0;
  for (const auto& [w, text] : captions) {
    ASSERT_TRUE(w);
    const int room = TextRoom(w, text);
    if (room < 0) continue;
    ++measured;
    const int needed = w->fontMetrics().horizontalAdvance(text);
    const QWidget* named = w->objectName().isEmpty() ? w->parentWidget() : w;
    EXPECT_LE(needed, room) << named->objectName().toStdString() << " \"" << text.toStdString() << "\" in "
                            << QFontInfo(w->font()).family().toStdString() << " " << w->font().pointSize() << " pt";
  }
  // Buttons, labels, check boxes, radio items and group titles all counted.
  EXPECT_GT(measured, 60);
}

// Every control inside the window, and every box's contents inside the box:
// what lies past an edge is cut off.
TEST_P(WindowOfClass, EveryControlLiesInsideItsWindowAndItsBox) {
  int placed = 0;
  for (auto table : {TopRowPlaces(), SetupBoxPlaces(), InfoBoxPlaces()}) {
    for (const ControlPlace& place : table) {
      SCOPED_TRACE(place.name);
      QWidget* w = form->findChild<QWidget*>(place.name);
      ASSERT_TRUE(w);
      const QRect room = w->parentWidget()->rect();
      EXPECT_TRUE(room.contains(w->geometry())) << w->x() << "," << w->y() << " " << w->width() << "x" << w->height()
                                                << " in " << room.width() << "x" << room.height();
      ++placed;
    }
  }
  EXPECT_GT(placed, 70);
}

// The boxes a user may have open together never lie over each other.
TEST_P(WindowOfClass, TheInformationBoxesLeaveEachOtherFree) {
  const char* boxes[] = {"StatusBox", "IdentBox", "RegisterBox"};
  for (const char* a : boxes) {
    for (const char* b : boxes) {
      if (std::string_view(a) >= b) continue;
      EXPECT_FALSE(form->findChild<QWidget*>(a)->geometry().intersects(form->findChild<QWidget*>(b)->geometry()))
          << a << " and " << b;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ScreenClasses, WindowOfClass,
                         ::testing::Values(ClassCase{1280, ScreenClass::Wide}, ClassCase{1100, ScreenClass::Medium},
                                           ClassCase{1000, ScreenClass::Narrow},
                                           ClassCase{1920, ScreenClass::ExtraWide}));

// ---- Boxes over the chart ---------------------------------------------------

class BoxesOverTheChart : public WindowTest {};

// A point inside `box` with nothing of the box drawn on it: no child control,
// clear of the title and the frame.
QPoint BareSpotIn(QGroupBox* box) {
  for (int y = 30; y < box->height() - 10; y += 3) {
    for (int x = 12; x < box->width() - 12; x += 3) {
      bool clear = true;
      for (int dy = -3; dy <= 3 && clear; ++dy)
        for (int dx = -3; dx <= 3 && clear; ++dx) clear = box->childAt(x + dx, y + dy) == nullptr;
      if (clear) return {x, y};
    }
  }
  return {-1, -1};
}

TEST_F(BoxesOverTheChart, CoverTheChartWithTheFaceColourAndShowItAgainWhenHidden) {
  auto* chart = Find<TChartView>("Grafik");
  const QColor face = form->palette().color(QPalette::Window);
  const QColor trace(255, 0, 0);
  for (const char* name : {"SetupBox", "StatusBox", "IdentBox", "RegisterBox"}) {
    SCOPED_TRACE(name);
    auto* box = Find<QGroupBox>(name);
    box->show();
    const QPoint spot = BareSpotIn(box);
    ASSERT_GE(spot.x(), 0);
    const QPoint onWindow = box->mapTo(form.get(), spot);
    const QPoint onChart = onWindow - chart->pos();
    ASSERT_TRUE(chart->rect().contains(onChart));

    // A trace through the spot.
    ImageCanvas& canvas = form->Canvas();
    canvas.SetPenColor(clRed);
    canvas.Polyline({TPoint{0, onChart.y()}, TPoint{canvas.Width(), onChart.y()}});
    canvas.Polyline({TPoint{onChart.x(), 0}, TPoint{onChart.x(), canvas.Height()}});
    canvas.SetPenColor(clBlack);
    chart->InvalidateAll();
    ASSERT_TRUE(WaitUntil([&] { return !chart->RepaintPending(); }));

    // The style may tint a box's inside a little; the trace must not show.
    const QColor covered = form->grab().toImage().pixelColor(onWindow);
    EXPECT_LE(std::abs(covered.red() - face.red()), 8) << covered.name().toStdString();
    EXPECT_LE(std::abs(covered.green() - face.green()), 8) << covered.name().toStdString();
    EXPECT_LE(std::abs(covered.blue() - face.blue()), 8) << covered.name().toStdString();
    box->hide();
    EXPECT_EQ(form->grab().toImage().pixelColor(onWindow), trace);
  }
}

}  // namespace
