// A port that goes away under the window (the adapter pulled out, the device
// gone before a set-up's open, another program holding it) against a
// pseudo-terminal: the user is told, a recording keeps its records, Stop
// always ends and offers it, and a set-up with the port back goes on with it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QComboBox>
#include <cerrno>
#include <filesystem>

#include "serial/VirtualPortDirectory.h"
#include "window_support.h"

namespace {

const std::vector<std::string> kNotAvailable{"Com-Port not available !!!"};
const std::vector<std::string> kNotAvailableNotDefined{"Com-Port not available !!!", "Com-Port not defined !!!"};

class PortLoss : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_EQ(SetUpPort().size(), 18u);
  }

  int Count() const { return form->Store().Count(); }
  AcquisitionState State() const { return form->Store().Settings().state; }
  std::filesystem::path Scratch() const { return runtime->Path(); }

  void RecordFrames(int frames) {
    Click("ReadButton");
    for (int i = 0; i < frames; ++i) ModuleSends(Bytes({0xF8, i, 0x10 + i, 0x20 + i, 0x30 + i}));
    ASSERT_TRUE(WaitUntil([&] { return Count() == frames; }));
  }

  // The adapter is pulled out; returns once the window has dealt with it.
  void PullOut() {
    pty->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !form->Port().Connected() && !dialogs.Messages().empty(); }));
  }

  // The adapter is plugged in again: a new device under the same port name.
  void PlugIn() {
    port.reset();
    pty = std::make_unique<PtyPair>();
    port = std::make_unique<ScopedVirtualPort>(VirtualPortDirectory(), "ECG0", pty->SlavePath());
  }
};

// ---- The line lost during a recording --------------------------------------

TEST_F(PortLoss, LostLineDuringARecordingIsToldOnceAndKeepsTheRecording) {
  RecordFrames(2);
  PullOut();
  DrainEvents();
  EXPECT_EQ(dialogs.Messages(), kNotAvailable);
  EXPECT_EQ(dialogs.ConfirmCount(), 0) << "the loss itself does not end the recording";
  EXPECT_EQ(Panel(0), "Port:");
  EXPECT_EQ(State(), AcquisitionState::Receiving);
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(form->Store().At(2).channels[chIII], 0x31);
  EXPECT_EQ(Caption("ReadButton"), "Stop");
  EXPECT_TRUE(Shown("ReadButton"));
  EXPECT_TRUE(Shown("SetupButton")) << "the way back to the port";
  EXPECT_FALSE(Shown("LoadButton"));
}

TEST_F(PortLoss, StopAfterALostLineEndsTheRecordingAndSavesIt) {
  RecordFrames(3);
  PullOut();
  const std::filesystem::path log = Scratch() / "lost.log";
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {log.string()};
  Click("ReadButton");
  EXPECT_EQ(State(), AcquisitionState::Idle);
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
  EXPECT_EQ(dialogs.Messages(), kNotAvailable) << "no \"Please define Com-Port first\" for a Stop";
  EXPECT_EQ(std::filesystem::file_size(Scratch() / "lost.dat"), 24u * 4);
  EXPECT_EQ(Panel(5), "Status: Idle");
  // Without a port Read would only ask for one: Setup is the way on.
  EXPECT_FALSE(Shown("ReadButton"));
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_TRUE(Shown("PrintButton"));
}

TEST_F(PortLoss, StopAfterALostLineWithNothingStoredStillLeavesSetup) {
  Click("ReadButton");
  PullOut();
  Click("ReadButton");
  EXPECT_EQ(State(), AcquisitionState::Idle);
  EXPECT_EQ(dialogs.ConfirmCount(), 0);
  EXPECT_FALSE(Shown("ReadButton"));
  EXPECT_TRUE(Shown("SetupButton"));
}

