// The port's properties, settings objects, apply steps, notifications and
// errors, over a device layer the test drives by hand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "fake_device_support.h"
#include "main_loop_support.h"
#include "serial/TComDataPacket.h"

namespace {
// Runs `action` and returns the EComPort it raised.
template <typename F>
EComPort Raised(F action) {
  try {
    action();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0);
}

// A link that writes down every call it gets.
struct RecordingLink {
  explicit RecordingLink(std::vector<std::string>& log, const std::string& name) {
    auto signal = [&log, name](const char* what) {
      return [&log, name, what](TCustomComPort&, bool on) { log.push_back(name + "." + what + (on ? "(1)" : "(0)")); };
    };
    link.OnPortState = signal("PortState");
    link.OnCTSChange = signal("CTS");
    link.OnDSRChange = signal("DSR");
    link.OnRLSDChange = signal("RLSD");
    link.OnTxActivity = signal("TxActivity");
    link.OnRxActivity = signal("RxActivity");
    link.OnTxData = [&log, name](TCustomComPort&, const char* b, int n) {
      log.push_back(name + ".TxData(" + std::string(b, static_cast<std::size_t>(n)) + ")");
    };
  }
  TComLink link;
};

void RecordPortEvents(TComPort& port, std::vector<std::string>& log) {
  auto notify = [&log](const char* what) { return [&log, what](TCustomComPort&) { log.push_back(what); }; };
  auto signal = [&log](const char* what) {
    return [&log, what](TCustomComPort&, bool on) { log.push_back(std::string(what) + (on ? "(1)" : "(0)")); };
  };
  port.OnBeforeOpen = notify("BeforeOpen");
  port.OnAfterOpen = notify("AfterOpen");
  port.OnBeforeClose = notify("BeforeClose");
  port.OnAfterClose = notify("AfterClose");
  port.OnCTSChange = signal("CTS");
  port.OnDSRChange = signal("DSR");
  port.OnRLSDChange = signal("RLSD");
}

class ComPort : public testing::Test {
 protected:
  ComPort() { rig.port.SetDispatcher(&loop); }
  TComPort& port() { return rig.port; }
  FakeSerialDevice& device() { return *rig.device; }

  // Declared before the port: its destructor still notifies them.
  std::vector<std::string> log;
  RecordingLink a{log, "a"}, b{log, "b"};
  TestMainLoop loop;
  FakePortRig rig;
};
}  // namespace

// ---- defaults and settings objects ----

TEST_F(ComPort, StartsWithTheDocumentedDefaults) {
  EXPECT_FALSE(port().Connected());
  EXPECT_EQ(port().BaudRate(), br9600);
  EXPECT_EQ(port().CustomBaudRate(), 9600);
  EXPECT_EQ(port().Port(), "COM1");
  EXPECT_EQ(port().Parity().Bits(), prNone);
  EXPECT_FALSE(port().Parity().Check());
  EXPECT_FALSE(port().Parity().Replace());
  EXPECT_EQ(port().Parity().ReplaceChar(), 0);
  EXPECT_EQ(port().StopBits(), sbOneStopBit);
  EXPECT_EQ(port().DataBits(), dbEight);
  EXPECT_FALSE(port().DiscardNull());
  EXPECT_EQ(port().EventChar(), 0);
  EXPECT_EQ(port().Events(), TComEvents::All());
  EXPECT_EQ(port().Buffer().InputSize(), 1024);
  EXPECT_EQ(port().Buffer().OutputSize(), 1024);
  EXPECT_EQ(port().FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port().FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port().FlowControl().XonChar(), 0x11);
  EXPECT_EQ(port().FlowControl().XoffChar(), 0x13);
  EXPECT_EQ(port().Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port().Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port().Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port().Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port().Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port().SyncMethod(), smThreadSync);
  EXPECT_EQ(port().DrainInterval(), 0);  // at every arrival
  EXPECT_FALSE(port().HasBufferLink());
}

TEST(ComBuffer, OddSizeIsStoredOneLower) {
  TComBuffer buffer;
  buffer.SetInputSize(1025);
  EXPECT_EQ(buffer.InputSize(), 1024);
  buffer.SetOutputSize(7);
  EXPECT_EQ(buffer.OutputSize(), 6);
  buffer.SetInputSize(-3);
  EXPECT_EQ(buffer.InputSize(), -3);
}

