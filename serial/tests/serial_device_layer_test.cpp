// The device layer below the port: its input queue, the received-byte
// filter, the line events read off the kernel's counters, and the Linux
// device on a pseudo-terminal (events, read time-outs, hang-up).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>

#include "main_loop_support.h"
#include "serial/InputQueue.h"
#include "serial/LineEvents.h"
#include "serial/ReceiveFilter.h"
#include "serial/Ring.h"
#include "serial/SerialDevice.h"
#include "testsupport/PtyPair.h"

// ---- the ring behind the input queue ----

TEST(ByteRing, KeepsOrderAcrossTheWrapAround) {
  ByteRing ring(8);
  char out[8];
  for (int round = 0; round < 5; ++round) {
    EXPECT_EQ(ring.Push("abcde", 5), 5u);
    EXPECT_EQ(ring.Pop(out, 5), 5u);
    EXPECT_EQ(std::string(out, 5), "abcde");
  }
  EXPECT_EQ(ring.Size(), 0u);
}

TEST(Ring, QueuesRecordsFirstInFirstOutAcrossTheWrapAround) {
  TRing<std::array<int, 2>> ring(3);
  EXPECT_TRUE(ring.Empty());
  for (int i = 0; i < 3; ++i) ring.PushBack({i, -i});
  EXPECT_TRUE(ring.Full());
  EXPECT_EQ(ring.PopFront()[0], 0);
  ring.PushBack({3, -3});  // wraps
  ring.At(0)[1] = 99;
  EXPECT_EQ(ring.Front(), (std::array<int, 2>{1, 99}));
  EXPECT_EQ(ring.At(2)[0], 3);
  EXPECT_EQ(ring.Size(), 3u);
  ring.Clear();
  EXPECT_TRUE(ring.Empty());
}

TEST(ByteRing, RefusesWhatDoesNotFit) {
  ByteRing ring(4);
  EXPECT_EQ(ring.Push("abcdef", 6), 4u);
  EXPECT_EQ(ring.Push("g", 1), 0u);
  char out[4];
  EXPECT_EQ(ring.Pop(out, 10), 4u);
  EXPECT_EQ(std::string(out, 4), "abcd");
}

TEST(ByteRing, ResizeKeepsTheOldestBytes) {
  ByteRing ring(6);
  ring.Push("xyz", 3);
  char skip[2];
  ring.Pop(skip, 2);
  ring.Push("12345", 5);  // wraps: "z12345"
  EXPECT_EQ(ring.Resize(4), 2u);
  char out[4];
  EXPECT_EQ(ring.Pop(out, 4), 4u);
  EXPECT_EQ(std::string(out, 4), "z123");
  EXPECT_EQ(ring.Resize(10), 0u);
  EXPECT_EQ(ring.Capacity(), 10u);
}

// ---- ReceiveFilter ----

namespace {
std::string Filtered(ReceiveFilter& filter, const std::string& in) {
  std::string out;
  filter.Process(in.data(), in.size(), out);
  return out;
}
}  // namespace

TEST(ReceiveFilter, PassesEveryByteUnchangedByDefault) {
  ReceiveFilter filter;
  const std::string all("\x00\xFF\x11\x13\x0D\x0A", 6);
  EXPECT_EQ(Filtered(filter, all), all);
}

TEST(ReceiveFilter, DropsZeroBytesWhenAskedTo) {
  ReceiveFilter filter;
  filter.Configure({false, true, 0});
  EXPECT_EQ(Filtered(filter, std::string("a\0b\0", 4)), "ab");
}

TEST(ReceiveFilter, ReplacesMarkedBytesAndCountsThem) {
  ReceiveFilter filter;
  filter.Configure({true, false, '?'});
  EXPECT_EQ(Filtered(filter, std::string("a\xFF\x00zb\xFF\xFF", 7)), "a?b\xFF");
  EXPECT_EQ(filter.TakeErrorBytes(), 1u);
  EXPECT_EQ(filter.TakeErrorBytes(), 0u);
  EXPECT_EQ(Filtered(filter, std::string("\xFF\x00\x00", 3)), "");
  EXPECT_EQ(filter.TakeBreaks(), 1u);
}

