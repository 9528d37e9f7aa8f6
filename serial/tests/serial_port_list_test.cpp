// The list of serial ports present, over fake sysfs trees and virtual-port
// directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/EComPort.h"
#include "serial/PortEnumeration.h"

namespace fs = std::filesystem;

namespace {
class PortList : public testing::Test {
 protected:
  PortList() {
    root = fs::temp_directory_path() / ("ecg-ports-" + std::to_string(getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(Sys());
    fs::create_directories(root / "drivers" / "ftdi_sio");
  }
  ~PortList() override { fs::remove_all(root); }

  fs::path Sys() const { return root / "sys-class-tty"; }
  fs::path Virtual() const { return root / "virtual-serial"; }

  // A tty entry; with a driver it is a real port, `type` as serial-core gives it.
  void Tty(const std::string& name, bool driver, const char* type = nullptr) {
    const fs::path dir = Sys() / name;
    fs::create_directories(dir / "device");
    if (driver) fs::create_directory_symlink(root / "drivers" / "ftdi_sio", dir / "device" / "driver");
    if (type) std::ofstream(dir / "type") << type << "\n";
  }
  void VirtualPort(const std::string& name, const fs::path& target) {
    fs::create_directories(Virtual());
    fs::create_symlink(target, Virtual() / name);
  }
  std::vector<std::string> List() {
    std::vector<std::string> ports;
    ListSerialPorts(ports, Sys().string(), Virtual().string());
    return ports;
  }

  fs::path root;
};
}  // namespace

TEST_F(PortList, TtysWithADriverAreListedSortedAsText) {
  Tty("ttyUSB2", true);
  Tty("ttyUSB10", true);
  Tty("ttyACM0", true);
  Tty("tty1", false);  // a virtual console
  Tty("ptmx", false);
  EXPECT_EQ(List(), (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB10", "/dev/ttyUSB2"}));
}

TEST_F(PortList, UartlessSerialCorePortsAreLeftOut) {
  Tty("ttyS0", true, "4");
  Tty("ttyS1", true, "0");
  Tty("ttyS2", true, "0");
  EXPECT_EQ(List(), std::vector<std::string>{"/dev/ttyS0"});
}

TEST_F(PortList, VirtualPortsAreListedByTheirLinkWhileTheirTargetExists) {
  Tty("ttyUSB0", true);
  std::ofstream(root / "pty-a").put('x');
  VirtualPort("ECG-SIM0", root / "pty-a");
  VirtualPort("gone", root / "no-such-pty");
  std::ofstream(Virtual() / "plain-file").put('x');
  EXPECT_EQ(List(), (std::vector<std::string>{"/dev/ttyUSB0", (Virtual() / "ECG-SIM0").string()}));
}

TEST_F(PortList, SortIgnoresCase) {
  std::ofstream(root / "t").put('x');
  VirtualPort("b", root / "t");
  VirtualPort("A", root / "t");
  VirtualPort("C", root / "t");
  const std::string dir = Virtual().string() + "/";
  EXPECT_EQ(List(), (std::vector<std::string>{dir + "A", dir + "b", dir + "C"}));
}

TEST_F(PortList, MissingVirtualDirectoryAddsNothing) {
  Tty("ttyACM0", true);
  EXPECT_EQ(List(), std::vector<std::string>{"/dev/ttyACM0"});
}

TEST_F(PortList, EmptySystemEmptiesTheList) {
  std::vector<std::string> ports{"old entry"};
  ListSerialPorts(ports, Sys().string(), Virtual().string());
  EXPECT_TRUE(ports.empty());
}

TEST_F(PortList, UnreadableRootRaisesErrorTwentyThreeAndKeepsTheList) {
  std::vector<std::string> ports{"kept"};
  try {
    ListSerialPorts(ports, (root / "no-sysfs").string(), Virtual().string());
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 23);
    EXPECT_EQ(e.SystemCode(), ENOENT);
    EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
  }
  EXPECT_EQ(ports, std::vector<std::string>{"kept"});
}

TEST_F(PortList, VirtualPathThatIsNoDirectoryAddsNothing) {
  Tty("ttyACM0", true);
  std::ofstream(root / "file").put('x');
  std::vector<std::string> ports;
  ListSerialPorts(ports, Sys().string(), (root / "file").string());
  EXPECT_EQ(ports, std::vector<std::string>{"/dev/ttyACM0"});
}

TEST(SystemPortList, ReadsTheMachinesListWithoutError) {
  std::vector<std::string> ports;
  EXPECT_NO_THROW(ListSerialPorts(ports));
  for (const std::string& port : ports) EXPECT_EQ(port.front(), '/');
}