TEST(ComFlowControl, PresetReadsBackUntilAnXonXoffFlagJoins) {
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  EXPECT_EQ(flow.FlowControl(), fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  flow.SetControlDTR(dtrEnable);
  flow.SetOutDSRFlow(true);
  EXPECT_EQ(flow.FlowControl(), fcHardware);
  flow.SetXonXoffIn(true);
  EXPECT_EQ(flow.FlowControl(), fcCustom);

  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  EXPECT_FALSE(flow.XonXoffIn() || flow.XonXoffOut() || flow.OutCTSFlow());
  flow.SetFlowControl(fcCustom);
  EXPECT_EQ(flow.FlowControl(), fcNone);
}

TEST(ComSettingsObjects, CopiesCompareEqualAndAreNotBound) {
  TComParity parity;
  parity.SetBits(prMark);
  parity.SetReplaceChar(7);
  TComParity copy = parity;
  EXPECT_EQ(copy, parity);
  copy.SetCheck(true);
  EXPECT_FALSE(copy == parity);

  TComTimeouts timeouts;
  timeouts.SetWriteTotalConstant(5);
  TComTimeouts other;
  other = timeouts;
  EXPECT_EQ(other.WriteTotalConstant(), 5);
}

// ---- apply steps ----

TEST_F(ComPort, SettingsChangedOnAClosedPortTouchNoDevice) {
  port().SetBaudRate(br115200);
  port().Parity().SetBits(prEven);
  port().Buffer().SetInputSize(120000);
  port().Timeouts().SetReadInterval(5);
  port().FlowControl().SetFlowControl(fcHardware);
  EXPECT_TRUE(rig.openedPaths.empty());
  EXPECT_EQ(rig.device, nullptr);
}

TEST_F(ComPort, OpenAppliesQueueSizesThenLineSettingsThenTimeouts) {
  port().SetBaudRate(br115200);
  port().Parity().SetBits(prEven);
  port().Buffer().SetInputSize(120000);
  port().SetEvents({});
  port().Open();
  ASSERT_TRUE(port().Connected());
  const std::vector<std::string> calls = device().Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "SetQueueSizes");
  EXPECT_EQ(calls[1], "SetLineSettings");
  EXPECT_EQ(calls[2], "SetTimeouts");
  EXPECT_EQ(device().QueueSizes().at(0), (std::pair<int, int>{120000, 1024}));
  const TDeviceControlBlock dcb = device().LineSettings().at(0);
  EXPECT_EQ(dcb.BaudRate, 115200);
  EXPECT_EQ(dcb.Parity, 2);
  EXPECT_EQ(dcb.XonLim, 30000);
}

TEST_F(ComPort, TimeoutsReachTheDeviceInMillisecondsWithMinusOneAsTheLargest) {
  port().Timeouts().SetReadTotalMultiplier(-1);
  port().Timeouts().SetReadTotalConstant(250);
  port().Open();
  const TDeviceTimeouts t = device().Timeouts();
  EXPECT_EQ(t.ReadInterval, kNoTimeLimit);
  EXPECT_EQ(t.ReadTotalMultiplier, kNoTimeLimit);
  EXPECT_EQ(t.ReadTotalConstant, 250u);
  EXPECT_EQ(t.WriteTotalMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalConstant, 1000u);
}

namespace {
struct DrainCase {
  int asked;
  int held;  // what the port keeps and the device gets
};
class ComPortDrainInterval : public ComPort, public testing::WithParamInterface<DrainCase> {};
}  // namespace

TEST_P(ComPortDrainInterval, IsHeldBetweenEveryArrivalAndTheCap) {
  port().SetDrainInterval(GetParam().asked);
  EXPECT_EQ(port().DrainInterval(), GetParam().held);
  port().Open();
  EXPECT_EQ(device().DrainInterval(), GetParam().held);
  port().SetDrainInterval(0);  // at once on the open port
  EXPECT_EQ(device().DrainInterval(), 0);
  port().SetDrainInterval(GetParam().asked);
  EXPECT_EQ(device().DrainInterval(), GetParam().held);
}