TEST(ReceiveFilter, JoinsAMarkSplitOverTwoReads) {
  ReceiveFilter filter;
  filter.Configure({true, false, '#'});
  EXPECT_EQ(Filtered(filter, std::string("x\xFF", 2)), "x");
  EXPECT_EQ(Filtered(filter, std::string("\x00", 1)), "");
  EXPECT_EQ(Filtered(filter, "qy"), "#y");
}

// ---- the input queue ----

namespace {
std::string Taken(InputQueue& queue, std::vector<std::size_t>& gaps) {
  std::vector<char> data;
  queue.TakeAll(data, gaps);
  return {data.begin(), data.end()};
}
}  // namespace

TEST(InputQueue, ReportsEachGapWhereTheBytesAroundItWereQueued) {
  InputQueue queue(4);
  EXPECT_EQ(queue.Arrive("abcdef", 6).errors, TComErrors{erRxOverflow});  // "ef" refused
  char first[2];
  ASSERT_EQ(queue.Pop(first, 2), 2u);
  queue.Arrive("gh", 2);
  std::vector<std::size_t> gaps;
  EXPECT_EQ(Taken(queue, gaps), "cdgh");
  EXPECT_EQ(gaps, std::vector<std::size_t>{2});
  queue.Arrive("i", 1);
  EXPECT_EQ(Taken(queue, gaps), "i");
  EXPECT_TRUE(gaps.empty()) << "a gap is reported once";
}

TEST(InputQueue, GapBehindTheLastByteComesWithIt) {
  InputQueue queue(2);
  queue.Arrive("xyz", 3);
  std::vector<std::size_t> gaps;
  EXPECT_EQ(Taken(queue, gaps), "xy");
  EXPECT_EQ(gaps, std::vector<std::size_t>{2});
}

TEST(InputQueue, ShrinkingDropsTheNewestBytesAndLeavesAGap) {
  InputQueue queue(8);
  queue.Arrive("abcdef", 6);
  const InputQueue::Outcome outcome = queue.Resize(4);
  EXPECT_EQ(outcome.events, EV_ERR);
  EXPECT_EQ(outcome.errors, TComErrors{erRxOverflow});
  char first[2];
  ASSERT_EQ(queue.Pop(first, 2), 2u);
  queue.Arrive("g", 1);
  std::vector<std::size_t> gaps;
  EXPECT_EQ(Taken(queue, gaps), "cdg");
  EXPECT_EQ(gaps, std::vector<std::size_t>{2});
}

TEST(InputQueue, ClearingForgetsTheGaps) {
  InputQueue queue(2);
  queue.Arrive("abc", 3);
  queue.Clear();
  queue.Arrive("d", 1);
  std::vector<std::size_t> gaps;
  EXPECT_EQ(Taken(queue, gaps), "d");
  EXPECT_TRUE(gaps.empty());
}

TEST(InputQueue, ArrivalEventsFollowWhatWasQueued) {
  InputQueue queue(10);
  queue.Configure({}, '\r');
  EXPECT_EQ(queue.Arrive("abc", 3).events, EV_RXCHAR);
  EXPECT_EQ(queue.Arrive("d\re", 3).events, EV_RXCHAR | EV_RXFLAG);
  EXPECT_EQ(queue.Arrive("fg", 2).events, EV_RXCHAR | EV_RX80FULL);  // 8 of 10
  EXPECT_EQ(queue.Arrive("h", 1).events, EV_RXCHAR) << "only when passing 80 %";
  EXPECT_EQ(queue.Arrive("ijk", 3).events, EV_RXCHAR | EV_ERR);
  EXPECT_EQ(queue.Arrive("l", 1).events, EV_ERR) << "nothing queued: no received-byte event";
}

// ---- line events from the kernel's counters ----

