// The window at a desk and a bench: closing it never loses a recording
// unasked, the set-up panel answers like a dialog and keeps one set-up per
// recording, the last set-up is remembered, and a port that will not open
// says why.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSettings>
#include <QTest>
#include <filesystem>

#include "serial/VirtualPortDirectory.h"
#include "ui/RadioGroup.h"
#include "window_support.h"

namespace {

std::vector<unsigned char> SampleFrames(int count) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < count; ++i)
    bytes.insert(bytes.end(), {0xF8, static_cast<unsigned char>(i % 200), 0x10, 0x20, 0x30});
  return bytes;
}

class DeskWindow : public WindowTest {
 protected:
  void Record(int frames) {
    Click("ReadButton");
    ModuleSends(SampleFrames(frames));
    ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == frames; }));
  }
  std::filesystem::path Scratch() const { return runtime->Path(); }
};

// ---- Closing --------------------------------------------------------------

enum class Before { Running, StoppedUnsaved, Saved };
struct CloseCase {
  const char* name;
  Before before;
  std::optional<std::size_t> answer;  // Save, Discard, Stay; nullopt: box closed
  bool saveDialogAnswered;
  bool asked, closes, fileWritten;
};

class ClosingTheWindow : public DeskWindow, public testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingTheWindow, AsksBeforeARecordingIsLost) {
  const CloseCase& c = GetParam();
  SetUpPort();
  Record(30);
  const std::string path = (Scratch() / "closing.log").string();
  const std::filesystem::path data = Scratch() / "closing.dat";
  if (c.before != Before::Running) {
    dialogs.confirmAnswers = {c.before == Before::Saved};
    if (c.before == Before::Saved) dialogs.saveAnswers = {path};
    Click("ReadButton");
    if (c.before == Before::Saved) std::filesystem::remove(data);
  }
  const std::size_t choicesBefore = dialogs.Choices().size();
  if (c.answer) dialogs.chooseAnswers = {c.answer};
  else dialogs.chooseAnswers = {std::nullopt};
  if (c.saveDialogAnswered) dialogs.saveAnswers = {path};
  else dialogs.saveAnswers = {std::nullopt};

  EXPECT_EQ(form->MayClose(), c.closes);
  EXPECT_EQ(dialogs.Choices().size() - choicesBefore, c.asked ? 1u : 0u);
  EXPECT_EQ(std::filesystem::exists(data), c.fileWritten);
  EXPECT_FALSE(form->Session().Recording() && c.answer == 0u) << "a save stops the recording first";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(, ClosingTheWindow, testing::Values(
    //        name                 before                  answer        save?  asked  closes written
    CloseCase{"RunningSaved",      Before::Running,        0u,           true,  true,  true,  true},
    CloseCase{"RunningSaveCancel", Before::Running,        0u,           false, true,  false, false},
    CloseCase{"RunningDiscarded",  Before::Running,        1u,           false, true,  true,  false},
    CloseCase{"RunningStay",       Before::Running,        2u,           false, true,  false, false},
    CloseCase{"RunningBoxClosed",  Before::Running,        std::nullopt, false, true,  false, false},
    CloseCase{"UnsavedSaved",      Before::StoppedUnsaved, 0u,           true,  true,  true,  true},
    CloseCase{"UnsavedStay",       Before::StoppedUnsaved, 2u,           false, true,  false, false},
    CloseCase{"AlreadySaved",      Before::Saved,          std::nullopt, false, false, true,  false}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

TEST_F(DeskWindow, TheCloseButtonIsRefusedWhileTheUserStays) {
  SetUpPort();
  Record(5);
  dialogs.chooseAnswers = {2u};
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->Session().Recording());
}

// ---- The set-up panel -----------------------------------------------------

TEST_F(DeskWindow, SetupPanelIsADialogThatHoldsEverythingBelowIt) {
  Click("SetupButton");
  auto* combo = Find<QComboBox>("ComSetupBox");
  combo->setEditText(QString::fromStdString(PortName()));
  EXPECT_FALSE(Find("LoadButton")->isEnabled()) << "nothing under the panel reacts";
  EXPECT_FALSE(Find("Grafik")->isEnabled());
  QTest::keyClick(combo, Qt::Key_Escape);
  EXPECT_FALSE(Shown("SetupBox")) << "Escape cancels";
  EXPECT_FALSE(form->Port().Connected());
  EXPECT_TRUE(Find("LoadButton")->isEnabled());

  Click("SetupButton");
  combo->setEditText(QString::fromStdString(PortName()));
  QTest::keyClick(combo, Qt::Key_Return);
  EXPECT_FALSE(Shown("SetupBox")) << "Return confirms";
  EXPECT_EQ(ModuleReceives(18).size(), 18u);
  EXPECT_TRUE(form->Port().Connected());
  Click("SetupButton");
  EXPECT_FALSE(Shown("ReadButton")) << "no recording starts under an open set-up";
}

TEST_F(DeskWindow, ARecordingKeepsItsSetupWhenItsPortComesBack) {
  const std::vector<unsigned char> first = SetUpPort();
  Record(3);
  pty->HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !form->Port().Connected(); }));
  port.reset();
  pty = std::make_unique<PtyPair>();
  port = std::make_unique<ScopedVirtualPort>(VirtualPortDirectory(), "ECG0", pty->SlavePath());

  Click("SetupButton");
  EXPECT_FALSE(Find("TransBox")->isEnabled()) << "only the port can change";
  Find<TRadioGroup>("TransBox")->SetItemIndex(2);  // even were it changed
  Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(PortName()));
  Click("SetupOKButton");
  EXPECT_EQ(ModuleReceives(18), first) << "the recording's own set-up is sent again";
  EXPECT_TRUE(form->Session().Recording());
}

