// A recording written as it arrives: the same files a save writes, the
// flush and sync schedule on an injected clock, and a writer killed
// part-way, then repaired.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "recording/DataFileAppender.h"
#include "recording/DataFileReader.h"
#include "recording/RecordingFiles.h"
#include "recording/Repair.h"
#include "recording/Sidecar.h"
#include "recording_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = TDataFileAppender::Clock;

constexpr const char* kCreated = "05.03.2024 14:05:33";
const TimeFormatter kClock = [](double dayFraction) { return std::to_string(dayFraction); };

// Record `n` of the killed writer's run, recognisable in every byte.
SampleRecord Numbered(long long n) {
  SampleRecord record{};
  record.time = static_cast<double>(n) / 86400.0;
  for (std::size_t i = 0; i < record.channels.size(); ++i)
    record.channels[i] = static_cast<std::uint8_t>((n + static_cast<long long>(i)) % 251);
  for (std::size_t i = 0; i < record.chest.size(); ++i)
    record.chest[i] = static_cast<std::uint8_t>((n * 7 + static_cast<long long>(i)) % 253);
  record.reserved[1] = static_cast<std::uint8_t>(n % 256);
  return record;
}

SampleRecord Header() {
  SampleRecord header{};
  header.time = 0.25;
  header.channels[3] = 42;
  return header;
}

long long FileSize(const std::string& path) { return static_cast<long long>(std::filesystem::file_size(path)); }

TEST(StreamedRecording, WritesTheSameDataFileLogAsASaveOfTheSameRecords) {
  ScratchFolder folder;
  auto store = std::make_unique<SampleStore>();
  FillStore(*store, 37);
  const std::string log = folder / "run.log", data = folder / "run.dat";
  WriteRecordingFiles(*store, log, data, kCreated, kClock);
  const std::string savedLog = ReadWholeFile(log), savedData = ReadWholeFile(data);
  std::filesystem::remove(log);
  std::filesystem::remove(data);

  const Clock::time_point start{};
  TDataFileAppender appender(data, store->At(0), start);
  for (int slot = 1; slot <= store->Count(); ++slot) appender.Append(store->At(slot), start + slot * 100ms);
  appender.Finish();
  RecordingSidecar begun;
  begun.port = "/dev/ttyUSB0";
  CompleteOptions options;
  options.sidecar = begun;
  const CompletedRecording done = CompleteRecording(data, kCreated, kClock, options);

  EXPECT_EQ(ReadWholeFile(data), savedData);
  EXPECT_EQ(ReadWholeFile(log), savedLog);
  EXPECT_EQ(done.records, 37);
  const auto sidecar = ReadSidecar(SidecarPathFor(data));
  ASSERT_TRUE(sidecar);
  EXPECT_EQ(sidecar->records, 37);
  EXPECT_EQ(sidecar->endedAbnormally, false);
  EXPECT_EQ(sidecar->port, "/dev/ttyUSB0");
}

// --- the schedule -----------------------------------------------------------

struct Step {
  int ms;
  bool append;  // else a tick
};

struct ScheduleCase {
  const char* name;
  std::vector<Step> steps;
  long long flushed, synced;
};