namespace {
using Counter = int serial_icounter_struct::*;
struct CounterCase {
  const char* name;
  Counter counter;
  std::uint32_t events;
  TComErrors errors;
};

class CounterMoved : public testing::TestWithParam<CounterCase> {};
}  // namespace

TEST_P(CounterMoved, IsReportedAsItsEventAndError) {
  const CounterCase& c = GetParam();
  serial_icounter_struct was{};
  was.rx = 100;
  serial_icounter_struct now = was;
  now.rx = 250;  // bytes received alone tell nothing
  EXPECT_EQ(LineEventsBetween(was, now).events, 0u);
  now.*c.counter += 3;
  const LineEvents got = LineEventsBetween(was, now);
  EXPECT_EQ(got.events, c.events);
  EXPECT_EQ(got.errors, c.errors);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCounter, CounterMoved,
    testing::Values(CounterCase{"frame", &serial_icounter_struct::frame, EV_ERR, {erFraming}},
                    CounterCase{"parity", &serial_icounter_struct::parity, EV_ERR, {erParity}},
                    CounterCase{"overrun", &serial_icounter_struct::overrun, EV_ERR, {erOverrun}},
                    CounterCase{"buf_overrun", &serial_icounter_struct::buf_overrun, EV_ERR, {erRxOverflow}},
                    CounterCase{"brk", &serial_icounter_struct::brk, EV_BREAK, {erBreak}},
                    CounterCase{"cts", &serial_icounter_struct::cts, EV_CTS, {}},
                    CounterCase{"dsr", &serial_icounter_struct::dsr, EV_DSR, {}},
                    CounterCase{"dcd", &serial_icounter_struct::dcd, EV_RLSD, {}},
                    CounterCase{"rng", &serial_icounter_struct::rng, EV_RING, {}}),
    [](const testing::TestParamInfo<CounterCase>& param) { return std::string(param.param.name); });

TEST(LineEvents, SeveralCountersMovedAtOnceAddUp) {
  serial_icounter_struct was{};
  serial_icounter_struct now{};
  now.frame = now.brk = now.dcd = 1;
  const LineEvents got = LineEventsBetween(was, now);
  EXPECT_EQ(got.events, EV_ERR | EV_BREAK | EV_RLSD);
  EXPECT_EQ(got.errors, (TComErrors{erFraming, erBreak}));
}

namespace {
struct ModemCase {
  int was;
  int now;
  std::uint32_t events;
};
class ModemLinesChanged : public testing::TestWithParam<ModemCase> {};
}  // namespace

TEST_P(ModemLinesChanged, AreReportedWithoutErrors) {
  const ModemCase& c = GetParam();
  const LineEvents got = ModemLineEventsBetween(c.was, c.now);
  EXPECT_EQ(got.events, c.events);
  EXPECT_TRUE(got.errors.Empty());
}

INSTANTIATE_TEST_SUITE_P(Table, ModemLinesChanged,
                         testing::Values(ModemCase{0, 0, 0}, ModemCase{0, TIOCM_CTS, EV_CTS},
                                         ModemCase{TIOCM_CTS, 0, EV_CTS}, ModemCase{TIOCM_DSR, 0, EV_DSR},
                                         ModemCase{0, TIOCM_CD, EV_RLSD}, ModemCase{0, TIOCM_RI, EV_RING},
                                         ModemCase{TIOCM_RI, 0, 0},  // ring: the rising edge only
                                         ModemCase{TIOCM_DTR, TIOCM_RTS, 0},  // our own lines
                                         ModemCase{TIOCM_CTS | TIOCM_CD, TIOCM_DSR, EV_CTS | EV_DSR | EV_RLSD}));

// ---- the Linux device on a pty ----

namespace {
class DeviceOnPty : public testing::Test {
 protected:
  DeviceOnPty() {
    int error = 0;
    device = OpenPosixSerialDevice(pty.SlavePath(), error);
    EXPECT_EQ(error, 0);
    EXPECT_NE(device, nullptr);
    TLineSettings settings;
    settings.BaudRate = br115200;
    EXPECT_EQ(device->SetLineSettings(MakeDeviceControlBlock(settings)), 0);
  }
  ~DeviceOnPty() override { device->Close(); }

