// The event thread and the dispatch of line events: the hand-over to the
// main thread, the order of the actions, the receive action shared by the
// links, the three sync methods, and how reception ends.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "fake_device_support.h"
#include "main_loop_support.h"

namespace {
class Dispatch : public testing::Test {
 protected:
  Dispatch() {
    rig.port.SetDispatcher(&loop);
    rig.port.OnRxChar = [this](TCustomComPort&, int n) { Note("RxChar(" + std::to_string(n) + ")"); };
    rig.port.OnError = [this](TCustomComPort&, TComErrors e) { Note("Error(" + std::to_string(e.Bits()) + ")"); };
    rig.port.OnTxEmpty = [this](TCustomComPort&) { Note("TxEmpty"); };
    rig.port.OnBreak = [this](TCustomComPort&) { Note("Break"); };
    rig.port.OnRing = [this](TCustomComPort&) { Note("Ring"); };
    rig.port.OnCTSChange = [this](TCustomComPort&, bool on) { Note(on ? "CTS(1)" : "CTS(0)"); };
    rig.port.OnDSRChange = [this](TCustomComPort&, bool on) { Note(on ? "DSR(1)" : "DSR(0)"); };
    rig.port.OnRLSDChange = [this](TCustomComPort&, bool on) { Note(on ? "RLSD(1)" : "RLSD(0)"); };
    rig.port.OnRxFlag = [this](TCustomComPort&) { Note("RxFlag"); };
    rig.port.OnRx80Full = [this](TCustomComPort&) { Note("Rx80Full"); };
    rig.port.OnLineLost = [this](TCustomComPort&) { Note("LineLost"); };
  }
  ~Dispatch() override { rig.port.Close(); }

  TComPort& port() { return rig.port; }
  FakeSerialDevice& device() { return *rig.device; }
  // Opens the port and forgets its after-open line-signal notifications.
  void OpenPort() {
    rig.port.Open();
    ClearLog();
  }

  void Note(const std::string& what) {
    std::lock_guard lock(mutex);
    log.push_back(what);
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
  }
  std::vector<std::string> Log() {
    std::lock_guard lock(mutex);
    return log;
  }
  bool Logged(const std::string& what) {
    std::lock_guard lock(mutex);
    return std::find(log.begin(), log.end(), what) != log.end();
  }
  void ClearLog() {
    std::lock_guard lock(mutex);
    log.clear();
  }
  // A link recording the chunks it gets under `name`.
  TComLink& BufferLink(const std::string& name) {
    TComLink& link = links.emplace_back();
    link.OnRxBuf = [this, name](TCustomComPort&, const char* b, int n) {
      Note(name + ":" + std::string(b, static_cast<std::size_t>(n)));
    };
    return link;
  }

  std::mutex mutex;
  std::vector<std::string> log;
  bool offMainThread = false;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::deque<TComLink> links;  // outlive the port, which notifies them at its end
  TestMainLoop loop;
  FakePortRig rig;
};
}  // namespace

TEST_F(Dispatch, ChunkReachesThePortThenEveryLinkInRegistrationOrderOnTheMainThread) {
  port().OnRxBuf = [this](TCustomComPort&, const char* b, int n) {
    Note("port:" + std::string(b, static_cast<std::size_t>(n)));
  };
  port().RegisterLink(BufferLink("first"));
  port().RegisterLink(BufferLink("second"));
  port().RegisterLink(BufferLink("third"));
  OpenPort();
  device().Receive(std::string("a\0b", 3));
  ASSERT_TRUE(loop.RunUntil([&] { return Log().size() >= 4; }));
  const std::string chunk("a\0b", 3);
  EXPECT_EQ(Log(), (std::vector<std::string>{"port:" + chunk, "first:" + chunk, "second:" + chunk,
                                             "third:" + chunk}));
  EXPECT_FALSE(offMainThread);
  EXPECT_EQ(device().Waiting(), 0u);
}

TEST_F(Dispatch, WithoutABufferLinkOnRxCharGetsTheCountAndTheBytesStay) {
  TComLink& plain = links.emplace_back();
  port().RegisterLink(plain);
  OpenPort();
  device().Receive("hello");
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("RxChar(5)"); }));
  EXPECT_EQ(device().Waiting(), 5u);
}

