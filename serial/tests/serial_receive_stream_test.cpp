// Received bytes on their way from a real pseudo-terminal through the device
// layer's queue and the event thread to the links on the main thread: long
// streams, a stalled main thread, overflow, hang-up, and the main window's
// seven framers.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "main_loop_support.h"
#include "serial/SerialDevice.h"
#include "serial/TComDataPacket.h"
#include "serial/TComPort.h"
#include "testsupport/PtyPair.h"

namespace {
std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

class Stream : public testing::Test {
 protected:
  Stream() : port(&loop) {
    port.SetPort(pty.SlavePath());
    port.SetBaudRate(br115200);
    port.Parity().SetBits(prEven);
    port.Buffer().SetInputSize(120000);
  }
  // The feeder first: it read locals of the test body, whose stack the
  // closing port reuses.
  ~Stream() override {
    if (feeder.joinable()) feeder.join();
    port.Close();
  }

  // A link appending every chunk it gets to `into` (main thread only).
  TComLink& Collector(std::vector<std::string>& into) {
    TComLink& link = links.emplace_back();
    link.OnRxBuf = [this, &into](TCustomComPort&, const char* b, int n) {
      if (std::this_thread::get_id() != mainThread) offMainThread = true;
      into.emplace_back(b, static_cast<std::size_t>(n));
    };
    return link;
  }
  static std::size_t Total(const std::vector<std::string>& chunks) {
    std::size_t n = 0;
    for (const auto& c : chunks) n += c.size();
    return n;
  }
  static std::string Joined(const std::vector<std::string>& chunks) {
    std::string all;
    for (const auto& c : chunks) all += c;
    return all;
  }

  const std::thread::id mainThread = std::this_thread::get_id();
  bool offMainThread = false;
  std::deque<TComLink> links;
  std::thread feeder;
  PtyPair pty;
  TestMainLoop loop;
  TComPort port;
};
}  // namespace

TEST_F(Stream, MegabyteInRandomPiecesReachesEveryLinkIdenticalAndInOrder) {
  const std::string source = RandomBytes(1 << 20, 7);
  std::vector<std::string> first, second, third;
  port.RegisterLink(Collector(first));
  port.RegisterLink(Collector(second));
  port.RegisterLink(Collector(third));
  port.Open();

  std::atomic<std::size_t> delivered{0};
  links.front().OnRxBuf = [&, inner = links.front().OnRxBuf](TCustomComPort& p, const char* b, int n) {
    inner(p, b, n);
    delivered += static_cast<std::size_t>(n);
  };
  feeder = std::thread([&] {
    std::mt19937 random(11);
    std::size_t sent = 0;
    while (sent < source.size()) {
      // Stay well within the input queue whatever the main thread's pace.
      while (sent - delivered > 64 * 1024) std::this_thread::yield();
      const std::size_t piece = std::min<std::size_t>(1 + random() % 4096, source.size() - sent);
      pty.Write(source.substr(sent, piece));
      sent += piece;
    }
  });
  ASSERT_TRUE(loop.RunUntil([&] { return Total(third) >= source.size(); }, std::chrono::minutes(3)));
  EXPECT_EQ(Joined(first), source);
  EXPECT_EQ(first, second);  // the very same chunks, one by one
  EXPECT_EQ(first, third);
  EXPECT_FALSE(offMainThread);
  EXPECT_TRUE(port.TakeLineErrors().Empty());
}

TEST_F(Stream, MainThreadStalledForThreeSecondsLosesNothing) {
  const std::string source = RandomBytes(30000, 3);
  std::vector<std::string> chunks;
  port.RegisterLink(Collector(chunks));
  port.Open();
  // 30 KB at the line's pace of about 10 KB/s, while the main thread serves
  // nothing at all.
  feeder = std::thread([&] {
    for (std::size_t sent = 0; sent < source.size(); sent += 300) {
      pty.Write(source.substr(sent, 300));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  feeder.join();
  ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == static_cast<int>(source.size()); }));
  ASSERT_TRUE(loop.RunUntil([&] { return Total(chunks) >= source.size(); }));
  EXPECT_EQ(Joined(chunks), source);
  EXPECT_TRUE(port.TakeLineErrors().Empty());
}

TEST_F(Stream, QueueHoldsTenSecondsOfTheFullLineRate) {
  // 115200 baud with parity: 10473 bytes a second, 104730 in ten seconds.
  const std::string source = RandomBytes(104730, 5);
  std::vector<std::string> chunks;
  port.RegisterLink(Collector(chunks));
  port.Open();
  pty.Write(source);
  ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == static_cast<int>(source.size()); }));
  ASSERT_TRUE(loop.RunUntil([&] { return Total(chunks) >= source.size(); }));
  EXPECT_EQ(Joined(chunks), source);
}