// ---- The set-up remembered ------------------------------------------------

TEST_F(DeskWindow, TheLastConfirmedSetupIsPreselectedAtTheNextStart) {
  const QString file = QString::fromStdString((Scratch() / "settings.ini").string());
  form->UseSettings(std::make_unique<QSettings>(file, QSettings::IniFormat));
  EXPECT_EQ(Find<TRadioGroup>("TransBox")->ItemIndex(), TransBoxChoice.Default) << "a first start: the defaults";
  Click("SetupButton");
  ChooseRadio("TransBox", 2);
  ChooseRadio("AmpBox", 1);
  SetChecked("CheckBox12C", true);
  Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(PortName()));
  Click("SetupOKButton");
  ASSERT_TRUE(form->Port().Connected());

  FakeDialogs otherDialogs;
  TForm1 next(otherDialogs, 1280);
  next.UseSettings(std::make_unique<QSettings>(file, QSettings::IniFormat));
  EXPECT_EQ(next.findChild<TRadioGroup*>("TransBox")->ItemIndex(), 2);
  EXPECT_EQ(next.findChild<TRadioGroup*>("AmpBox")->ItemIndex(), 1);
  EXPECT_TRUE(next.findChild<QCheckBox*>("CheckBox12C")->isChecked());
  EXPECT_EQ(next.findChild<QComboBox*>("ComSetupBox")->currentText().toStdString(), PortName());
  EXPECT_FALSE(next.Port().Connected()) << "preselected, not opened";
}

TEST_F(DeskWindow, ALiveSweepAtAPaperSpeedMovesByTheRecordsTimeAndIsKept) {
  const QString file = QString::fromStdString((Scratch() / "settings.ini").string());
  {
    QSettings written(file, QSettings::IniFormat);
    written.setValue("display/dpi", 96);
  }
  form->UseSettings(std::make_unique<QSettings>(file, QSettings::IniFormat));
  auto* speed = form->findChild<QAction*>("LiveSpeed25");
  ASSERT_TRUE(speed);
  speed->trigger();
  SetUpPort();
  Click("ReadButton");
  // 100 eight-channel samples at the default 100 a second: one second,
  // 25 mm of 96 dpi.
  std::vector<unsigned char> bytes;
  for (int n = 0; n < 100; ++n)
    for (const unsigned char b : Bytes({0xF8, n & 0x7F, 0x10, 0x20, 0x30})) bytes.push_back(b);
  ModuleSends(bytes);
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 100; }));
  EXPECT_EQ(form->Layout().CursorX, form->Layout().Margin + 1 + static_cast<int>(25 * 96 / 25.4));

  FakeDialogs otherDialogs;
  TForm1 next(otherDialogs, 1280);
  next.UseSettings(std::make_unique<QSettings>(file, QSettings::IniFormat));
  EXPECT_EQ(next.LiveSpeed(), 25);
  EXPECT_TRUE(next.findChild<QAction*>("LiveSpeed25")->isChecked());
}

// ---- A port that will not open ---------------------------------------------

TEST_F(DeskWindow, APortThatIsGoneSaysSoAfterTheDesignedText) {
  const std::string gone = (Scratch() / "ECG9").string();
  std::filesystem::create_symlink(pty->SlavePath(), Scratch() / "ECG9");
  Click("SetupButton");
  std::filesystem::remove(Scratch() / "ECG9");
  auto* combo = Find<QComboBox>("ComSetupBox");
  combo->addItem(QString::fromStdString(gone));
  combo->setEditText(QString::fromStdString(gone));
  Click("SetupOKButton");
  const std::vector<std::string> messages = dialogs.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front().rfind("Com-Port not available !!!\n\n", 0), 0u) << messages.front();
  EXPECT_NE(messages.front().find("does not exist"), std::string::npos) << messages.front();
}

}  // namespace