TEST_F(Dispatch, ReceiveEventWithNothingWaitingCallsNobody) {
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Announce(EV_RXCHAR | EV_RX80FULL);
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("Rx80Full"); }));
  EXPECT_EQ(Log(), std::vector<std::string>{"Rx80Full"});
}

TEST_F(Dispatch, ActivitySlotsFrameTheRead) {
  TComLink& link = BufferLink("link");
  link.OnRxActivity = [this](TCustomComPort&, bool on) { Note(on ? "RxActivity(1)" : "RxActivity(0)"); };
  port().RegisterLink(link);
  OpenPort();
  device().Receive("xy");
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("link:xy"); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"RxActivity(1)", "RxActivity(0)", "link:xy"}));
}

TEST_F(Dispatch, ActionsOfOneSetRunInTheFixedOrder) {
  OpenPort();
  device().SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  device().Announce(0, {erFraming});
  device().Receive("z", 0x05FF);  // every event at once
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("Rx80Full"); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"Error(1)", "RxChar(1)", "TxEmpty", "Break", "Ring", "CTS(1)",
                                             "DSR(0)", "RxFlag", "RLSD(1)", "Rx80Full"}));
}

TEST_F(Dispatch, TxEmptyAndSignalEventsReachTheLinksBeforeThePort) {
  TComLink& link = links.emplace_back();
  link.OnTxActivity = [this](TCustomComPort&, bool on) { Note(on ? "link.TxActivity(1)" : "link.TxActivity(0)"); };
  link.OnTxEmpty = [this](TCustomComPort&) { Note("link.TxEmpty"); };
  link.OnDSRChange = [this](TCustomComPort&, bool on) { Note(on ? "link.DSR(1)" : "link.DSR(0)"); };
  link.OnRing = [this](TCustomComPort&) { Note("link.Ring"); };
  link.OnRxFlag = [this](TCustomComPort&) { Note("link.RxFlag"); };
  port().RegisterLink(link);
  OpenPort();
  device().SetModemStatus(MS_DSR_ON);
  device().Announce(EV_TXEMPTY | EV_DSR | EV_RING | EV_RXFLAG);
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("RxFlag"); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"link.TxActivity(0)", "link.TxEmpty", "TxEmpty", "link.Ring", "Ring",
                                             "link.DSR(1)", "DSR(1)", "link.RxFlag", "RxFlag"}));
}

TEST_F(Dispatch, OnlyTheChosenEventsAreAskedFor) {
  port().SetEvents({evRxChar, evError});
  OpenPort();
  EXPECT_EQ(device().Mask(), EV_RXCHAR | EV_ERR);
}

TEST_F(Dispatch, ThrowingHandlerEndsReceptionUntilCloseAndOpen) {
  TComLink& thrower = links.emplace_back();
  thrower.OnRxBuf = [this](TCustomComPort&, const char*, int) {
    Note("thrower");
    throw std::runtime_error("handler failed");
  };
  port().RegisterLink(thrower);
  port().RegisterLink(BufferLink("after"));
  OpenPort();
  device().Receive("a");
  ASSERT_TRUE(WaitUntil([&] {
    loop.RunPending();
    return !port().EventThreadRunning();
  }));
  EXPECT_EQ(Log(), std::vector<std::string>{"thrower"});  // the link after it lost the chunk
  EXPECT_TRUE(port().Connected());

  device().Receive("b");
  loop.RunPending();
  EXPECT_EQ(device().Waiting(), 1u);  // nobody takes it any more

  port().Close();
  OpenPort();
  ASSERT_TRUE(port().EventThreadRunning());
  thrower.OnRxBuf = nullptr;
  port().UnregisterLink(thrower);
  device().Receive("c");
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("after:c"); }));
}

TEST_F(Dispatch, CloseWhileTheThreadIsBlockedInAHandOverReturns) {
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("abc");
  ASSERT_TRUE(loop.WaitForQueued(1));  // the hand-over waits for the main thread
  port().Close();
  EXPECT_FALSE(port().Connected());
  // The hand-over ran inside Close, after the before-close notifications.
  EXPECT_EQ(Log(), (std::vector<std::string>{"CTS(0)", "DSR(0)", "RLSD(0)", "link:abc"}));
  loop.RunPending();  // the stale queued call does nothing
  EXPECT_EQ(Log().size(), 4u);
}

