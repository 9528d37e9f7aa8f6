// The device layer below the port: its input queue, the received-byte
// filter, and the Linux device on a pseudo-terminal (events, read
// time-outs, hang-up).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>

#include "main_loop_support.h"
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
  TComTimeouts timeouts;
  ASSERT_EQ(device->SetTimeouts(timeouts), 0);
  char out[8];
  int read = -1;
  EXPECT_EQ(device->Read(out, 8, read), 0);
  EXPECT_EQ(read, 0);
}

TEST_F(DeviceOnPty, ReadTimeOutsCanWaitForTheFirstByte) {
  TComTimeouts timeouts;
  timeouts.SetReadInterval(-1);
  timeouts.SetReadTotalMultiplier(-1);
  timeouts.SetReadTotalConstant(60000);
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
  TComTimeouts timeouts;
  timeouts.SetReadInterval(0);  // and no totals: waits for all 8 bytes
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