class AppendScheduleTable : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(AppendScheduleTable, HandsRecordsToTheSystemAndTheDiskWhenDue) {
  const ScheduleCase& c = GetParam();
  ScratchFolder folder;
  const Clock::time_point start{};
  TDataFileAppender appender(folder / "run.dat", Header(), start);
  long long n = 0;
  for (const Step& step : c.steps) {
    const Clock::time_point now = start + std::chrono::milliseconds(step.ms);
    if (step.append)
      appender.Append(Numbered(n++), now);
    else
      appender.Tick(now);
  }
  EXPECT_EQ(appender.Records(), n);
  EXPECT_EQ(appender.FlushedRecords(), c.flushed);
  EXPECT_EQ(appender.SyncedRecords(), c.synced);
  // What was handed over is in the file, the rest still in the buffer.
  EXPECT_EQ(FileSize(folder / "run.dat"), static_cast<long long>(kDataRecordSize) * (1 + c.flushed));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AppendScheduleTable,
    ::testing::Values(
        ScheduleCase{"WithinTheFirstSecondNothingIsHandedOver", {{0, true}, {500, true}, {999, true}}, 0, 0},
        ScheduleCase{"TheRecordAtOneSecondFlushesAllBefore", {{0, true}, {500, true}, {1000, true}}, 3, 0},
        ScheduleCase{"ATickFlushesWhenNoRecordsCome", {{0, true}, {1000, false}}, 1, 0},
        ScheduleCase{"ATickBeforeTheSecondFlushesNothing", {{0, true}, {999, false}}, 0, 0},
        ScheduleCase{"TheNextFlushCountsFromTheLast", {{0, true}, {1000, true}, {1500, true}, {1999, false}}, 2, 0},
        ScheduleCase{"FiveSecondsSyncEverything",
                     {{0, true}, {1000, true}, {2000, true}, {3000, true}, {4000, true}, {4500, true}, {5000, false}},
                     6,
                     6},
        ScheduleCase{"RecordsAfterASyncWaitForTheNextFlush",
                     {{0, true}, {5000, true}, {5200, true}, {5999, false}, {6000, false}},
                     3,
                     2}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(StreamedRecording, ReplacesOnlyARegularFileAndOnlyWhenTold) {
  ScratchFolder folder;
  const std::string data = folder / "run.dat", folderName = folder / "sub.dat";
  WriteWholeFile(data, "an earlier recording");
  std::filesystem::create_directory(folderName);
  EXPECT_THROW(TDataFileAppender(data, Header(), Clock::time_point{}), ERecordingFile);
  EXPECT_EQ(ReadWholeFile(data), "an earlier recording");
  EXPECT_THROW(TDataFileAppender(folderName, Header(), Clock::time_point{}, true), ERecordingFile);
  EXPECT_TRUE(std::filesystem::is_directory(folderName));
  TDataFileAppender(data, Header(), Clock::time_point{}, true).Finish();
  EXPECT_EQ(ReadWholeFile(data), RecordBytes(DataHeaderRecord(Header())));
}

TEST(StreamedRecording, ARunLeftByAnExceptionStillHandsOverItsBufferedRecords) {
  ScratchFolder folder;
  {
    TDataFileAppender appender(folder / "run.dat", Header(), Clock::time_point{});
    appender.Append(Numbered(0), Clock::time_point{});
  }
  EXPECT_EQ(FileSize(folder / "run.dat"), static_cast<long long>(kDataRecordSize) * 2);
}

// --- killed, then repaired ----------------------------------------------------

// Appends numbered records in a child process, ten milliseconds apart on its
// clock, reporting every flush through a pipe; killed with SIGKILL once it
// has flushed `atLeast` records. Returns the last count it reported.
long long RunAndKillWriter(const std::string& data, long long atLeast) {
  int report[2];
  if (::pipe(report) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::close(report[0]);
    try {
      TDataFileAppender appender(data, Header(), Clock::time_point{});
      long long flushed = 0;
      for (long long n = 0; n < 20000; ++n) {
        appender.Append(Numbered(n), Clock::time_point{} + n * 10ms);
        if (appender.FlushedRecords() != flushed) {
          flushed = appender.FlushedRecords();
          if (::write(report[1], &flushed, sizeof flushed) != static_cast<ssize_t>(sizeof flushed)) ::_exit(3);
        }
      }
    } catch (...) {
      ::_exit(2);
    }
    while (true) ::pause();  // stays until killed, the last records unflushed
  }
  ::close(report[1]);
  long long reported = 0, value = 0;
  while (reported < atLeast && ::read(report[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value))
    reported = value;
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(report[0]);
  if (!WIFSIGNALED(status)) throw std::runtime_error("the writer ended before it was killed");
  return reported;
}

TEST(KilledWriter, RepairFindsEveryRecordFlushedBeforeTheKill) {
  ScratchFolder folder;
  const std::string data = folder / "run.dat";
  const long long reported = RunAndKillWriter(data, 2000);
  ASSERT_GE(reported, 2000);

  const CompletedRecording done = RepairRecording(data, kCreated, kClock, false);

  EXPECT_GE(done.records, reported);
  long long n = 0;
  TDataFileReader reader(data);
  SampleRecord record{};
  while (reader.Next(record)) {
    ASSERT_EQ(RecordBytes(record), RecordBytes(Numbered(n))) << "record " << n + 1;
    ++n;
  }
  EXPECT_EQ(n, done.records);
  const auto sidecar = ReadSidecar(SidecarPathFor(data));
  ASSERT_TRUE(sidecar);
  EXPECT_EQ(sidecar->records, done.records);
  EXPECT_EQ(sidecar->endedAbnormally, true);
  // The log holds five header lines and one line per record.
  const std::string log = ReadWholeFile(LogNameForDataName(data));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5 + done.records);
}

// --- repair refusals --------------------------------------------------------

struct RefusalCase {
  const char* name;
  const char* dataName;
  const char* sidecar;  // the text of the sidecar beside it, or nullptr
};

class RepairRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RepairRefusal, LeavesEveryFileAsItWas) {
  const RefusalCase& c = GetParam();
  ScratchFolder folder;
  const std::string data = folder / c.dataName;
  TDataFileAppender(data, Header(), Clock::time_point{}).Append(Numbered(0), Clock::time_point{});
  if (c.sidecar) WriteWholeFile(SidecarPathFor(data), c.sidecar);
  const std::vector<std::string> names = folder.Names();
  const std::string bytes = ReadWholeFile(data);

  EXPECT_THROW(RepairRecording(data, kCreated, kClock, true), ERecordingFile);

  EXPECT_EQ(folder.Names(), names);
  EXPECT_EQ(ReadWholeFile(data), bytes);
  if (c.sidecar) {
    EXPECT_EQ(ReadWholeFile(SidecarPathFor(data)), c.sidecar);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepairRefusal,
    ::testing::Values(RefusalCase{"AMalformedSidecar", "run.dat", R"({"version": 1, "records": "many"})"},
                      // Its log or its sidecar would be written over the records.
                      RefusalCase{"ADataFileNamedLikeItsLog", "run.log", nullptr},
                      RefusalCase{"ADataFileNamedLikeItsSidecar", "run.json", nullptr}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
