// The event thread and the dispatch of line events: the hand-over to the
// main thread, the order of the actions, the receive action shared by the
// links, the three sync methods, and how reception ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "fake_device_support.h"
#include "main_loop_support.h"
#include "serial/TComDataPacket.h"

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
  EXPECT_EQ(Log(), (std::vector<std::string>{"port:" + chunk, "first:" + chunk, "second:" + chunk, "third:" + chunk}));
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
  EXPECT_EQ(Log(), (std::vector<std::string>{"Error(1)", "RxChar(1)", "TxEmpty", "Break", "Ring", "CTS(1)", "DSR(0)",
                                             "RxFlag", "RLSD(1)", "Rx80Full"}));
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

// ---- Close from handlers, and deliveries of an earlier opening ----

TEST_F(Dispatch, CloseAndOpenFromADeliveryThatCloseServesLeaveThePortClosed) {
  int beforeClose = 0, afterClose = 0;
  port().OnBeforeClose = [&](TCustomComPort&) { ++beforeClose; };
  port().OnAfterClose = [&](TCustomComPort&) { ++afterClose; };
  TComLink& link = links.emplace_back();
  link.OnRxBuf = [this](TCustomComPort& sender, const char*, int) {
    sender.Close();
    sender.Open();
    Note("handler done");
  };
  port().RegisterLink(link);
  OpenPort();
  device().Receive("abc");
  ASSERT_TRUE(loop.WaitForQueued(1));
  port().Close();  // serves the queued hand-over while it waits for the thread
  EXPECT_TRUE(Logged("handler done"));
  EXPECT_FALSE(port().Connected());
  EXPECT_FALSE(port().EventThreadRunning());
  EXPECT_EQ(beforeClose, 1);
  EXPECT_EQ(afterClose, 1);
  EXPECT_EQ(rig.openedPaths.size(), 1u);
  EXPECT_TRUE(device().Closed());
}

namespace {
// A link whose first delivery lets the event thread take one more set of
// events (evRxFlag among them) and then closes the port from inside the
// delivery, while the thread waits to hand that set over.
TComLink& CloserAfterAnotherSet(std::deque<TComLink>& links, FakeSerialDevice*& device) {
  TComLink& link = links.emplace_back();
  link.OnRxBuf = [&device](TCustomComPort& sender, const char*, int) {
    if (!sender.Connected()) return;
    device->Receive("late", EV_RXCHAR | EV_RXFLAG);
    EXPECT_TRUE(WaitUntil([&] { return device->PendingEvents() == 0; }));
    sender.Close();
  };
  return link;
}
}  // namespace

TEST_F(Dispatch, SetTakenBeforeACloseFromInsideADeliveryNeverReachesTheNextOpening) {
  FakeSerialDevice* current = nullptr;
  port().RegisterLink(CloserAfterAnotherSet(links, current));
  OpenPort();
  current = rig.device.get();
  const std::weak_ptr<FakeSerialDevice> first = rig.device;
  device().Receive("1");
  ASSERT_TRUE(loop.RunUntil([&] { return !port().Connected(); }));
  port().Open();
  // The earlier opening's thread ends once nothing of it is left queued.
  ASSERT_TRUE(loop.RunUntil([&] { return first.expired(); }));
  loop.RunPending();
  EXPECT_FALSE(Logged("RxFlag"));
  EXPECT_TRUE(port().EventThreadRunning());
}

TEST_F(Dispatch, SetTakenBeforeACloseFromInsideADeliveryOutlivesItsPortHarmlessly) {
  auto own = std::make_unique<FakePortRig>();
  own->port.SetDispatcher(&loop);
  bool flagged = false;
  own->port.OnRxFlag = [&](TCustomComPort&) { flagged = true; };
  FakeSerialDevice* current = nullptr;
  own->port.RegisterLink(CloserAfterAnotherSet(links, current));
  own->port.Open();
  current = own->device.get();
  const std::weak_ptr<FakeSerialDevice> first = own->device;
  current->Receive("1");
  ASSERT_TRUE(loop.RunUntil([&] { return !own->port.Connected(); }));
  own.reset();
  ASSERT_TRUE(loop.RunUntil([&] { return first.expired(); }));
  loop.RunPending();
  EXPECT_FALSE(flagged);
}

// ---- input-queue overflow ----