INSTANTIATE_TEST_SUITE_P(Table, ComPortDrainInterval,
                         testing::Values(DrainCase{10, 10}, DrainCase{50, 50}, DrainCase{51, 50}, DrainCase{60000, 50},
                                         DrainCase{-5, 0}));

TEST_F(ComPort, LineSettingChangedOnAnOpenPortIsHandedOverAtOnce) {
  port().SetEvents({});
  port().Open();
  const std::size_t before = device().LineSettings().size();
  port().SetBaudRate(br57600);
  ASSERT_EQ(device().LineSettings().size(), before + 1);
  EXPECT_EQ(device().LineSettings().back().BaudRate, 57600);

  port().SetBaudRate(br57600);  // same value: nothing
  port().Parity().SetBits(prNone);
  EXPECT_EQ(device().LineSettings().size(), before + 1);

  port().Parity().SetBits(prOdd);
  port().SetStopBits(sbTwoStopBits);
  port().SetDataBits(dbSeven);
  port().SetDiscardNull(true);
  port().SetEventChar('\r');
  port().FlowControl().SetXonXoffOut(true);
  EXPECT_EQ(device().LineSettings().size(), before + 7);
  const TDeviceControlBlock last = device().LineSettings().back();
  EXPECT_EQ(last.Parity, 1);
  EXPECT_EQ(last.StopBits, 2);
  EXPECT_EQ(last.ByteSize, 7);
  EXPECT_TRUE(last.fNull);
  EXPECT_EQ(last.EvtChar, '\r');
  EXPECT_TRUE(last.fOutX);
}

TEST_F(ComPort, AssignedSettingsObjectsAlwaysReapply) {
  port().SetEvents({});
  port().Open();
  const std::size_t before = device().LineSettings().size();
  port().SetParity(port().Parity());
  port().FlowControl().SetFlowControl(fcNone);  // unchanged, still re-applied
  EXPECT_EQ(device().LineSettings().size(), before + 2);

  TComBuffer buffer;
  buffer.SetInputSize(4096);
  port().SetBuffer(buffer);
  EXPECT_EQ(device().QueueSizes().back(), (std::pair<int, int>{4096, 1024}));

  port().Buffer().SetInputSize(4097);  // differs before the adjustment
  EXPECT_EQ(device().QueueSizes().back(), (std::pair<int, int>{4096, 1024}));
  EXPECT_EQ(device().QueueSizes().size(), 3u);
}

struct SelfAssignRow {
  const char* name;
  void (*change)(TComPort&);  // a value off its default
  void (*assign)(TComPort&);  // the port's object assigned to itself
  bool (*kept)(const TComPort&);
  const char* reapply;  // the device call that re-applies the group
};
class ComPortSelfAssignment : public ComPort, public testing::WithParamInterface<SelfAssignRow> {};

TEST_P(ComPortSelfAssignment, KeepsTheValuesAndStillReapplies) {
  port().SetEvents({});
  port().Open();
  GetParam().change(port());
  const std::size_t before = device().Calls().size();
  GetParam().assign(port());
  EXPECT_TRUE(GetParam().kept(port()));
  const std::vector<std::string> calls = device().Calls();
  ASSERT_EQ(calls.size(), before + 1);
  EXPECT_EQ(calls.back(), GetParam().reapply);
}

INSTANTIATE_TEST_SUITE_P(
    Objects, ComPortSelfAssignment,
    testing::Values(SelfAssignRow{"Parity", [](TComPort& p) { p.Parity().SetBits(prEven); },
                                  [](TComPort& p) { p.SetParity(p.Parity()); },
                                  [](const TComPort& p) { return p.Parity().Bits() == prEven; }, "SetLineSettings"},
                    SelfAssignRow{"FlowControl", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); },
                                  [](TComPort& p) { p.SetFlowControl(p.FlowControl()); },
                                  [](const TComPort& p) { return p.FlowControl().XonXoffOut(); }, "SetLineSettings"},
                    SelfAssignRow{"Timeouts", [](TComPort& p) { p.Timeouts().SetReadInterval(5); },
                                  [](TComPort& p) { p.SetTimeouts(p.Timeouts()); },
                                  [](const TComPort& p) { return p.Timeouts().ReadInterval() == 5; }, "SetTimeouts"},
                    SelfAssignRow{"Buffer", [](TComPort& p) { p.Buffer().SetInputSize(4096); },
                                  [](TComPort& p) { p.SetBuffer(p.Buffer()); },
                                  [](const TComPort& p) { return p.Buffer().InputSize() == 4096; }, "SetQueueSizes"}),
    [](const testing::TestParamInfo<SelfAssignRow>& row) { return std::string(row.param.name); });

