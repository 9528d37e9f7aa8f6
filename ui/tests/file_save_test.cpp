// The offer to save: the question, the save dialog, the existence check, the
// outcome the window shows Save from, and saves that fail without losing the
// recording.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flows_support.h"
#include "recording/RecordingFiles.h"
#include "recording/Sidecar.h"

namespace {

constexpr const char* kQuestion = "Do you want to save te actual Data?";
const ShownMessage kExistingFile{"Invalid Filename or File already existing", " Error creating File"};

class FileSaveTest : public FlowFixture {
 protected:
  FileSaveTest() { FillStore(store, 3); }

  std::string StoreBytes() const {
    std::string bytes;
    for (int slot = 0; slot <= store.Count() + 1; ++slot) bytes += RecordBytes(store.At(slot));
    return bytes + std::to_string(store.Count());
  }
};

TEST_F(FileSaveTest, AskedFirstWithTheQuestionAsItStands) {
  dialogs.confirmAnswers = {false};
  FileSave(context());
  ASSERT_EQ(dialogs.Questions().size(), 1u);
  EXPECT_EQ(dialogs.Questions()[0].text, kQuestion);
}

TEST_F(FileSaveTest, ANoWritesNothingAndLeavesSaveShown) {
  const std::string before = StoreBytes();
  dialogs.confirmAnswers = {false};
  EXPECT_EQ(FileSave(context()), SaveOutcome::Declined);
  EXPECT_TRUE(dialogs.saveDialogs.empty());
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(StoreBytes(), before);
}

TEST_F(FileSaveTest, TheSaveButtonAsksAgain) {
  dialogs.confirmAnswers = {false, false};
  FileSave(context());
  SaveButtonClick(context());
  EXPECT_EQ(dialogs.Questions().size(), 2u);
}

TEST_F(FileSaveTest, TheSaveDialogOffersLogFiles) {
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {std::nullopt};
  FileSave(context());
  ASSERT_EQ(dialogs.saveDialogs.size(), 1u);
  EXPECT_EQ(dialogs.saveDialogs[0].filter, "ECG Log File|*.log");
  EXPECT_EQ(dialogs.saveDialogs[0].defaultExt, "log");
}

TEST_F(FileSaveTest, CancellingTheDialogWritesNothingAndKeepsSaveShown) {
  const std::string before = StoreBytes();
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {std::nullopt};
  EXPECT_EQ(FileSave(context()), SaveOutcome::Cancelled);
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(StoreBytes(), before);  // the marker too
  EXPECT_TRUE(currentDataFile.empty());
}

TEST_F(FileSaveTest, AfterACancelledDialogTheSaveButtonStillSaves) {
  dialogs.confirmAnswers = {true, true};
  dialogs.saveAnswers = {std::nullopt, folder / "run1.log"};
  ASSERT_EQ(FileSave(context()), SaveOutcome::Cancelled);
  EXPECT_EQ(SaveButtonClick(context()), SaveOutcome::Saved);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat", "run1.json", "run1.log"}));
}

TEST_F(FileSaveTest, AnEmptyNameReopensTheDialog) {
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {std::string(), std::string(), std::nullopt};
  FileSave(context());
  EXPECT_EQ(dialogs.saveDialogs.size(), 3u);
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
}

TEST_F(FileSaveTest, ACompletedSaveWritesBothFilesAndHidesSave) {
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "run1.log"};
  const std::string before = StoreBytes();
  EXPECT_EQ(FileSave(context()), SaveOutcome::Saved);
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat", "run1.json", "run1.log"}));
  EXPECT_EQ(ReadSidecar(folder / "run1.json")->records, 3) << "the sidecar beside the pair";
  EXPECT_EQ(ReadWholeFile(folder / "run1.dat").size(), 96u);
  EXPECT_EQ(ReadWholeFile(folder / "run1.dat")[8], 5) << "the data file carries the marker";
  EXPECT_EQ(StoreBytes(), before) << "the save only reads the store";
  EXPECT_EQ(currentDataFile, folder / "run1.dat");
  // Line 1 names the log, line 2 the moment of the save.
  const std::string log = ReadWholeFile(folder / "run1.log");
  EXPECT_EQ(log.substr(0, log.find("\r\n\r\n")),
            "VARNOK ECG Data : " + folder / "run1.log" + "\r\nFile created: " + kTestNow);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
}