  // Waits until one of `events` is pending and returns all pending ones.
  std::uint32_t WaitForEvents(std::uint32_t events, bool* lost = nullptr) {
    std::uint32_t seen = 0;
    bool lineLost = false;
    WaitUntil([&] {
      pollfd p{device->EventDescriptor(), POLLIN, 0};
      if (poll(&p, 1, 10) > 0) seen |= device->TakeEvents(lineLost);
      return (seen & events) != 0 || lineLost;
    });
    if (lost) *lost = lineLost;
    return seen;
  }
  int Waiting() {
    int count = 0;
    TComErrors errors;
    device->QueueStatus(count, errors);
    return count;
  }

  PtyPair pty;
  std::shared_ptr<SerialDevice> device;
};
}  // namespace

TEST_F(DeviceOnPty, ReceivedBytesRaiseRxCharOnlyWhenAskedFor) {
  pty.Write("ab");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 2; }));
  bool lost = true;
  EXPECT_EQ(device->TakeEvents(lost), 0u);  // mask 0: nothing reported
  EXPECT_FALSE(lost);

  device->SetEventMask(EV_RXCHAR);
  pty.Write("c");
  EXPECT_EQ(WaitForEvents(EV_RXCHAR), EV_RXCHAR);
}

TEST_F(DeviceOnPty, EventCharacterRaisesRxFlag) {
  TLineSettings settings;
  settings.EventChar = '\r';
  ASSERT_EQ(device->SetLineSettings(MakeDeviceControlBlock(settings)), 0);
  device->SetEventMask(EV_RXFLAG);
  pty.Write("no flag here");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 12; }));
  pty.Write("line\r");
  EXPECT_EQ(WaitForEvents(EV_RXFLAG), EV_RXFLAG);
}

TEST_F(DeviceOnPty, QueuePassingEightyPercentRaisesRx80Full) {
  ASSERT_EQ(device->SetQueueSizes(1000, 1024), 0);
  device->SetEventMask(EV_RX80FULL);
  pty.Write(std::string(799, 'a'));
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 799; }));
  bool lost;
  EXPECT_EQ(device->TakeEvents(lost), 0u);
  pty.Write("b");
  EXPECT_EQ(WaitForEvents(EV_RX80FULL), EV_RX80FULL);
}

TEST_F(DeviceOnPty, OverflowIsALineErrorEvent) {
  ASSERT_EQ(device->SetQueueSizes(16, 1024), 0);
  device->SetEventMask(EV_ERR);
  pty.Write(std::string(40, 'x'));
  EXPECT_EQ(WaitForEvents(EV_ERR), EV_ERR);
  int count = 0;
  TComErrors errors;
  ASSERT_EQ(device->QueueStatus(count, errors), 0);
  EXPECT_EQ(count, 16);
  EXPECT_EQ(errors, TComErrors{erRxOverflow});
  ASSERT_EQ(device->QueueStatus(count, errors), 0);
  EXPECT_TRUE(errors.Empty());  // taken once
}

TEST_F(DeviceOnPty, DiscardNullDropsZeroBytes) {
  TLineSettings settings;
  settings.DiscardNull = true;
  ASSERT_EQ(device->SetLineSettings(MakeDeviceControlBlock(settings)), 0);
  pty.Write(std::string("a\0b\0c", 5));
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 3; }));
  char out[3];
  int read = 0;
  ASSERT_EQ(device->Read(out, 3, read), 0);
  EXPECT_EQ(std::string(out, 3), "abc");
}

TEST_F(DeviceOnPty, DefaultReadTimeOutsReturnAtOnceWithWhatIsThere) {
  ASSERT_EQ(device->SetTimeouts(TDeviceTimeouts{}), 0);
  char out[8];
  int read = -1;
  EXPECT_EQ(device->Read(out, 8, read), 0);
  EXPECT_EQ(read, 0);
}

