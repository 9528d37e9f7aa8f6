// The acquisition session over a pseudo-terminal: what a set-up confirms is
// what frames are decoded with, the line figures, and the texts of line
// trouble.
#include <gtest/gtest.h>

#include <map>

#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "testsupport/PtyPair.h"
#include "testsupport/QtWait.h"

namespace {

class Shown : public TSessionView {
 public:
  void SetStatusPanel(int index, std::string_view text) override { panels[index] = std::string(text); }
  void SetText(ViewText which, std::string_view text) override { texts[which] = std::string(text); }
  void ShowIdentBox() override {}
  void PortLost(bool recording) override { lost.push_back(recording); }
  void PortNotAvailable(const std::string& error) override { notAvailable = error; }
  void ReportError(const std::string& text) override { errors.push_back(text); }

  std::map<int, std::string> panels;
  std::map<ViewText, std::string> texts;
  std::vector<bool> lost;
  std::string notAvailable;
  std::vector<std::string> errors;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

class Session : public testing::Test {
 protected:
  Session() : session(dispatcher, shown) {}

  TSetupRequest Eight(std::array<bool, 8> channels) {
    TSetupRequest request;
    request.port = pty.SlavePath();
    request.channels = channels;
    return request;
  }
  int Count() { return session.Store().Count(); }

  PtyPair pty;
  QtMainThreadDispatcher dispatcher;
  Shown shown;
  AcquisitionSession session;
};

TEST_F(Session, SetUpSendsTheCommandAndFramesAreDecodedWithTheConfirmedChannels) {
  ASSERT_TRUE(session.ApplySetup(Eight({true, false, true, false, false, false, false, true})).opened);
  EXPECT_EQ(shown.panels[spPort], "Port: " + pty.SlavePath());
  const std::vector<unsigned char> command = pty.Read(18, std::chrono::seconds(5));
  ASSERT_EQ(command.size(), 18u);
  EXPECT_EQ(command[13], 0x85) << "channel mask I, III, Resp";

  session.StartRecording();
  pty.Write(Bytes({0xF8, 0, 11, 33, 77}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  EXPECT_EQ(session.Store().At(1).channels, (std::array<std::uint8_t, 8>{11, 0, 33, 0, 0, 0, 0, 77}));

  // A second set-up during the recording switches what is decoded at once.
  TSetupRequest twelve = Eight({});
  twelve.twelveChannel = true;
  ASSERT_TRUE(session.ApplySetup(twelve).recording);
  pty.Write(Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}) + Bytes({0xFE, 0, 21, 22, 23, 24, 25}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 2 && session.Handlers().NewestRecordComplete(); }));
  EXPECT_EQ(session.Store().At(2).channels, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(session.Store().At(2).chest, (std::array<std::uint8_t, 5>{21, 22, 23, 24, 25}));
}

TEST_F(Session, APortThatCannotBeOpenedIsToldAndLeavesTheSessionClosed) {
  TSetupRequest request = Eight(ChannelBoxDefaults);
  request.port = pty.SlavePath() + "-missing";
  const TSetupResult result = session.ApplySetup(request);
  EXPECT_FALSE(result.opened);
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(shown.notAvailable, result.error);
  EXPECT_EQ(shown.panels[spPort], "Port:");
  EXPECT_FALSE(session.Port().Connected());
}

TEST_F(Session, LineFiguresCountFramesBytesOutsideFramesAndTheRate) {
  auto now = std::chrono::steady_clock::time_point{};
  session.SetClock([&] { return now; });
  session.Tick();
  TSetupRequest request = Eight({true, true, true, false, false, false, false, false});
  session.Configure(request);
  session.StartRecording();
  std::string chunk;
  for (int i = 0; i < 30; ++i) chunk += Bytes({0xF8, 0, 1, 2, 3});
  chunk += Bytes({0x10, 0x20, 0x30});                // between frames: belongs to none
  chunk += Bytes({0xF9, 0, 72}) + Bytes({0xF8, 0});  // a pulse frame, a sample frame arriving
  session.Feed(chunk);
  now += std::chrono::milliseconds(500);
  session.Tick();

  const TLineQuality q = session.LineQuality();
  EXPECT_EQ(q.SampleFrames(), 30u);
  EXPECT_EQ(q.frames[1], 1u) << "pulse frames";
  EXPECT_EQ(q.bytesReceived, chunk.size());
  EXPECT_EQ(q.bytesOutsideFrames, 3u);
  EXPECT_DOUBLE_EQ(q.recordsPerSecond, 60.0);
  EXPECT_EQ(q.framerOverflows, 0u);
}

TEST_F(Session, InputQueueOverflowIsToldOncePerRecordingWithoutStoppingIt) {
  session.Configure(Eight({true, true, true, false, false, false, false, false}));
  session.StartRecording();
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}));
  // As the port tells it at a gap in its input queue.
  auto overflow = [&] { session.Port().OnRxOverflow(session.Port()); };
  overflow();
  EXPECT_EQ(shown.panels[spStatus], "Status: Receiving... 1 packets (data lost)");
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}));
  overflow();
  EXPECT_TRUE(session.Recording());
  EXPECT_EQ(session.LineQuality().inputOverflows, 2u);
  EXPECT_TRUE(session.DataLostInRecording());

  session.StopRecording();
  session.StartRecording();
  EXPECT_FALSE(session.DataLostInRecording());
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(shown.panels[spStatus], "Status: Receiving... 1 packets");
}

TEST_F(Session, ALostPortSaysSoAndShowsNoLiveValues) {
  ASSERT_TRUE(session.ApplySetup(Eight(ChannelBoxDefaults)).opened);
  session.StartRecording();
  pty.Write(Bytes({0xF8, 0, 1, 2, 3}) + Bytes({0xF9, 0, 72}) + Bytes({0xF8, 0, 1, 2, 3}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 2; }));
  EXPECT_EQ(shown.texts[ViewText::PulsePanel], "Pulse: 72");

  pty.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !shown.lost.empty(); }));
  EXPECT_EQ(shown.lost, std::vector<bool>{true});
  EXPECT_FALSE(session.Port().Connected());
  EXPECT_EQ(shown.panels[spStatus], "Status: Port lost - 2 packets");
  EXPECT_EQ(shown.texts[ViewText::PulsePanel], "Pulse:");
  EXPECT_EQ(shown.texts[ViewText::RespPanel], "Resp.:");
  EXPECT_TRUE(session.Recording()) << "the recording is kept for Stop to save";
}

}  // namespace