TEST_F(Stream, OverflowRaisesRxOverflowAndKeepsTheNewestBytesOut) {
  port.Buffer().SetInputSize(1024);
  port.SetEvents({evError});  // nobody takes the bytes
  TComErrors reported;
  port.OnError = [&](TCustomComPort&, TComErrors errors) { reported = errors; };
  port.Open();
  const std::string source = RandomBytes(3000, 9);
  pty.Write(source);
  ASSERT_TRUE(loop.RunUntil([&] { return reported.Contains(erRxOverflow); }));
  EXPECT_EQ(port.BytesWaiting(), 1024);
  std::string queued(1024, '\0');
  EXPECT_EQ(port.ReadBytes(queued.data(), 1024), 1024);
  EXPECT_EQ(queued, source.substr(0, 1024));
}

TEST_F(Stream, WriteStringIsFollowedByTxEmpty) {
  bool empty = false;
  port.OnTxEmpty = [&](TCustomComPort&) { empty = true; };
  port.Open();
  port.WriteString("q0");
  ASSERT_TRUE(loop.RunUntil([&] { return empty; }));
}

TEST_F(Stream, HangUpEndsReceptionAndIsReportedOnTheMainThread) {
  std::vector<std::string> chunks;
  port.RegisterLink(Collector(chunks));
  int lost = 0;
  port.OnLineLost = [&](TCustomComPort&) {
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
    ++lost;
  };
  port.Open();
  pty.Write("before");
  ASSERT_TRUE(loop.RunUntil([&] { return Total(chunks) == 6; }));
  pty.HangUp();
  ASSERT_TRUE(loop.RunUntil([&] { return lost == 1; }));
  EXPECT_FALSE(port.EventThreadRunning());
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(offMainThread);
  EXPECT_THROW(port.WriteString("K"), EComPort);
  port.Close();
  EXPECT_EQ(lost, 1);
}

TEST_F(Stream, HandlerThatClosesAndReopensItsPortKeepsReceiving) {
  std::vector<std::string> chunks;
  TComLink& link = links.emplace_back();
  link.OnRxBuf = [&](TCustomComPort& sender, const char* b, int n) {
    chunks.emplace_back(b, static_cast<std::size_t>(n));
    sender.Close();  // what a set-up confirmation inside a delivery does
    sender.Open();
  };
  port.RegisterLink(link);
  port.Open();
  pty.Write("1");
  ASSERT_TRUE(loop.RunUntil([&] { return chunks.size() == 1; }));
  ASSERT_TRUE(port.Connected());
  pty.Write("2");
  ASSERT_TRUE(loop.RunUntil([&] { return chunks.size() == 2; }));
  EXPECT_EQ(Joined(chunks), "12");
}

TEST_F(Stream, SevenWindowFramersHandleThePulseFrameBeforeTheSampleFrame) {
  std::vector<std::pair<int, std::string>> delivered;
  std::deque<TComDataPacket> framers;
  const int starts[] = {0xFE, 0xF9, 0xFA, 0xFC, 0xFD, 0xFF, 0xF8};
  const int sizes[] = {9, 3, 3, 6, 0, 9, 5};
  for (int i = 0; i < 7; ++i) {
    TComDataPacket& framer = framers.emplace_back();
    framer.SetStartString(std::string(1, static_cast<char>(starts[i])));
    framer.SetSize(sizes[i]);
    if (starts[i] == 0xFD) framer.SetStopString(std::string(1, '\0'));
    framer.SetIncludeStrings(true);
    framer.OnPacket = [&, start = starts[i]](TComDataPacket&, const std::string& p) {
      delivered.emplace_back(start, p);
    };
    framer.SetComPort(&port);
  }
  port.Open();
  const std::string chunk("\xF8\x00\x10\x20\x30\xF9\x48\x00", 8);
  pty.Write(chunk);
  // All eight bytes wait before the first delivery, so they come as one chunk.
  ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 8; }));
  ASSERT_TRUE(loop.RunUntil([&] { return delivered.size() == 2; }));
  EXPECT_EQ(delivered, (std::vector<std::pair<int, std::string>>{{0xF9, chunk.substr(5)}, {0xF8, chunk.substr(0, 5)}}));
  port.Close();
  for (TComDataPacket& framer : framers) framer.SetComPort(nullptr);
}