TEST_F(DeviceOnPty, ReadTimeOutsCanWaitForTheFirstByte) {
  TDeviceTimeouts timeouts;
  timeouts.ReadInterval = kNoTimeLimit;
  timeouts.ReadTotalMultiplier = kNoTimeLimit;
  timeouts.ReadTotalConstant = 60000;
  ASSERT_EQ(device->SetTimeouts(timeouts), 0);
  std::thread writer([&] { pty.Write("late"); });
  char out[8];
  int read = 0;
  EXPECT_EQ(device->Read(out, 8, read), 0);
  writer.join();
  EXPECT_GE(read, 1);
  EXPECT_EQ(std::string(out, static_cast<std::size_t>(read)),
            std::string("late").substr(0, static_cast<std::size_t>(read)));
}

TEST_F(DeviceOnPty, ReadWaitingForBytesEndsWhenTheLineIsLost) {
  TDeviceTimeouts timeouts;
  timeouts.ReadInterval = 0;  // and no totals: waits for all 8 bytes
  ASSERT_EQ(device->SetTimeouts(timeouts), 0);
  std::thread hangUp([&] { pty.HangUp(); });
  char out[8];
  int read = -1;
  EXPECT_EQ(device->Read(out, 8, read), 0);
  hangUp.join();
  EXPECT_EQ(read, 0);
}

TEST_F(DeviceOnPty, HangUpIsAnnouncedAndNothingMoreComes) {
  device->SetEventMask(EV_RXCHAR);
  pty.HangUp();
  bool lost = false;
  WaitForEvents(0, &lost);
  EXPECT_TRUE(lost);
  // Announced once: the descriptor is quiet afterwards instead of spinning.
  pollfd p{device->EventDescriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  int written = 0;
  EXPECT_EQ(device->Write("x", 1, written), EIO);
}

TEST_F(DeviceOnPty, PurgeEmptiesTheInputQueue) {
  pty.Write("stale");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 5; }));
  EXPECT_EQ(device->Purge(PURGE_RXCLEAR), 0);
  EXPECT_EQ(Waiting(), 0);
}

TEST_F(DeviceOnPty, ClosedDeviceRefusesWithBadDescriptor) {
  device->Close();
  device->Close();  // twice is fine
  int written = 0, read = 0, count = 0;
  TComErrors errors;
  std::uint32_t status = 0;
  char out[1];
  EXPECT_EQ(device->Write("x", 1, written), EBADF);
  EXPECT_EQ(device->Read(out, 1, read), EBADF);
  EXPECT_EQ(device->QueueStatus(count, errors), EBADF);
  EXPECT_EQ(device->ModemStatus(status), EBADF);
  EXPECT_EQ(device->Escape(TEscapeFunction::SetDTR), EBADF);
  EXPECT_EQ(device->Purge(PURGE_RXCLEAR), EBADF);
}

TEST_F(DeviceOnPty, QueueSizeBelowOneIsRefused) {
  EXPECT_EQ(device->SetQueueSizes(0, 1024), EINVAL);
  EXPECT_EQ(device->SetQueueSizes(1024, -2), EINVAL);
  EXPECT_EQ(device->SetQueueSizes(120000, 1024), 0);
}

// ---- the drain interval ----

namespace {
// Feeds single bytes, each once the one before was queued, until the device
// drains on its schedule: arrivals within the interval make a stream.
bool StreamUntilTimed(PtyPair& pty, SerialDevice& device) {
  return WaitUntil([&] {
    int before = 0;
    device.InputCount(before);
    pty.Write("s");
    WaitUntil([&] {
      int now = 0;
      device.InputCount(now);
      return now > before;
    });
    return device.NextDrainInMs() >= 0;
  });
}

struct WhileAsleep {
  const char* name;
  std::string bytes;     // from the module's end; empty: it hangs up
  std::uint32_t events;  // looked for (none with a hang-up)
};
class DrainedOnSchedule : public DeviceOnPty, public testing::WithParamInterface<WhileAsleep> {};
}  // namespace