TEST_F(Dispatch, HandlerThatClosesItsOwnPortDoesNotDeadlock) {
  TComLink& closer = links.emplace_back();
  closer.OnRxBuf = [this](TCustomComPort& sender, const char* b, int n) {
    Note("closer:" + std::string(b, static_cast<std::size_t>(n)));
    sender.Close();
  };
  port().RegisterLink(closer);
  OpenPort();
  device().Receive("1");
  ASSERT_TRUE(loop.RunUntil([&] { return !port().Connected(); }));

  port().Open();  // and it works again afterwards
  device().Receive("2");
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("closer:2"); }));
  ASSERT_TRUE(loop.RunUntil([&] { return !port().Connected(); }));
}

TEST_F(Dispatch, HandlerThatReopensItsPortKeepsReceiving) {
  TComLink& link = links.emplace_back();
  int chunks = 0;
  link.OnRxBuf = [&](TCustomComPort& sender, const char*, int) {
    ++chunks;
    sender.Close();  // what a set-up confirmation inside a delivery does
    sender.Open();
  };
  port().RegisterLink(link);
  OpenPort();
  device().Receive("1");
  ASSERT_TRUE(loop.RunUntil([&] { return chunks == 1; }));
  device().Receive("2");
  ASSERT_TRUE(loop.RunUntil([&] { return chunks == 2; }));
}

TEST_F(Dispatch, LineLostIsReportedOnceOnTheMainThreadAfterTheLastBytes) {
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("last");
  device().Lose();
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("LineLost"); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"link:last", "LineLost"}));
  EXPECT_FALSE(offMainThread);
  EXPECT_TRUE(port().Connected());
  EXPECT_TRUE(WaitUntil([&] { return !port().EventThreadRunning(); }));
  loop.RunPending();
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(Dispatch, LineLostIsNotReportedForAPortClosedMeanwhile) {
  OpenPort();
  device().Lose();
  ASSERT_TRUE(WaitUntil([&] { return !port().EventThreadRunning(); }));
  port().Close();
  loop.RunPending();
  EXPECT_FALSE(Logged("LineLost"));
}

// ---- the other sync methods ----

TEST_F(Dispatch, WindowSyncRunsEachActionAsAQueuedCall) {
  port().SetSyncMethod(smWindowSync);
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("abc", EV_RXCHAR | EV_RX80FULL);
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("Rx80Full"); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"link:abc", "Rx80Full"}));
  EXPECT_FALSE(offMainThread);
}

TEST_F(Dispatch, WindowSyncHandsActionErrorsToTheApplicationAndGoesOn) {
  port().SetSyncMethod(smWindowSync);
  TComLink& link = links.emplace_back();
  int calls = 0;
  link.OnRxBuf = [&](TCustomComPort&, const char*, int) {
    if (++calls == 1) throw std::runtime_error("first chunk refused");
  };
  port().RegisterLink(link);
  OpenPort();
  device().Receive("a");
  ASSERT_TRUE(loop.RunUntil([&] { return calls == 1; }));
  device().Receive("b");
  ASSERT_TRUE(loop.RunUntil([&] { return calls == 2; }));
  EXPECT_EQ(loop.Errors(), std::vector<std::string>{"first chunk refused"});
  EXPECT_TRUE(port().EventThreadRunning());
}

TEST_F(Dispatch, WindowSyncActionsQueuedBeforeCloseAreSkipped) {
  port().SetSyncMethod(smWindowSync);
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("abc");
  ASSERT_TRUE(loop.WaitForQueued(1));
  port().Close();  // takes the set over; its action is queued behind
  ClearLog();
  loop.RunPending();
  EXPECT_TRUE(Log().empty());
}

TEST_F(Dispatch, NoSyncRunsTheActionsOnTheEventThread) {
  port().SetSyncMethod(smNone);
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("q");
  ASSERT_TRUE(WaitUntil([&] { return Logged("link:q"); }));
  EXPECT_TRUE(offMainThread);
}

TEST_F(Dispatch, NoSyncWithoutADispatcherReportsLineLostOnTheEventThread) {
  port().SetDispatcher(nullptr);
  port().SetSyncMethod(smNone);
  OpenPort();
  device().Lose();
  ASSERT_TRUE(WaitUntil([&] { return Logged("LineLost"); }));
  EXPECT_TRUE(offMainThread);
}