TEST_F(PortLoss, SetupWithThePortBackGoesOnWithTheSameRecording) {
  RecordFrames(2);
  // Half a frame is on its way when the line goes.
  ModuleSends(Bytes({0xF8, 0x02, 0x77}));
  PullOut();
  PlugIn();
  Click("SetupButton");
  EXPECT_EQ(SetUpPort().size(), 18u) << "the set-up command goes to the module again";
  EXPECT_EQ(dialogs.Messages(), kNotAvailable);
  EXPECT_EQ(Panel(0), "Port: " + PortName());
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_EQ(State(), AcquisitionState::Receiving);
  EXPECT_EQ(Caption("ReadButton"), "Stop");
  EXPECT_FALSE(Shown("SetupButton")) << "back to the recording's controls";
  EXPECT_FALSE(Shown("LoadButton")) << "a load would overwrite the running recording";

  ModuleSends(Bytes({0xF8, 0x03, 0x41, 0x42, 0x43, 0xF8, 0x04, 0x51, 0x52, 0x53}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 4; }))
      << Count() << " records; reception running: " << form->Port().EventThreadRunning() << ", sample framer holds "
      << form->SampleFramer().PendingBytes().size() << " bytes";
  // The cut-off frame took nothing from the new line.
  EXPECT_EQ(form->Store().At(2).channels, (std::array<std::uint8_t, 8>{0x11, 0x21, 0x31, 0, 0, 0, 0, 0}));
  EXPECT_EQ(form->Store().At(3).channels, (std::array<std::uint8_t, 8>{0x41, 0x42, 0x43, 0, 0, 0, 0, 0}));
  EXPECT_EQ(form->Store().At(4).channels, (std::array<std::uint8_t, 8>{0x51, 0x52, 0x53, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Panel(5), "Status: Receiving... 4 packets");
}

TEST_F(PortLoss, APortBackUnderItsNameIsReopenedAndTheRecordingGoesOnWithItsGapMarked) {
  RecordFrames(2);
  PullOut();
  EXPECT_EQ(Panel(5), "Status: Port lost - reconnecting... 2 packets");
  PlugIn();
  // Tried every second: the set-up goes to the module again by itself.
  ASSERT_TRUE(WaitUntil([&] { return form->Port().Connected(); }));
  EXPECT_EQ(ModuleReceives(18).size(), 18u);
  EXPECT_EQ(State(), AcquisitionState::Receiving);
  EXPECT_EQ(Panel(0), "Port: " + PortName());
  ModuleSends(Bytes({0xF8, 0x03, 0x41, 0x42, 0x43}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 3; }));
  EXPECT_EQ(RecordFlags(form->Store().At(2)), 0);
  EXPECT_NE(RecordFlags(form->Store().At(3)) & kDataLostBefore, 0) << "the gap is marked";
  EXPECT_EQ(DesignedMessages(dialogs), kNotAvailable) << "the loss is told once, the return needs no answer";
}

TEST_F(PortLoss, LostLineWhileIdleHidesReadAndOffersSetup) {
  PullOut();
  EXPECT_EQ(dialogs.Messages(), kNotAvailable);
  EXPECT_EQ(Panel(0), "Port:");
  EXPECT_FALSE(Shown("ReadButton"));
  EXPECT_TRUE(Shown("SetupButton"));
  form->Guarded([&] { form->ReadButtonClick(); });
  EXPECT_EQ(dialogs.Messages().back(), "Please define Com-Port first");
}

// ---- A set-up whose open fails during a recording ---------------------------

TEST_F(PortLoss, FailedOpenDuringARecordingKeepsItAndStopStillEndsIt) {
  RecordFrames(1);
  ASSERT_FALSE(Shown("SetupButton"));
  PullOut();
  PlugIn();
  dialogs.shown.clear();
  Click("SetupButton");
  port.reset();  // and gone again before the OK
  Click("SetupOKButton");
  EXPECT_EQ(DesignedMessages(dialogs), kNotAvailableNotDefined);
  EXPECT_EQ(Panel(0), "Port:");
  EXPECT_EQ(dialogs.ConfirmCount(), 0);
  EXPECT_EQ(State(), AcquisitionState::Receiving);
  EXPECT_EQ(Count(), 1);
  EXPECT_TRUE(Shown("ReadButton"));
  EXPECT_EQ(Caption("ReadButton"), "Stop");
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_FALSE(Shown("LoadButton"));

  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
  EXPECT_EQ(State(), AcquisitionState::Idle);
  EXPECT_EQ(DesignedMessages(dialogs), kNotAvailableNotDefined);
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_TRUE(Shown("SaveButton")) << "declined: the recording can still be saved";
  EXPECT_FALSE(Shown("ReadButton"));
}

// ---- Exclusive use of the port -----------------------------------------------

// Another program's exclusive hold, the way serial programs on Linux take it.
class ForeignHold {
 public:
  explicit ForeignHold(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~ForeignHold() {
    if (fd_ >= 0) close(fd_);
  }
  ForeignHold(const ForeignHold&) = delete;
  ForeignHold& operator=(const ForeignHold&) = delete;
  bool Opened() const { return fd_ >= 0; }
  // 0, or the errno of the refused lock.
  int Lock() const { return flock(fd_, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; }

 private:
  int fd_;
};

TEST_F(PortLoss, OpenPortIsHeldAgainstOtherPrograms) {
  ForeignHold other(PortName());
  // Without privileges the open itself is refused; with them the lock is.
  if (other.Opened()) {
    EXPECT_EQ(other.Lock(), EWOULDBLOCK);
  }
  RecordFrames(1);
}

class ForeignPort : public WindowTest {};

TEST_F(ForeignPort, PortHeldByAnotherProgramIsNotAvailable) {
  {
    ForeignHold other(PortName());
    ASSERT_TRUE(other.Opened());
    ASSERT_EQ(other.Lock(), 0);
    Click("SetupButton");
    Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(PortName()));
    Click("SetupOKButton");
    EXPECT_EQ(DesignedMessages(dialogs), kNotAvailableNotDefined);
    EXPECT_FALSE(form->Port().Connected());
    EXPECT_EQ(Panel(0), "Port:");
  }
  // Once the other program has let go, the port is the window's.
  dialogs.shown.clear();
  EXPECT_EQ(SetUpPort().size(), 18u);
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{});
}

}  // namespace
