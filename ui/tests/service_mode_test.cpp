// The electrode search and the register editor are hidden as designed until
// the user asks for the service mode with Ctrl+Shift+S.
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "window_support.h"

namespace {

class ServiceMode : public WindowTest {
 protected:
  void PressServiceKey() {
    form->activateWindow();
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  }
};

TEST_F(ServiceMode, HiddenByDefaultThenElectrodesAndRegisterSendTheirBytes) {
  SetUpPort();
  Click("ReadButton");
  EXPECT_TRUE(Shown("StatusButton"));
  EXPECT_FALSE(Shown("ElecButton"));
  EXPECT_FALSE(Shown("RegisterButton"));

  PressServiceKey();
  ASSERT_TRUE(Shown("ElecButton"));
  ASSERT_TRUE(Shown("RegisterButton"));
  Click("ElecButton");
  EXPECT_EQ(ModuleReceives(2), Bytes({'q', '0'}));

  Click("RegisterButton");
  ASSERT_TRUE(Shown("RegisterBox"));
  Find<QLineEdit>("Address")->setText(QStringLiteral("5"));
  SetChecked("Bit0", true);
  SetChecked("Bit7", true);
  Click("RegWriteButton");
  EXPECT_EQ(ModuleReceives(3), Bytes({'r', 0x35, 0x81}));

  // Stop hides them with the other recording controls; the next Read shows
  // them again, the mode lasting until the program ends.
  Click("ReadButton");
  EXPECT_FALSE(Shown("ElecButton"));
  Click("ReadButton");
  EXPECT_TRUE(Shown("ElecButton"));
  EXPECT_TRUE(Shown("RegisterButton"));
}

TEST_F(ServiceMode, StopOfARecordingThatStoredNothingLeavesSetupToChooseAnotherPort) {
  SetUpPort();
  Click("ReadButton");
  Click("ReadButton");  // the port sent nothing
  EXPECT_EQ(form->Store().Count(), 0);
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_TRUE(Shown("ReadButton"));
  Click("SetupButton");
  EXPECT_TRUE(Shown("SetupBox"));
}

}  // namespace

namespace {

TEST_F(ServiceMode, StatusBoxShowsTheLineFigures) {
  SetUpPort();
  Click("ReadButton");
  ModuleSends(Bytes({0x01, 0x02, 0x03, 0xF8, 0, 1, 2, 3}));
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 1; }));
  Click("StatusButton");
  const QString text = Find<QLabel>("LineLabel")->text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Outside frames: 3 B\nRejected: 0  Gaps: 0\nSilences: 0  Errors: 0\n")))
      << text.toStdString();
}

}  // namespace
