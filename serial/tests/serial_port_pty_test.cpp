// The port on a real pseudo-terminal: opening, the line settings the kernel
// ends up with, writing, exclusive use, and a pty's missing modem lines.
#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <thread>

#include "main_loop_support.h"
#include "serial/TComPort.h"
#include "testsupport/PtyPair.h"

namespace {
// The module's line as the main window configures it.
void ConfigureForModule(TComPort& port, const std::string& path) {
  port.SetPort(path);
  port.SetBaudRate(br115200);
  port.Parity().SetBits(prEven);
  port.Buffer().SetInputSize(120000);
}

// Termios ioctls on the master act on the slave's settings.
termios SlaveSettings(const PtyPair& pty) {
  termios t{};
  EXPECT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
  return t;
}

speed_t OutputSpeed(const PtyPair& pty) {
  const termios t = SlaveSettings(pty);
  return cfgetospeed(&t);
}

class PortOnPty : public testing::Test {
 protected:
  PortOnPty() : port(&loop) { ConfigureForModule(port, pty.SlavePath()); }
  ~PortOnPty() override { port.Close(); }

  PtyPair pty;
  TestMainLoop loop;
  TComPort port;
};
}  // namespace

TEST_F(PortOnPty, OpenSetsTheModuleRateAndRawMode) {
  port.Open();
  ASSERT_TRUE(port.Connected());
  const termios t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  // A pty forces CS8 and drops PARENB, so parity cannot be read back here.
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(PortOnPty, BaudRateChangedOnTheOpenPortIsAppliedAtOnce) {
  port.Open();
  port.SetBaudRate(br57600);
  EXPECT_EQ(OutputSpeed(pty), static_cast<speed_t>(B57600));
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  // CBAUDEX is the kernel's "rate in c_ospeed" code.
  EXPECT_EQ(SlaveSettings(pty).c_cflag & CBAUD, static_cast<tcflag_t>(CBAUDEX));
}

TEST_F(PortOnPty, BaudRateChangedOnAClosedPortTouchesNothing) {
  port.Open();
  port.Close();
  const speed_t before = OutputSpeed(pty);
  port.SetBaudRate(br1200);
  EXPECT_EQ(OutputSpeed(pty), before);
  port.Open();
  EXPECT_EQ(OutputSpeed(pty), static_cast<speed_t>(B1200));
}

TEST_F(PortOnPty, StringHoldingAZeroByteArrivesWhole) {
  port.Open();
  const std::string command("\x01\x00\x02\xFF\x0A\x0D", 6);
  EXPECT_EQ(port.WriteString(command), 6);
  const std::vector<unsigned char> got = pty.Read(6, std::chrono::seconds(30));
  EXPECT_EQ(std::string(got.begin(), got.end()), command);
}

TEST_F(PortOnPty, EmptyStringWritesNothingAndReturnsZero) {
  port.Open();
  EXPECT_EQ(port.WriteString(""), 0);
  EXPECT_EQ(port.WriteString("I"), 1);
  // The only byte to arrive is the "I" written after the empty string.
  const std::vector<unsigned char> got = pty.Read(2, std::chrono::milliseconds(300));
  EXPECT_EQ(std::string(got.begin(), got.end()), "I");
}

TEST_F(PortOnPty, WriteThatCannotFinishReturnsWhatWentOutWhenItsTimeOutRunsOut) {
  port.Open();
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(200);
  // Nobody reads the master: the pty's buffer fills and the write stops.
  const std::string big(4 * 1024 * 1024, 'x');
  const int written = port.WriteString(big);
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(big.size()));
}

TEST_F(PortOnPty, LargestWriteTimeOutsWaitForTheWholeWrite) {
  port.Open();
  // -1 is the largest value: (2^32 - 1) ms per byte plus as much again, far
  // beyond what the clock can count in nanoseconds.
  port.Timeouts().SetWriteTotalMultiplier(-1);
  port.Timeouts().SetWriteTotalConstant(-1);
  const std::string big(1000000, 'w');
  std::vector<unsigned char> got;
  std::thread reader([&] { got = pty.Read(big.size(), std::chrono::seconds(60)); });
  EXPECT_EQ(port.WriteString(big), static_cast<int>(big.size()));
  reader.join();
  EXPECT_EQ(got.size(), big.size());
}

TEST_F(PortOnPty, PtyHasNoModemLinesSoTheyDoNothingAndReadOff) {
  port.Open();
  EXPECT_NO_THROW(port.SetDTR(true));
  EXPECT_NO_THROW(port.SetRTS(true));
  EXPECT_NO_THROW(port.SetDTR(false));
  EXPECT_TRUE(port.LineSignals().Empty());
}

TEST_F(PortOnPty, SecondOpenerIsRefusedWhileTheFirstHoldsTheDevice) {
  port.Open();
  TComPort second(&loop);
  second.SetPort(pty.SlavePath());
  try {
    second.Open();
    FAIL() << "second opener got the device";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 1);
    EXPECT_EQ(e.SystemCode(), EBUSY);
  }
  EXPECT_FALSE(second.Connected());
  port.Close();
  second.Open();  // released by Close
  EXPECT_TRUE(second.Connected());
}

TEST_F(PortOnPty, CommandsWrittenRightBeforeEachCloseAllArrive) {
  for (int round = 0; round < 3; ++round) {
    port.Open();
    EXPECT_EQ(port.WriteString("K"), 1);
    port.Close();
  }
  EXPECT_EQ(pty.Read(3, std::chrono::seconds(30)).size(), 3u);
}

TEST(PortOnMissingDevice, OpenRaisesErrorOneWithTheSystemCode) {
  TestMainLoop loop;
  TComPort port(&loop);
  port.SetPort("/dev/ecg-no-such-port");
  try {
    port.Open();
    FAIL() << "opened a missing device";
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    EXPECT_EQ(e.SystemCode(), ENOENT);
  }
  EXPECT_FALSE(port.Connected());
}

TEST(PortOnMissingDevice, PlainFileIsNoSerialPort) {
  TestMainLoop loop;
  TComPort port(&loop);
  port.SetPort("/proc/self/status");
  try {
    port.Open();
    FAIL() << "opened a plain file";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 1);
    EXPECT_EQ(e.SystemCode(), ENOTTY);
  }
}