TEST_F(ComPort, FailedReapplyKeepsTheNewValueAndRaises) {
  port().SetEvents({});
  port().Open();
  device().Fail("SetLineSettings", EINVAL);
  const EComPort e = Raised([&] { port().SetBaudRate(br256000); });
  EXPECT_EQ(e.ErrorNumber(), 7);
  EXPECT_EQ(e.SystemCode(), EINVAL);
  EXPECT_EQ(port().BaudRate(), br256000);

  device().Fail("SetTimeouts", EIO);
  EXPECT_EQ(Raised([&] { port().Timeouts().SetReadInterval(10); }).ErrorNumber(), 8);
  EXPECT_EQ(port().Timeouts().ReadInterval(), 10);
}

TEST_F(ComPort, SyncMethodIsRefusedWhileConnected) {
  port().SetSyncMethod(smWindowSync);
  EXPECT_EQ(port().SyncMethod(), smWindowSync);
  port().SetEvents({});
  port().Open();
  const EComPort e = Raised([&] { port().SetSyncMethod(smNone); });
  EXPECT_STREQ(e.what(), "Cannot set property while connected");
  EXPECT_EQ(e.ErrorNumber(), 14);
  EXPECT_EQ(e.SystemCode(), -1);
  EXPECT_EQ(port().SyncMethod(), smWindowSync);
  port().SetSyncMethod(smWindowSync);  // the same value is no change
}

// ---- open and close ----

TEST_F(ComPort, PortNamesBecomeDevicePaths) {
  EXPECT_EQ(TCustomComPort::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(TCustomComPort::DevicePath("/run/user/1000/virtual-serial/ECG-SIM0"),
            "/run/user/1000/virtual-serial/ECG-SIM0");
  port().SetEvents({});
  port().SetPort("ttyS4");
  port().Open();
  EXPECT_EQ(rig.openedPaths, std::vector<std::string>{"/dev/ttyS4"});
}

TEST_F(ComPort, OpenNotifiesLinksThenThePortThenEachLineSignal) {
  port().RegisterLink(a.link);
  port().RegisterLink(b.link);
  RecordPortEvents(port(), log);
  port().SetEvents({});
  rig.port.SetDeviceOpener([&](const std::string&, int&) -> std::shared_ptr<SerialDevice> {
    rig.device = std::make_shared<FakeSerialDevice>();
    rig.device->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    return rig.device;
  });
  port().Open();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "a.PortState(1)", "b.PortState(1)", "AfterOpen", "a.CTS(1)",
                                           "b.CTS(1)", "CTS(1)", "a.DSR(0)", "b.DSR(0)", "DSR(0)", "a.RLSD(1)",
                                           "b.RLSD(1)", "RLSD(1)"}));
  int readings = 0;
  for (const std::string& call : device().Calls()) readings += call == "ModemStatus";
  EXPECT_EQ(readings, 3);

  log.clear();
  port().Close();
  EXPECT_EQ(log, (std::vector<std::string>{"a.CTS(0)", "b.CTS(0)", "a.DSR(0)", "b.DSR(0)", "a.RLSD(0)", "b.RLSD(0)",
                                           "CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "a.PortState(0)",
                                           "b.PortState(0)", "AfterClose"}));
  EXPECT_TRUE(device().Closed());
  EXPECT_FALSE(port().Connected());
}

TEST_F(ComPort, OpenOnAnOpenPortAndCloseOnAClosedPortDoNothing) {
  RecordPortEvents(port(), log);
  port().Close();
  EXPECT_TRUE(log.empty());
  port().SetEvents({});
  port().Open();
  log.clear();
  port().Open();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(rig.openedPaths.size(), 1u);
}