TEST_P(DrainedOnSchedule, NoticesWhatCameWhileItSleptAtTheNextDrain) {
  // Marked line errors and breaks, as a UART's line discipline puts them
  // (a pseudo-terminal cannot make them: the marks are written as they are,
  // with the kernel's marking switched off under the device's back).
  TLineSettings settings;
  settings.Parity.SetCheck(true);
  settings.Parity.SetReplace(true);
  settings.Parity.SetReplaceChar('?');
  ASSERT_EQ(device->SetLineSettings(MakeDeviceControlBlock(settings)), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
  t.c_iflag &= ~static_cast<tcflag_t>(PARMRK);
  ASSERT_EQ(tcsetattr(pty.MasterFd(), TCSANOW, &t), 0);
  device->SetEventMask(EV_RXCHAR | EV_ERR | EV_BREAK);
  device->SetDrainInterval(kMaxDrainInterval);
  ASSERT_TRUE(StreamUntilTimed(pty, *device));

  const WhileAsleep& c = GetParam();
  if (c.bytes.empty()) pty.HangUp();
  else pty.Write(c.bytes);
  bool lost = false;
  const std::uint32_t seen = WaitForEvents(c.events, &lost);
  if (c.bytes.empty()) EXPECT_TRUE(lost);
  else EXPECT_EQ(seen & c.events, c.events);
}

INSTANTIATE_TEST_SUITE_P(Table, DrainedOnSchedule,
                         testing::Values(WhileAsleep{"HangUp", "", 0},
                                         WhileAsleep{"Break", std::string("\xFF\x00\x00", 3), EV_BREAK},
                                         WhileAsleep{"ParityError", std::string("\xFF\x00q", 3), EV_ERR}),
                         [](const testing::TestParamInfo<WhileAsleep>& row) { return std::string(row.param.name); });

TEST_F(DeviceOnPty, PausedStreamSendsTheDrainBackToWaitingOnTheLine) {
  device->SetDrainInterval(kMaxDrainInterval);
  ASSERT_TRUE(StreamUntilTimed(pty, *device));
  // Not a timer that keeps waking the thread while nothing comes.
  ASSERT_TRUE(WaitUntil([&] { return device->NextDrainInMs() < 0; }));
  pty.Write("later");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() >= 5; }));
}

TEST_F(DeviceOnPty, DrainIntervalIsHeldAtItsCap) {
  device->SetDrainInterval(60000);
  ASSERT_TRUE(StreamUntilTimed(pty, *device));
  EXPECT_LE(device->NextDrainInMs(), kMaxDrainInterval);
  device->SetDrainInterval(0);  // back to every arrival at once
  EXPECT_LT(device->NextDrainInMs(), 0);
}

TEST(DeviceOpening, LineIsRawBeforeAnythingReadsIt) {
  PtyPair pty;
  // A terminal as the system leaves it: canonical lines, echo, CR to NL.
  termios cooked{};
  ASSERT_EQ(tcgetattr(pty.MasterFd(), &cooked), 0);
  cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  cooked.c_iflag |= ICRNL;
  cooked.c_oflag |= OPOST;
  ASSERT_EQ(tcsetattr(pty.MasterFd(), TCSANOW, &cooked), 0);
  int error = 0;
  std::shared_ptr<SerialDevice> device = OpenPosixSerialDevice(pty.SlavePath(), error);
  ASSERT_NE(device, nullptr);
  // No line settings handed over yet: the reader already runs, and a module
  // that streams must be neither echoed nor cooked.
  termios t{};
  ASSERT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  device->Close();
}

// ---- the event thread as the device's watcher ----

namespace {
// An eventfd standing for one of the watcher's own descriptors.
class Signal {
 public:
  Signal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Signal() { ::close(fd_); }
  void Raise() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
  }
  int Fd() const { return fd_; }