TEST_F(Dispatch, OverflowGapsSplitTheReadAndAreToldBetweenTheirSides) {
  port().OnRxOverflow = [this](TCustomComPort&) { Note("Overflow"); };
  TComLink& first = BufferLink("first");
  first.OnRxOverflow = [this](TCustomComPort&) { Note("first.Overflow"); };
  port().RegisterLink(first);
  port().RegisterLink(BufferLink("second"));
  OpenPort();
  device().Receive("ab", 0);
  device().Gap();
  device().Receive("cd", 0);
  device().Gap();
  device().Receive("ef", 0);
  device().Gap();
  device().Announce(EV_RXCHAR);
  ASSERT_TRUE(loop.RunUntil([&] { return Log().size() >= 12; }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"first:ab", "second:ab", "Overflow", "first.Overflow",  //
                                             "first:cd", "second:cd", "Overflow", "first.Overflow",  //
                                             "first:ef", "second:ef", "Overflow", "first.Overflow"}));
}

TEST_F(Dispatch, FramerDropsWhatItHeldWhereTheQueueOverflowed) {
  TComDataPacket framer;
  framer.SetStartString("\xF8");
  framer.SetSize(4);
  framer.SetIncludeStrings(true);
  std::vector<std::string> packets, discarded;
  framer.OnPacket = [&](TComDataPacket&, const std::string& p) { packets.push_back(p); };
  framer.OnDiscard = [&](TComDataPacket&, const std::string& d) { discarded.push_back(d); };
  framer.SetComPort(&port());
  OpenPort();
  device().Receive("\xF8\x01", 0);
  device().Gap();
  device().Receive("\x02\x03\xF8\x11\x12\x13");
  ASSERT_TRUE(loop.RunUntil([&] { return !packets.empty(); }));
  EXPECT_EQ(packets, std::vector<std::string>{"\xF8\x11\x12\x13"});
  EXPECT_EQ(discarded, (std::vector<std::string>{"\xF8\x01", "\x02\x03"}));
  framer.SetComPort(nullptr);
}

// ---- the coalesced hand-over ----

namespace {
constexpr int kLongInterval = 600000;  // far beyond any wait of these tests
}

TEST_F(Dispatch, HandOverIntervalHoldsSetsBackAndDeliversThemTogether) {
  port().SetHandOverInterval(kLongInterval);
  EXPECT_EQ(port().HandOverInterval(), kLongInterval);
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("a");  // the first set goes at once
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("link:a"); }));
  const std::size_t served = loop.Served();
  for (const char* bytes : {"b", "c"}) {
    device().Receive(bytes);
    ASSERT_TRUE(WaitUntil([&] { return device().PendingEvents() == 0; }));  // taken, and held
  }
  EXPECT_EQ(loop.Queued(), 0u);
  device().Receive("!", EV_RXCHAR | EV_RXFLAG);
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("RxFlag"); }));
  EXPECT_EQ(Log(), (std::vector<std::string>{"link:a", "link:bc!", "RxFlag"}));
  EXPECT_EQ(loop.Served(), served + 1);  // one hand-over for all three sets
}

namespace {
struct CutShortRow {
  const char* name;
  std::function<void(FakeSerialDevice&)> cause;
  std::string told;  // what the delivery that cut the interval short logs
};
class HandOverCutShort : public Dispatch, public testing::WithParamInterface<CutShortRow> {};
}  // namespace

TEST_P(HandOverCutShort, DeliversWhatWasHeldAtOnce) {
  port().Buffer().SetInputSize(1024);
  port().SetHandOverInterval(kLongInterval);
  port().RegisterLink(BufferLink("link"));
  OpenPort();
  device().Receive("a");
  ASSERT_TRUE(loop.RunUntil([&] { return Logged("link:a"); }));
  device().Receive("x");
  ASSERT_TRUE(WaitUntil([&] { return device().PendingEvents() == 0; }));
  GetParam().cause(device());
  ASSERT_TRUE(loop.RunUntil([&] { return Logged(GetParam().told); }));
  const std::vector<std::string> lines = Log();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& e) { return e.rfind("link:x", 0) == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, HandOverCutShort,
    testing::Values(CutShortRow{"EventCharacter", [](FakeSerialDevice& d) { d.Receive("\r", EV_RXCHAR | EV_RXFLAG); },
                                "RxFlag"},
                    CutShortRow{"LineError", [](FakeSerialDevice& d) { d.Announce(EV_ERR, {erFraming}); }, "Error(1)"},
                    CutShortRow{"Break", [](FakeSerialDevice& d) { d.Announce(EV_BREAK); }, "Break"},
                    // A quarter of the 1024-byte queue is 256 bytes.
                    CutShortRow{"QueuePastAQuarter", [](FakeSerialDevice& d) { d.Receive(std::string(256, 'q')); },
                                "link:x" + std::string(256, 'q')},
                    CutShortRow{"HangUp", [](FakeSerialDevice& d) { d.Lose(); }, "LineLost"}),
    [](const testing::TestParamInfo<CutShortRow>& row) { return std::string(row.param.name); });