TEST_F(ComPort, OpenOfAMissingDeviceRaisesErrorOneAndStaysClosed) {
  RecordPortEvents(port(), log);
  rig.openError = ENOENT;
  const EComPort e = Raised([&] { port().Open(); });
  EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(e.ErrorNumber(), 1);
  EXPECT_FALSE(port().Connected());
  EXPECT_EQ(log, std::vector<std::string>{"BeforeOpen"});
}

struct ApplyFailure {
  const char* operation;
  int errorNumber;
};
class ComPortApplyFailure : public ComPort, public testing::WithParamInterface<ApplyFailure> {};

TEST_P(ComPortApplyFailure, ClosesTheDeviceAgainAndRaises) {
  RecordPortEvents(port(), log);
  rig.port.SetDeviceOpener([&](const std::string&, int&) -> std::shared_ptr<SerialDevice> {
    rig.device = std::make_shared<FakeSerialDevice>();
    rig.device->Fail(GetParam().operation, EIO);
    return rig.device;
  });
  const EComPort e = Raised([&] { port().Open(); });
  EXPECT_EQ(e.ErrorNumber(), GetParam().errorNumber);
  EXPECT_EQ(e.SystemCode(), EIO);
  EXPECT_FALSE(port().Connected());
  EXPECT_TRUE(device().Closed());
  EXPECT_EQ(log, std::vector<std::string>{"BeforeOpen"});
}

INSTANTIATE_TEST_SUITE_P(Steps, ComPortApplyFailure,
                         testing::Values(ApplyFailure{"SetQueueSizes", 9}, ApplyFailure{"SetLineSettings", 7},
                                         ApplyFailure{"SetTimeouts", 8}),
                         [](const testing::TestParamInfo<ApplyFailure>& row) {
                           return std::string(row.param.operation);
                         });

TEST_F(ComPort, LineSignalFailureAfterOpenReachesTheCallerWithThePortOpen) {
  rig.port.SetDeviceOpener([&](const std::string&, int&) -> std::shared_ptr<SerialDevice> {
    rig.device = std::make_shared<FakeSerialDevice>();
    rig.device->Fail("ModemStatus", EIO);
    return rig.device;
  });
  EXPECT_EQ(Raised([&] { port().Open(); }).ErrorNumber(), 11);
  EXPECT_TRUE(port().Connected());
  port().Close();
}

TEST_F(ComPort, FailedAbortLeavesThePortOpen) {
  port().SetEvents({});
  port().Open();
  RecordPortEvents(port(), log);
  device().Fail("Purge", EIO);
  EXPECT_EQ(Raised([&] { port().Close(); }).ErrorNumber(), 5);
  EXPECT_TRUE(port().Connected());
  EXPECT_EQ(log.back(), "BeforeClose");
  device().Fail("Purge", 0);
  port().Close();
  EXPECT_FALSE(port().Connected());
}

TEST_F(ComPort, NewPortNameOnAnOpenPortReopensOnTheNewDevice) {
  port().SetEvents({});
  port().SetPort("ttyA");
  port().SetPort("ttyA");
  port().Open();
  auto first = rig.device;
  port().SetPort("ttyA");
  EXPECT_EQ(rig.openedPaths.size(), 1u);
  port().SetPort("ttyB");
  EXPECT_TRUE(first->Closed());
  EXPECT_TRUE(port().Connected());
  EXPECT_EQ(rig.openedPaths, (std::vector<std::string>{"/dev/ttyA", "/dev/ttyB"}));
}

TEST_F(ComPort, LoadingOnlyStoresUntilLoaded) {
  port().BeginLoading();
  port().SetEvents({});
  port().SetConnected(true);
  port().SetBaudRate(br115200);
  EXPECT_TRUE(rig.openedPaths.empty());
  port().Loaded();
  EXPECT_TRUE(port().Connected());
  EXPECT_EQ(device().LineSettings().at(0).BaudRate, 115200);
}

TEST_F(ComPort, LoadedHandsAnOpenErrorToTheApplication) {
  port().BeginLoading();
  port().SetConnected(true);
  rig.openError = ENOENT;
  port().Loaded();
  EXPECT_FALSE(port().Connected());
  loop.RunPending();
  EXPECT_EQ(loop.Errors(), std::vector<std::string>{"Unable to open com port (win error code: 2)"});
}

