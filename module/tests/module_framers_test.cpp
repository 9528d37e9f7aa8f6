// The window's seven framers: how they are set up, which handler each frame
// reaches, the order in which one chunk's frames are handled, and the
// binding to a real port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "handlers_support.h"
#include "module/ModuleFramers.h"
#include "module/SetupCommand.h"
#include "serial/TComPort.h"

namespace {

using module_test::Bytes;
using Selection = std::array<bool, kChannelBoxCount>;

constexpr Selection kIToIII{true, true, true, false, false, false, false, false};

// A view that also writes down, in order, which handler showed something and
// how many records the store held at that moment.
class OrderView : public module_test::RecordingView {
 public:
  explicit OrderView(SampleStore& store) : RecordingView(store), store_(store) {}
  void RecordCount(int told, bool lost) override {
    log.push_back("sample@" + std::to_string(store().Count()));
    RecordingView::RecordCount(told, lost);
  }
  void PulseReceived(int value) override {
    log.push_back("pulse@" + std::to_string(store().Count()));
    RecordingView::PulseReceived(value);
  }
  std::vector<std::string> log;

 private:
  SampleStore& store() { return store_; }
  SampleStore& store_;
};

// The window's reception without its window: store, handlers and the seven
// framers, set up for eight channels I, II, III and recording.
struct Reception {
  Reception()
      : view(store),
        handlers(
            store, view, [this] { view.StopAtLimit(); }, [] { return module_test::kFixedClock; }),
        framers(handlers) {}

  void SetUp8(const Selection& selection) {
    handlers.SetDecoding(false, selection);
    framers.SetEightChannelSizes(SelectedChannelCount(selection));
  }
  void SetUp12() {
    handlers.SetDecoding(true, ChannelBoxDefaults);
    framers.SetTwelveChannelSizes();
  }
  void Read() {
    store.BeginRecording();
    store.Settings().state = AcquisitionState::Receiving;
  }