// A file name at the file system's 255-byte limit: the temporary files
// beside it must not need a longer one.
class LongName : public FileSaveTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(LongName, UpToTheFileSystemsLimitIsSaved) {
  const std::string name = std::string(GetParam() - 4, 'n') + ".log";
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / name};
  EXPECT_EQ(FileSave(context()), SaveOutcome::Saved);
  const std::string stem = name.substr(0, name.size() - 4);
  std::vector<std::string> written{stem + ".dat", stem + ".json", name};
  if (GetParam() < 255) {
    EXPECT_TRUE(dialogs.MessageBoxes().empty()) << dialogs.MessageBoxes()[0].text;
  } else {
    // NAME.json is a byte longer than the longest name: the records are
    // saved and the user told that their description is not.
    written.erase(written.begin() + 1);
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_NE(dialogs.MessageBoxes()[0].text.find("description file was not"), std::string::npos);
  }
  EXPECT_EQ(folder.Names(), written);
  EXPECT_EQ(ReadWholeFile(folder / (stem + ".dat")).size(), 96u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongName, ::testing::Values(200u, 229u, 240u, 255u));

TEST_F(FileSaveTest, ADotInAFolderNameKeepsTheDataFileInTheChosenFolder) {
  ASSERT_TRUE(std::filesystem::create_directories(folder.Path() / "dir" / "sub"));
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "dir/sub/a.b"};
  FileSave(context());
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
  EXPECT_EQ(currentDataFile, folder / "dir/sub/a.dat");
  EXPECT_TRUE(std::filesystem::exists(folder / "dir/sub/a.dat"));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"dir"}) << "nothing written beside the folder";
}

enum class Taken { Log, Data, Both, Sidecar };

class ExistingName : public FileSaveTest, public ::testing::WithParamInterface<Taken> {};

TEST_P(ExistingName, IsRefusedAndTheDialogReopens) {
  const bool log = GetParam() == Taken::Log || GetParam() == Taken::Both;
  const bool data = GetParam() == Taken::Data || GetParam() == Taken::Both;
  if (log) WriteWholeFile(folder / "run1.log", "old log");
  if (data) WriteWholeFile(folder / "run1.dat", "old data");
  if (GetParam() == Taken::Sidecar) WriteWholeFile(folder / "run1.json", "another recording's");
  const auto before = folder.Names();
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "run1.log", std::nullopt};
  const SaveOutcome outcome = FileSave(context());
  EXPECT_EQ(dialogs.MessageBoxes(), std::vector<ShownMessage>{kExistingFile});
  EXPECT_EQ(dialogs.saveDialogs.size(), 2u);
  EXPECT_EQ(folder.Names(), before);
  if (log) {
    EXPECT_EQ(ReadWholeFile(folder / "run1.log"), "old log");
  }
  if (data) {
    EXPECT_EQ(ReadWholeFile(folder / "run1.dat"), "old data");
  }
  // The rejected name was already taken as the current data file.
  EXPECT_EQ(currentDataFile, folder / "run1.dat");
  EXPECT_EQ(outcome, SaveOutcome::Cancelled) << "the dialog was cancelled in the end: nothing saved";
}

INSTANTIATE_TEST_SUITE_P(Files, ExistingName, ::testing::Values(Taken::Log, Taken::Data, Taken::Both, Taken::Sidecar));

TEST_F(FileSaveTest, AfterARefusedNameAnotherNameIsSaved) {
  WriteWholeFile(folder / "run1.dat", "old data");
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "run1.log", folder / "run2.log"};
  FileSave(context());
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat", "run2.dat", "run2.json", "run2.log"}));
  EXPECT_EQ(currentDataFile, folder / "run2.dat");
}

TEST_F(FileSaveTest, ANameWhoseDataNameIsItselfIsRefused) {
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "run1.dat", std::nullopt};
  FileSave(context());
  EXPECT_EQ(dialogs.MessageBoxes(), std::vector<ShownMessage>{kExistingFile});
  EXPECT_TRUE(folder.Names().empty());
}

