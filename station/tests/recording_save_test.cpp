// The one save: the pair, then the sidecar; what a failed sidecar leaves;
// the temporaries of a save killed half-way; the names checked up front.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "recording/Sidecar.h"
#include "recording_support.h"
#include "station/RecordingSave.h"

namespace {

namespace fs = std::filesystem;
const TimeFormatter kClock = [](double dayFraction) { return std::to_string(dayFraction); };

std::unique_ptr<SampleStore> StoreOf(int records) {
  auto store = std::make_unique<SampleStore>();
  FillStore(*store, records);
  return store;
}

TEST(RecordingSave, WritesThePairAndTheSidecarWithTheStoresRecordCount) {
  ScratchFolder folder;
  const auto store = StoreOf(25);
  RecordingSidecar sidecar;
  sidecar.port = "/dev/ttyUSB0";
  sidecar.records = 3;  // the store's count is what counts
  const TSavedRecording saved = RecordingSave(*store, sidecar, folder / "run.log", kTestNow, kClock);

  EXPECT_FALSE(saved.sidecarError);
  EXPECT_EQ(saved.sidecarPath, folder / "run.json");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run.dat", "run.json", "run.log"}));
  const auto read = ReadSidecar(saved.sidecarPath);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->records, 25);
  EXPECT_EQ(read->port, "/dev/ttyUSB0");
}

TEST(RecordingSave, ASidecarThatCannotBeWrittenKeepsThePairAndSaysWhy) {
  ScratchFolder folder;
  const auto store = StoreOf(5);
  std::uintmax_t largestOfPair = 0;
  {
    ScratchFolder probe;
    RecordingSave(*store, {}, probe / "run.log", kTestNow, kClock);
    largestOfPair = std::max(fs::file_size(probe / "run.log"), fs::file_size(probe / "run.dat"));
  }
  // Each file of the pair fits under the limit, a sidecar with a long
  // identification does not: the disk filling up between the two.
  RecordingSidecar big;
  big.identification = std::string(largestOfPair + 1000, 'x');
  ScopedFileSizeLimit limit(largestOfPair);
  const TSavedRecording saved = RecordingSave(*store, big, folder / "run.log", kTestNow, kClock);
  ASSERT_TRUE(saved.sidecarError);
  EXPECT_NE(saved.sidecarError->find("run.json"), std::string::npos) << *saved.sidecarError;
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run.dat", "run.log"}));
}

TEST(RecordingSave, AnotherRecordingsSidecarIsNeverReplacedUnlessAsked) {
  ScratchFolder folder;
  const auto store = StoreOf(4);
  WriteWholeFile(folder / "run.json", "{\"format\": \"ecg-recording-sidecar\"}");
  EXPECT_THROW(RecordingSave(*store, {}, folder / "run.log", kTestNow, kClock), ENameTaken);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run.json"}));

  const TSavedRecording saved = RecordingSave(*store, {}, folder / "run.log", kTestNow, kClock, ExistingFiles::Replace);
  EXPECT_EQ(ReadSidecar(saved.sidecarPath)->records, 4);
}

TEST(RecordingSave, TemporariesOfAKilledSaveGoWithTheNextSaveThoseOfALivingWriterStay) {
  ScratchFolder folder;
  // A writer that is gone: a child that named its temporaries and ended.
  const pid_t child = ::fork();
  if (child == 0) {
    WriteWholeFile(TemporaryNameBeside(folder / "a.log", "log"), "half a log");
    WriteWholeFile(TemporaryNameBeside(folder / "a.log", "dat"), "half a data file");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // One of this (living) process, and names that only look alike.
  const std::string living = TemporaryNameBeside(folder / "b.log", "log");
  WriteWholeFile(living, "being written");
  WriteWholeFile(folder / ".ecg-log-notapid-0000000.part", "someone else's");
  ASSERT_EQ(folder.Names().size(), 4u);

  const auto store = StoreOf(3);
  const TSavedRecording saved = RecordingSave(*store, {}, folder / "run.log", kTestNow, kClock);
  EXPECT_EQ(saved.staleTemporariesRemoved, 2);
  std::vector<std::string> left{".ecg-log-notapid-0000000.part", fs::path(living).filename().string(), "run.dat",
                                "run.json", "run.log"};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(folder.Names(), left);
}

TEST(TemporaryNames, CarryTheWritersProcessIdAndNothingElseReadsAsOne) {
  const std::string name = fs::path(TemporaryNameBeside("/tmp/x.log", "dat")).filename().string();
  EXPECT_EQ(TemporaryWriterOf(name), static_cast<int>(::getpid()));
  for (const char* other : {"x.log", ".ecg-dat-0000001234-0000abcd", ".ecg-dat-00000012x4-0000abcd.part",
                            ".ecg-dat-0000000000-0000abcd.part", ".ecg-long-0000001234-0000abcd.part"})
    EXPECT_FALSE(TemporaryWriterOf(other)) << other;
  EXPECT_EQ(TemporaryWriterOf(".ecg--0000001234-0000abcd.part"), 1234);
}

struct TargetCase {
  const char* name;
  const char* out;  // in the scratch folder
  ExistingFiles existing;
  const char* mentions;  // empty: accepted
};

class SaveTarget : public testing::TestWithParam<TargetCase> {};

TEST_P(SaveTarget, IsCheckedBeforeAnythingIsRecorded) {
  ScratchFolder folder;
  fs::create_directories(folder.Path() / "sub.log");
  WriteWholeFile(folder / "old.dat", "older");
  fs::create_directories(folder.Path() / "ro");
  const std::string out =
      GetParam().out == std::string("LONG") ? folder / std::string(252, 'n') + ".log" : folder / GetParam().out;
  const auto before = folder.Names();
  std::string what;
  try {
    CheckSaveTarget(SaveNamesFor(out), GetParam().existing);
  } catch (const ERecordingFile& error) {
    what = error.what();
  }
  if (*GetParam().mentions == '\0') {
    EXPECT_EQ(what, "");
  } else {
    EXPECT_NE(what.find(GetParam().mentions), std::string::npos) << what;
  }
  EXPECT_EQ(folder.Names(), before) << "the check leaves nothing behind";
}

INSTANTIATE_TEST_SUITE_P(, SaveTarget,
                         testing::Values(TargetCase{"FreeName", "new.log", ExistingFiles::Refuse, ""},
                                         TargetCase{"MissingFolder", "none/x.log", ExistingFiles::Refuse,
                                                    "No such file"},
                                         TargetCase{"AFolder", "sub.log", ExistingFiles::Replace, "is a folder"},
                                         TargetCase{"DataName", "x.dat", ExistingFiles::Refuse, "the same file"},
                                         TargetCase{"SidecarName", "x.json", ExistingFiles::Refuse, "the same file"},
                                         TargetCase{"TakenDataFile", "old.log", ExistingFiles::Refuse, "exists"},
                                         TargetCase{"TakenButReplaced", "old.log", ExistingFiles::Replace, ""},
                                         TargetCase{"NameTooLong", "LONG", ExistingFiles::Refuse, "longer than"},
                                         TargetCase{"NoFileName", "ro/", ExistingFiles::Refuse, "no file name"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(SaveTargetProbe, FindsAFolderThatCannotBeWritten) {
  // Root writes into a folder without write bits: only a read-only file
  // system stops it, so the folder is one the system refuses (/proc).
  const std::string out = "/proc/ecg-probe.log";
  EXPECT_THROW(CheckSaveTarget(SaveNamesFor(out), ExistingFiles::Refuse), ERecordingFile);
}

}  // namespace