  SampleStore store;
  OrderView view;
  TFrameHandlers handlers;
  TModuleFramers framers;
};

class ModuleFramers : public testing::Test {
 protected:
  Reception rx;
  TModuleFramers& framers = rx.framers;
};

// ---- Configuration ------------------------------------------------------------

struct FramerCase {
  const char* name;
  TComDataPacket TModuleFramers::*framer;
  int start;
  int size;
  std::string stop;
};

class FramerAsCreated : public ModuleFramers, public testing::WithParamInterface<FramerCase> {};

TEST_P(FramerAsCreated, HasItsStartByteSizeAndStopByte) {
  const TComDataPacket& framer = framers.*GetParam().framer;
  EXPECT_EQ(framer.StartString(), std::string(1, static_cast<char>(GetParam().start)));
  EXPECT_EQ(framer.Size(), GetParam().size);
  EXPECT_EQ(framer.StopString(), GetParam().stop);
  EXPECT_TRUE(framer.IncludeStrings());
  EXPECT_FALSE(framer.CaseInsensitive());
  EXPECT_EQ(framer.MaxBufferSize(), 1024);
  EXPECT_TRUE(framer.PendingBytes().empty());
  EXPECT_EQ(framer.ComPort(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Framers, FramerAsCreated,
    testing::Values(FramerCase{"CenterPacket", &TModuleFramers::CenterPacket, 0xFE, 9, ""},
                    FramerCase{"PulsePacket", &TModuleFramers::PulsePacket, 0xF9, 3, ""},
                    FramerCase{"RespPacket", &TModuleFramers::RespPacket, 0xFA, 3, ""},
                    FramerCase{"StatusPacket", &TModuleFramers::StatusPacket, 0xFC, 6, ""},
                    FramerCase{"IdentPacket", &TModuleFramers::IdentPacket, 0xFD, 0, std::string(1, '\0')},
                    FramerCase{"CenterStatusPacket", &TModuleFramers::CenterStatusPacket, 0xFF, 9, ""},
                    FramerCase{"ComDataPacket1", &TModuleFramers::ComDataPacket1, 0xF8, 6, ""}),
    [](const testing::TestParamInfo<FramerCase>& row) { return std::string(row.param.name); });

TEST_F(ModuleFramers, InBindingOrderListsCenterFirstAndSampleLast) {
  const auto order = framers.InBindingOrder();
  const std::array<TComDataPacket*, 7> expected{
      &framers.CenterPacket, &framers.PulsePacket,        &framers.RespPacket,    &framers.StatusPacket,
      &framers.IdentPacket,  &framers.CenterStatusPacket, &framers.ComDataPacket1};
  EXPECT_EQ(order, expected);
}

class EightChannelSizes : public ModuleFramers, public testing::WithParamInterface<int> {};

TEST_P(EightChannelSizes, SampleFramesCarryTwoBytesPlusOnePerChannel) {
  framers.SetEightChannelSizes(GetParam());
  EXPECT_EQ(framers.ComDataPacket1.Size(), GetParam() + 2);
  EXPECT_EQ(framers.CenterPacket.Size(), 9);
}

INSTANTIATE_TEST_SUITE_P(SelectedChannels, EightChannelSizes, testing::Range(0, 9));

TEST_F(ModuleFramers, ChannelCountsOutsideTheBoxesAreRefused) {
  EXPECT_THROW(framers.SetEightChannelSizes(-1), std::out_of_range);
  EXPECT_THROW(framers.SetEightChannelSizes(9), std::out_of_range);
  EXPECT_EQ(framers.ComDataPacket1.Size(), 6);
}

TEST_F(ModuleFramers, TwelveChannelSizesAreNineAndSeven) {
  framers.SetTwelveChannelSizes();
  EXPECT_EQ(framers.ComDataPacket1.Size(), 9);
  EXPECT_EQ(framers.CenterPacket.Size(), 7);
}

TEST_F(ModuleFramers, ANewSampleLengthDropsWhatTheSampleFramerHeld) {
  framers.Feed(Bytes({0xF8, 0x01, 0x02}));
  framers.SetEightChannelSizes(3);
  EXPECT_TRUE(framers.ComDataPacket1.PendingBytes().empty());
  framers.Feed(Bytes({0xF8, 0x01}));
  framers.SetEightChannelSizes(3);  // unchanged: kept
  EXPECT_EQ(framers.ComDataPacket1.PendingBytes(), Bytes({0xF8, 0x01}));
}

// ---- Frames reach their handlers ----------------------------------------------

TEST_F(ModuleFramers, InfoFramesReachTheirHandlers) {
  framers.Feed(Bytes({0xF9, 0x00, 72}));
  framers.Feed(Bytes({0xFA, 0x00, 0}));
  framers.Feed(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  framers.Feed(Bytes({0xFF, 0x00, 0x15, 0, 0, 0, 0, 0, 0}));
  framers.Feed(Bytes({0xFD, 'E', 'C', 'G', 0x00}));
  const module_test::RecordingView& view = rx.view;
  EXPECT_EQ(view.pulse, 72);
  EXPECT_EQ(view.respiration, 0);
  ASSERT_TRUE(view.status);
  EXPECT_TRUE(view.status->respirationTransmitted);
  EXPECT_EQ(view.status->mode, OperatingMode::NormalPace);
  EXPECT_EQ(view.chestConnected, (std::array<bool, 5>{true, false, true, false, true}));
  EXPECT_EQ(view.identifications, std::vector<std::string>{"ECG"});
}

TEST_F(ModuleFramers, SampleFrameSplitOverChunksIsStoredOnceComplete) {
  rx.SetUp8(kIToIII);
  rx.Read();
  framers.Feed(Bytes({0xF8, 0x00, 0x10}));
  EXPECT_EQ(rx.store.Count(), 0);
  framers.Feed(Bytes({0x20, 0x30}));
  ASSERT_EQ(rx.store.Count(), 1);
  const SampleRecord& record = rx.store.At(1);
  EXPECT_EQ(record.channels, (std::array<std::uint8_t, 8>{0x10, 0x20, 0x30, 0, 0, 0, 0, 0}));
  EXPECT_EQ(record.time, module_test::kFixedClock);
}

TEST_F(ModuleFramers, PulseFrameIsHandledBeforeTheSampleFrameAheadOfIt) {
  rx.SetUp8(kIToIII);
  rx.Read();
  const std::string chunk = Bytes({0xF8, 0x00, 0x10, 0x20, 0x30, 0xF9, 0x48, 0x00});
  framers.Feed(chunk);

  EXPECT_EQ(rx.view.log, (std::vector<std::string>{"pulse@0", "sample@1"}));
  EXPECT_EQ(rx.view.pulse, 0);  // the value is byte 3
  EXPECT_EQ(rx.store.At(1).channels[chIII], 0x30);
  EXPECT_TRUE(framers.PulsePacket.PendingBytes().empty());
  EXPECT_EQ(framers.ComDataPacket1.PendingBytes(), Bytes({0xF9, 0x48, 0x00}));
  for (const TComDataPacket* other : {&framers.CenterPacket, &framers.RespPacket, &framers.StatusPacket,
                                      &framers.IdentPacket, &framers.CenterStatusPacket}) {
    EXPECT_EQ(other->PendingBytes(), chunk);
  }
}

TEST_F(ModuleFramers, ChestFrameInTheSameChunkCompletesTheRecordBeforeIt) {
  rx.SetUp12();
  rx.Read();
  framers.Feed(Bytes({0xF8, 0x00, 1, 2, 3, 4, 5, 6, 7}));
  // The chest frame of record 1, then the sample frame of record 2, in one chunk.
  framers.Feed(Bytes({0xFE, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xF8, 0x00, 8, 9, 10, 11, 12, 13, 14}));
  ASSERT_EQ(rx.store.Count(), 2);
  EXPECT_EQ(rx.store.At(1).chest, (std::array<std::uint8_t, 5>{0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  EXPECT_EQ(rx.store.At(2).chest, (std::array<std::uint8_t, 5>{}));
  EXPECT_EQ(rx.store.At(2).channels[chC1], 14);
}

// ---- Frames that cannot be frames ------------------------------------------------

struct BrokenCase {
  const char* name;
  bool twelve;  // else eight channels I, II, III
  std::string stream;
  std::vector<std::array<std::uint8_t, 3>> records;  // I, II, III of each record stored
  std::vector<std::string> identifications;
  std::array<std::uint64_t, TModuleFramers::kFramerCount> rejected;  // per kind, binding order
};

void PrintTo(const BrokenCase& row, std::ostream* os) { *os << row.name; }

class BrokenFrames : public ModuleFramers, public testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenFrames, AreRefusedAndCountedAndTheNextFrameIsKept) {
  const BrokenCase& row = GetParam();
  if (row.twelve) {
    rx.SetUp12();
  } else {
    rx.SetUp8(kIToIII);
  }
  rx.Read();
  framers.Feed(row.stream);
  ASSERT_EQ(rx.store.Count(), static_cast<int>(row.records.size()));
  for (int slot = 1; slot <= rx.store.Count(); ++slot) {
    const auto& channels = rx.store.At(slot).channels;
    EXPECT_EQ((std::array<std::uint8_t, 3>{channels[0], channels[1], channels[2]}),
              row.records[static_cast<std::size_t>(slot - 1)])
        << "record " << slot;
  }
  EXPECT_EQ(rx.view.identifications, row.identifications);
  EXPECT_EQ(framers.Counts().rejected, row.rejected);
}

INSTANTIATE_TEST_SUITE_P(
    , BrokenFrames,
    testing::Values(BrokenCase{"WholeFramesAtTheEdgesOfTheValueRange",
                               false,
                               Bytes({0xF8, 0xFF, 0, 247, 1}) + Bytes({0xFD, 'C', 0xE9, 0x00}),
                               {{0, 247, 1}},
                               {"C\xE9"},
                               {}},
                    BrokenCase{"SampleFrameCutShortRunsIntoAPulseFrame",
                               false,
                               Bytes({0xF8, 0, 10, 0xF9, 0, 72, 0xF8, 0, 1, 2, 3}),
                               {{1, 2, 3}},
                               {},
                               {0, 0, 0, 0, 0, 0, 1}},
                    BrokenCase{"SampleFrameStartingInsideABrokenOne",
                               false,
                               Bytes({0xF8, 0, 0xF8, 0, 4, 5, 6}),
                               {{4, 5, 6}},
                               {},
                               {0, 0, 0, 0, 0, 0, 1}},
                    BrokenCase{"ChestFrameCutShortRunsIntoTheNextSampleFrame",
                               true,
                               Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7, 0xFE, 0, 21, 22, 23, 24}) +
                                   Bytes({0xF8, 0, 8, 9, 10, 11, 12, 13, 14, 0xFE, 0, 31, 32, 33, 34, 35}),
                               {{1, 2, 3}, {8, 9, 10}},
                               {},
                               {1, 0, 0, 0, 0, 0, 0}},
                    BrokenCase{"IdentificationWithAControlCharacter",
                               false,
                               Bytes({0xFD, 'E', 0x07, 'G', 0x00, 0xFD, 'E', 0x85, 0x00, 0xFD, 'O', 'K', 0x00}),
                               {},
                               {"OK"},
                               {0, 0, 0, 0, 2, 0, 0}},
                    BrokenCase{"IdentificationRunningIntoASampleFrame",
                               false,
                               Bytes({0xFD, 'E', 'C', 0xF8, 0, 1, 2, 3}),
                               {{1, 2, 3}},
                               {},
                               {0, 0, 0, 0, 1, 0, 0}}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- Binding to a port ----------------------------------------------------------

// The main thread's queue of hand-overs, served by the test itself.
class QueueDispatcher : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
  }
  // Serves calls until `done` holds or a generous deadline has passed.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::function<void()> call;
      {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) {
          call = std::move(queue_.front());
          queue_.pop_front();
        }
      }
      if (call) {
        call();
      } else {
        std::this_thread::yield();
      }
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

// A raw pseudo-terminal: the port opens the slave, the test writes on the master.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
    slavePath_ = ptsname(master_);
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
  ~Pty() { close(master_); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& SlavePath() const { return slavePath_; }
  void Write(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

TEST_F(ModuleFramers, BindRegistersAllSevenWithThePort) {
  TComPort port;
  framers.Bind(port);
  for (const TComDataPacket* framer : framers.InBindingOrder()) EXPECT_EQ(framer->ComPort(), &port);
}

TEST_F(ModuleFramers, APortDeliversAChunkToTheFramersInBindingOrder) {
  QueueDispatcher mainThread;
  Pty pty;
  TComPort port(&mainThread);
  port.SetPort(pty.SlavePath());
  framers.Bind(port);
  rx.SetUp8(kIToIII);
  rx.Read();
  port.Open();

  const std::string chunk = Bytes({0xF8, 0x00, 0x10, 0x20, 0x30, 0xF9, 0x48, 0x00});
  pty.Write(chunk);
  // Let the whole chunk reach the driver's queue first, so one read takes it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (port.BytesWaiting() < static_cast<int>(chunk.size()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(port.BytesWaiting(), static_cast<int>(chunk.size()));
  ASSERT_TRUE(mainThread.RunUntil([&] { return rx.store.Count() == 1; }));

  EXPECT_EQ(rx.view.log, (std::vector<std::string>{"pulse@0", "sample@1"}));
  EXPECT_EQ(framers.ComDataPacket1.PendingBytes(), Bytes({0xF9, 0x48, 0x00}));
  EXPECT_EQ(framers.StatusPacket.PendingBytes(), chunk);
  port.Close();
}

TEST_F(ModuleFramers, APortDestroyedFirstUnbindsTheFramers) {
  {
    TComPort port;
    framers.Bind(port);
  }
  for (const TComDataPacket* framer : framers.InBindingOrder()) EXPECT_EQ(framer->ComPort(), nullptr);
}

}  // namespace