// --- failures part-way --------------------------------------------------------------

class FailedSave : public FileSaveTest {
 protected:
  FailedSave() {
    FillStore(store, 5000, 7);
    store.At(0).channels[0] = 99;  // a header slot that does not yet carry the marker
    before = StoreBytes();
  }

  // The one message the failure showed, with the application title.
  std::string FailureText() const {
    EXPECT_EQ(dialogs.MessageBoxes().size(), 1u);
    if (dialogs.MessageBoxes().empty()) return {};
    EXPECT_EQ(dialogs.MessageBoxes()[0].caption, "12-Kanal Test-Software");
    return dialogs.MessageBoxes()[0].text;
  }

  void ExpectRecordingKeptAndSaveOffered(SaveOutcome outcome) {
    EXPECT_EQ(StoreBytes(), before);
    EXPECT_EQ(outcome, SaveOutcome::Failed);
  }

  std::string before;
};

TEST_F(FailedSave, AFullDiskIsReportedAndLeavesNoFile) {
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "run1.log"};
  SaveOutcome outcome = SaveOutcome::Saved;
  {
    ScopedFileSizeLimit limit(32 * 1024);
    EXPECT_NO_THROW(outcome = FileSave(context()));
  }
  EXPECT_NE(FailureText().find("File too large"), std::string::npos) << FailureText();
  EXPECT_TRUE(folder.Names().empty()) << "no partial file, no temporary";
  ExpectRecordingKeptAndSaveOffered(outcome);
}

TEST_F(FailedSave, TheUserCanRetryOnceThereIsRoom) {
  dialogs.confirmAnswers = {true, true};
  dialogs.saveAnswers = {folder / "run1.log", folder / "run1.log"};
  {
    ScopedFileSizeLimit limit(32 * 1024);
    FileSave(context());
  }
  EXPECT_EQ(SaveButtonClick(context()), SaveOutcome::Saved);
  EXPECT_EQ(dialogs.MessageBoxes().size(), 1u);
  EXPECT_EQ(ReadWholeFile(folder / "run1.dat").size(), 24u * 5001);
}

TEST_F(FailedSave, AFolderThatDoesNotExistIsReported) {
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {folder / "gone/run1.log"};
  const SaveOutcome outcome = FileSave(context());
  EXPECT_NE(FailureText().find("No such file or directory"), std::string::npos) << FailureText();
  EXPECT_NE(FailureText().find(folder / "gone/run1.log"), std::string::npos) << FailureText();
  EXPECT_TRUE(folder.Names().empty());
  ExpectRecordingKeptAndSaveOffered(outcome);
}

TEST_F(FailedSave, AFolderWithoutWriteAccessIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "access rights do not bind root";
  const std::string locked = folder / "locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {locked + "/run1.log"};
  const SaveOutcome outcome = FileSave(context());
  EXPECT_NE(FailureText().find("Permission denied"), std::string::npos) << FailureText();
  ::chmod(locked.c_str(), 0755);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"locked"});
  EXPECT_TRUE(std::filesystem::is_empty(locked));
  ExpectRecordingKeptAndSaveOffered(outcome);
}

TEST_F(FailedSave, ADialogThatFailsIsReportedRatherThanThrown) {
  // FileSave also runs inside reception, where nothing may escape it.
  class ThrowingDialogs : public FakeDialogs {
   public:
    std::optional<std::string> ExecuteSaveDialog(const FileDialogOptions&) override {
      throw std::runtime_error("dialog broke");
    }
  } throwing;
  throwing.confirmAnswers = {true};
  TRecordingContext broken{store, layout, chart(), throwing, currentDataFile};
  SaveOutcome outcome = SaveOutcome::Saved;
  EXPECT_NO_THROW(outcome = FileSave(broken));
  EXPECT_EQ(throwing.MessageBoxes(), (std::vector<ShownMessage>{{"dialog broke", "12-Kanal Test-Software"}}));
  ExpectRecordingKeptAndSaveOffered(outcome);
}

}  // namespace