 private:
  int fd_;
};
}  // namespace

TEST_F(DeviceOnPty, WatcherReadsTheLineAndTakesItsEventsWithoutASignal) {
  device->SetEventMask(EV_RXCHAR);
  ASSERT_TRUE(device->AttachWatcher());
  EXPECT_FALSE(device->AttachWatcher()) << "one watcher at a time";
  pty.Write("abc");
  bool lost = false;
  std::uint32_t events = 0;
  ASSERT_TRUE(WaitUntil([&] {
    EXPECT_EQ(device->Watch(nullptr, 0), 0);
    events |= device->TakeEvents(lost);
    return Waiting() == 3;
  }));
  events |= device->TakeEvents(lost);
  EXPECT_EQ(events, EV_RXCHAR);
  EXPECT_FALSE(lost);
  device->DetachWatcher();

  // The device's own reader takes over again and signals as before.
  pty.Write("d");
  EXPECT_EQ(WaitForEvents(EV_RXCHAR), EV_RXCHAR);
  EXPECT_EQ(Waiting(), 4);
}

TEST_F(DeviceOnPty, WatchReturnsForTheWatchersOwnDescriptors) {
  ASSERT_TRUE(device->AttachWatcher());
  Signal quiet, raised;
  raised.Raise();
  pollfd extra[2] = {{quiet.Fd(), POLLIN, 0}, {raised.Fd(), POLLIN, 0}};
  ASSERT_EQ(device->Watch(extra, 2), 0);
  EXPECT_EQ(extra[0].revents, 0);
  EXPECT_TRUE(extra[1].revents & POLLIN);
  device->DetachWatcher();
}

TEST_F(DeviceOnPty, WatcherSeesTheHangUpOnceAndThenOnlyItsOwnDescriptors) {
  device->SetEventMask(EV_RXCHAR);
  ASSERT_TRUE(device->AttachWatcher());
  pty.Write("last");
  bool lost = false;
  std::uint32_t events = 0;
  ASSERT_TRUE(WaitUntil([&] {
    device->Watch(nullptr, 0);
    events |= device->TakeEvents(lost);
    return Waiting() == 4;
  }));
  pty.HangUp();
  ASSERT_TRUE(WaitUntil([&] {
    device->Watch(nullptr, 0);
    events |= device->TakeEvents(lost);
    return lost;
  }));
  EXPECT_EQ(events, EV_RXCHAR);
  EXPECT_EQ(Waiting(), 4);
  // The hung-up line is not looked at again: a wait returns for the
  // watcher's own descriptor only.
  Signal stop;
  stop.Raise();
  pollfd extra{stop.Fd(), POLLIN, 0};
  ASSERT_EQ(device->Watch(&extra, 1), 0);
  EXPECT_TRUE(extra.revents & POLLIN);
  device->DetachWatcher();
}

TEST_F(DeviceOnPty, CloseReleasesTheTerminalWhileAWatcherWaitsOnTheLine) {
  ASSERT_TRUE(device->AttachWatcher());
  Signal stop;
  std::thread watcher([&] {
    pollfd extra{stop.Fd(), POLLIN, 0};
    while (!(extra.revents & POLLIN)) {
      extra.revents = 0;
      device->Watch(&extra, 1);
    }
    device->DetachWatcher();
  });
  device->Close();
  int written = 0;
  EXPECT_EQ(device->Write("x", 1, written), EBADF);
  // Released at once, with the watcher still attached: the terminal can be
  // opened again (a handler that closes and reopens its port needs that).
  int error = 0;
  auto again = OpenPosixSerialDevice(pty.SlavePath(), error);
  EXPECT_EQ(error, 0);
  ASSERT_NE(again, nullptr);
  again->Close();
  // The watcher's waits no longer look at the line, only at its own
  // descriptors.
  stop.Raise();
  watcher.join();
  EXPECT_FALSE(device->AttachWatcher()) << "a closed device has nothing to watch";
}
