// Why a port could not be opened, over a scratch folder standing in for the
// devices and for /proc.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/PortDiagnosis.h"

namespace fs = std::filesystem;

namespace {

class PortDiagnosis : public testing::Test {
 protected:
  PortDiagnosis() {
    root = fs::temp_directory_path() / ("ecg-diagnosis-" + std::to_string(getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(Proc());
    std::ofstream(Device()) << "";
  }
  ~PortDiagnosis() override { fs::remove_all(root); }

  fs::path Proc() const { return root / "proc"; }
  fs::path Device() const { return root / "ttyUSB0"; }
  // A process of `command` with `target` open as descriptor 3.
  void Process(int pid, const std::string& command, const fs::path& target) {
    const fs::path dir = Proc() / std::to_string(pid);
    fs::create_directories(dir / "fd");
    fs::create_symlink(target, dir / "fd" / "3");
    std::ofstream(dir / "comm") << command << "\n";
  }
  std::string Reason(const fs::path& device) const { return PortOpenFailureReason(device.string(), Proc().string()); }

  fs::path root;
};

TEST_F(PortDiagnosis, AMissingPortIsCalledGone) {
  EXPECT_NE(Reason(root / "ttyUSB9").find("does not exist"), std::string::npos);
}

TEST_F(PortDiagnosis, AHeldPortNamesTheProgramAndItsProcess) {
  Process(4711, "minicom", root / "other");
  Process(4712, "screen", Device());
  const std::optional<TPortHolder> holder = FindPortHolder(Device().string(), Proc().string());
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->pid, 4712);
  EXPECT_EQ(holder->command, "screen");
  EXPECT_EQ(Reason(Device()), "The port is in use by 'screen' (process 4712): close it there first.");
}

TEST_F(PortDiagnosis, AVirtualPortIsFoundThroughItsLink) {
  fs::create_symlink(Device(), root / "ECG-SIM0");
  Process(99, "ecg-module-sim", Device());
  EXPECT_NE(Reason(root / "ECG-SIM0").find("process 99"), std::string::npos);
}

TEST_F(PortDiagnosis, APortWithoutPermissionNamesItsGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root may open any port";
  fs::permissions(Device(), fs::perms::none);
  const std::string reason = Reason(Device());
  EXPECT_NE(reason.find("Permission denied"), std::string::npos) << reason;
  EXPECT_NE(reason.find("log out and in again"), std::string::npos) << reason;
}

TEST_F(PortDiagnosis, NothingKnownSaysNothing) {
  EXPECT_EQ(Reason(Device()), "");
  EXPECT_FALSE(FindPortHolder(Device().string(), (root / "no-proc").string()));
}

}  // namespace