TEST_F(ComPort, EmptyEventsStartNoEventThread) {
  port().SetEvents({});
  port().Open();
  for (const std::string& call : device().Calls()) EXPECT_NE(call, "SetEventMask");
}

TEST(ComPortDispatcher, ThreadSyncWithoutADispatcherIsAProgrammingError) {
  FakePortRig rig;
  EXPECT_THROW(rig.port.Open(), std::logic_error);
  EXPECT_FALSE(rig.port.Connected());
}

// ---- operations ----

TEST_F(ComPort, OperationsOnAClosedPortFailForLackOfADevice) {
  auto expect = [](int number, auto action) {
    const EComPort e = Raised(action);
    EXPECT_EQ(e.ErrorNumber(), number);
    EXPECT_EQ(e.SystemCode(), EBADF);
  };
  expect(2, [&] { port().WriteString("x"); });
  expect(12, [&] { port().SetDTR(true); });
  expect(12, [&] { port().SetRTS(false); });
  char buffer[4];
  expect(3, [&] { port().ReadBytes(buffer, 4); });
  expect(10, [&] { port().BytesWaiting(); });
  expect(10, [&] { port().TakeLineErrors(); });
  expect(11, [&] { port().LineSignals(); });
}

TEST_F(ComPort, WriteStringPassesEveryByteAndTellsTheLinks) {
  port().RegisterLink(a.link);
  port().SetEvents({});
  port().Open();
  log.clear();
  const std::string command("S\x00\x01", 3);
  EXPECT_EQ(port().WriteString(command), 3);
  EXPECT_EQ(device().Written(), command);
  EXPECT_EQ(log, (std::vector<std::string>{"a.TxActivity(1)", "a.TxData(" + command + ")"}));

  log.clear();
  const std::size_t calls = device().Calls().size();
  EXPECT_EQ(port().WriteString(""), 0);
  EXPECT_EQ(device().Calls().size(), calls);
  EXPECT_TRUE(log.empty());
}

TEST_F(ComPort, FailedWriteRaisesErrorTwo) {
  port().SetEvents({});
  port().Open();
  device().Fail("Write", EIO);
  const EComPort e = Raised([&] { port().WriteString("K"); });
  EXPECT_STREQ(e.what(), "WriteFile function failed (win error code: 5)");
}

TEST_F(ComPort, DtrAndRtsGoToTheDevice) {
  port().SetEvents({});
  port().Open();
  port().SetDTR(true);
  port().SetRTS(true);
  port().SetDTR(false);
  const std::vector<std::string> calls = device().Calls();
  std::vector<std::string> lines;
  for (const std::string& c : calls)
    if (c.find("DTR") != std::string::npos || c.find("RTS") != std::string::npos) lines.push_back(c);
  EXPECT_EQ(lines, (std::vector<std::string>{"SetDTR", "SetRTS", "ClearDTR"}));
  device().Fail("Escape", EIO);
  EXPECT_EQ(Raised([&] { port().SetRTS(true); }).ErrorNumber(), 12);
}

TEST_F(ComPort, ParityErrorsCountOnlyWhenParityIsChecked) {
  port().SetEvents({});
  port().Open();
  device().Announce(0, {erParity, erFraming});
  EXPECT_EQ(port().TakeLineErrors(), TComErrors{erFraming});
  EXPECT_TRUE(port().TakeLineErrors().Empty());  // taking clears
  port().Parity().SetCheck(true);
  device().Announce(0, {erParity});
  EXPECT_EQ(port().TakeLineErrors(), TComErrors{erParity});
}

TEST_F(ComPort, LineSignalsReadTheModemStatus) {
  port().SetEvents({});
  port().Open();
  device().SetModemStatus(MS_DSR_ON | MS_RING_ON);
  EXPECT_EQ(port().LineSignals(), (TComSignals{csDSR, csRing}));
}

// ---- links ----

TEST_F(ComPort, LinksRegisterOnceAndUnregisterOnce) {
  TComLink plain, buffered;
  buffered.OnRxBuf = [](TCustomComPort&, const char*, int) {};
  port().RegisterLink(plain);
  EXPECT_FALSE(port().HasBufferLink());
  port().RegisterLink(buffered);
  EXPECT_TRUE(port().HasBufferLink());

  EXPECT_STREQ(Raised([&] { port().RegisterLink(plain); }).what(), "Link (un)registration failed");
  port().UnregisterLink(buffered);
  EXPECT_FALSE(port().HasBufferLink());
  EXPECT_EQ(Raised([&] { port().UnregisterLink(buffered); }).ErrorNumber(), 18);
  port().UnregisterLink(plain);
}