namespace {
// Frames of a stream in which every frame differs and a packet cut from two
// frames shows: the start byte, a running counter in four 7-bit digits
// (least significant first), then the same digits in reverse.
constexpr std::size_t kFrameSize = 9;

std::string CountedFrame(std::uint32_t counter) {
  std::string frame(kFrameSize, '\0');
  frame[0] = static_cast<char>(0xF8);
  for (std::size_t d = 0; d < 4; ++d) {
    const char digit = static_cast<char>((counter >> (7 * d)) & 0x7F);
    frame[1 + d] = digit;
    frame[8 - d] = digit;
  }
  return frame;
}

std::uint32_t CounterOf(const std::string& packet) {
  std::uint32_t counter = 0;
  for (std::size_t d = 0; d < 4; ++d) counter |= static_cast<std::uint32_t>(packet[1 + d] & 0x7F) << (7 * d);
  return counter;
}

std::string CountedFrames(std::uint32_t from, std::uint32_t count) {
  std::string frames;
  for (std::uint32_t c = from; c < from + count; ++c) frames += CountedFrame(c);
  return frames;
}
}  // namespace

TEST_F(Stream, BurstBeyondTheQueueWhileTheMainThreadIsHeldCutsOnlyWholeFrames) {
  TComDataPacket framer;
  framer.SetStartString("\xF8");
  framer.SetSize(kFrameSize);
  framer.SetIncludeStrings(true);
  std::vector<std::string> packets;
  framer.OnPacket = [&](TComDataPacket&, const std::string& p) { packets.push_back(p); };
  framer.SetComPort(&port);
  int overflows = 0;
  TComErrors errors;
  port.OnRxOverflow = [&](TCustomComPort&) { ++overflows; };
  port.OnError = [&](TCustomComPort&, TComErrors e) { errors = TComErrors::FromBits(errors.Bits() | e.Bits()); };
  port.Open();

  // About 200 KB into the 120000-byte queue while nothing is served.
  const std::uint32_t burst = 22222;
  pty.Write(CountedFrames(0, burst));
  ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 120000; }));
  ASSERT_TRUE(loop.RunUntil([&] { return overflows > 0 && port.BytesWaiting() == 0; }));
  const std::uint32_t tail = 100;
  pty.Write(CountedFrames(burst, tail));
  // The line error may come in a later set of events than the bytes.
  ASSERT_TRUE(loop.RunUntil([&] {
    return !packets.empty() && CounterOf(packets.back()) == burst + tail - 1 && errors.Contains(erRxOverflow);
  }));

  EXPECT_LT(packets.size(), static_cast<std::size_t>(burst + tail));
  std::size_t spliced = 0;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    if (packets[i] != CountedFrame(CounterOf(packets[i]))) ++spliced;
    if (i > 0) {
      EXPECT_LT(CounterOf(packets[i - 1]), CounterOf(packets[i]));
    }
  }
  EXPECT_EQ(spliced, 0u);
  port.Close();
  framer.SetComPort(nullptr);
}

namespace {
// Drain intervals: at every arrival, and the cap.
class StreamDrained : public Stream, public testing::WithParamInterface<int> {};
}  // namespace

TEST_P(StreamDrained, MainThreadHeldTenSecondsInADeliveryAtTheFullLineRateLosesNothing) {
  port.SetHandOverInterval(10);  // as the window sets it
  port.SetDrainInterval(GetParam());
  // 115200 baud with parity: 10473 bytes a second, 104730 in ten seconds.
  const std::string source = RandomBytes(104730, 13);
  std::vector<std::string> chunks;
  std::atomic<bool> fed{false};
  TComLink& link = Collector(chunks);
  // The first delivery holds the main thread until the stream has ended,
  // as a modal dialog opened from a handler would.
  link.OnRxBuf = [&, inner = link.OnRxBuf](TCustomComPort& p, const char* b, int n) {
    const bool first = chunks.empty();
    inner(p, b, n);
    if (first) WaitUntil([&] { return fed.load(); }, std::chrono::minutes(2));
  };
  port.RegisterLink(link);
  port.Open();
  feeder = std::thread([&] {
    constexpr std::size_t kPiece = 105;  // every 10 ms
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t sent = 0, i = 0; sent < source.size(); sent += kPiece, ++i) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * i));
      pty.Write(source.substr(sent, kPiece));
    }
    fed = true;
  });
  ASSERT_TRUE(loop.RunUntil([&] { return Total(chunks) >= source.size(); }, std::chrono::minutes(3)));
  EXPECT_EQ(Joined(chunks), source);
  EXPECT_TRUE(port.TakeLineErrors().Empty());
}

INSTANTIATE_TEST_SUITE_P(Interval, StreamDrained, testing::Values(0, kMaxDrainInterval));