TEST(ComPortLifetime, DestroyedPortUnbindsItsFramers) {
  TComDataPacket framer;
  {
    TComPort port;
    framer.SetComPort(&port);
    EXPECT_TRUE(port.HasBufferLink());
  }
  EXPECT_EQ(framer.ComPort(), nullptr);
}

TEST(ComPortLifetime, FramerBoundAcrossPortsMovesItsLink) {
  TComPort a, b;
  TComDataPacket framer;
  framer.SetComPort(&a);
  framer.SetComPort(&b);
  EXPECT_FALSE(a.HasBufferLink());
  EXPECT_TRUE(b.HasBufferLink());
  framer.SetComPort(nullptr);
  EXPECT_FALSE(b.HasBufferLink());
}

// ---- closing, loading and what Open raises ----

TEST_F(ComPort, CloseLowersDtrAndRtsBeforeItReleasesTheDevice) {
  port().SetEvents({});
  port().Open();
  port().SetDTR(true);
  port().SetRTS(true);
  const std::shared_ptr<FakeSerialDevice> device = rig.device;
  port().Close();
  std::vector<std::string> lines;
  for (const std::string& c : device->Calls())
    if (c.find("DTR") != std::string::npos || c.find("RTS") != std::string::npos || c == "Close") lines.push_back(c);
  EXPECT_EQ(lines, (std::vector<std::string>{"SetDTR", "SetRTS", "ClearDTR", "ClearRTS", "Close"}));
}

TEST_F(ComPort, ConnectedStoredWhileLoadingNeedsNoDeviceToCloseOrToBeDestroyed) {
  port().BeginLoading();
  port().SetConnected(true);
  port().Close();
  EXPECT_FALSE(port().Connected());
  {
    TComPort destroyedConnected(&loop);
    destroyedConnected.BeginLoading();
    destroyedConnected.SetConnected(true);
  }
  EXPECT_TRUE(rig.openedPaths.empty());
}

TEST_F(ComPort, CountingTheWaitingBytesLeavesTheLineErrorsToBeTaken) {
  port().SetEvents({});
  port().Open();
  device().Announce(0, {erFraming});
  device().Receive("ab", 0);
  EXPECT_EQ(port().BytesWaiting(), 2);
  char out[1];
  EXPECT_EQ(port().ReadBytes(out, 1), 1);
  EXPECT_EQ(port().TakeLineErrors(), TComErrors{erFraming});
}

TEST_F(ComPort, OpenThatCannotStartItsEventThreadRaisesTheSerialErrorAndStaysClosed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' own checks need descriptors too.
  GTEST_SKIP() << "no descriptors to spare under a sanitizer";
#endif
  // No descriptor left for the event thread's signals: every number below
  // the lowest free one is taken, and the limit forbids that one.
  const int lowest = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::optional<EComPort> raised;
  bool other = false;
  try {
    port().Open();
  } catch (const EComPort& e) {
    raised = e;
  } catch (...) {
    other = true;
  }
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_FALSE(other);
  ASSERT_TRUE(raised.has_value());
  EXPECT_EQ(raised->ErrorNumber(), ComError::OpenFailed);
  EXPECT_EQ(raised->SystemCode(), EMFILE);
  EXPECT_FALSE(port().Connected());
  EXPECT_TRUE(device().Closed());
}

TEST_F(ComPort, OpenerThatRaisesASystemErrorBecomesTheSerialError) {
  port().SetDeviceOpener([](const std::string&, int&) -> std::shared_ptr<SerialDevice> {
    throw std::system_error(EMFILE, std::generic_category(), "open");
  });
  const EComPort e = Raised([&] { port().Open(); });
  EXPECT_EQ(e.ErrorNumber(), ComError::OpenFailed);
  EXPECT_EQ(e.SystemCode(), EMFILE);
  EXPECT_FALSE(port().Connected());
}
