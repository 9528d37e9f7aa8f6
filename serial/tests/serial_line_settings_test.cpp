// The pure parts of the line settings: the device control block computed
// from the port's properties, its mapping onto termios, the rate table, the
// event mask and the error messages.
#include <gtest/gtest.h>
#include <termios.h>

#include <optional>

#include "serial/DeviceControlBlock.h"
#include "serial/EComPort.h"

namespace {
constexpr std::uint32_t kBOTHER = 0010000;

// The main window's port: 115200 baud, even parity, 120000-byte input queue.
TLineSettings WindowSettings() {
  TLineSettings s;
  s.BaudRate = br115200;
  s.Parity.SetBits(prEven);
  s.InputSize = 120000;
  return s;
}

TTermiosSettings Map(const TDeviceControlBlock& dcb) {
  TTermiosSettings t;
  EXPECT_TRUE(TermiosFromDeviceControlBlock(dcb, t));
  return t;
}
}  // namespace

TEST(DeviceControlBlock, WindowSettingsGiveTheModuleLine) {
  const TDeviceControlBlock dcb = MakeDeviceControlBlock(WindowSettings());
  EXPECT_EQ(dcb.BaudRate, 115200);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 2);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_FALSE(dcb.fParity);  // parity generated, not checked
  EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fOutX || dcb.fInX || dcb.fDsrSensitivity ||
               dcb.fTXContinueOnXoff || dcb.fErrorChar || dcb.fNull);
  EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_DISABLE);
  EXPECT_EQ(dcb.XonLim, 30000);
  EXPECT_EQ(dcb.XoffLim, 30000);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
}

TEST(DeviceControlBlock, ReplaceWithoutCheckLeavesErrorCharClear) {
  TLineSettings s;
  s.Parity.SetReplace(true);
  s.Parity.SetReplaceChar('?');
  TDeviceControlBlock dcb = MakeDeviceControlBlock(s);
  EXPECT_FALSE(dcb.fErrorChar);
  EXPECT_EQ(dcb.ErrorChar, 0);

  s.Parity.SetCheck(true);
  dcb = MakeDeviceControlBlock(s);
  EXPECT_TRUE(dcb.fParity);
  EXPECT_TRUE(dcb.fErrorChar);
  EXPECT_EQ(dcb.ErrorChar, '?');
}

TEST(DeviceControlBlock, CopiesFlowControlDiscardNullAndEventChar) {
  TLineSettings s;
  s.FlowControl.SetOutCTSFlow(true);
  s.FlowControl.SetOutDSRFlow(true);
  s.FlowControl.SetControlDTR(dtrHandshake);
  s.FlowControl.SetControlRTS(rtsToggle);
  s.FlowControl.SetDSRSensitivity(true);
  s.FlowControl.SetTxContinueOnXoff(true);
  s.FlowControl.SetXonXoffIn(true);
  s.FlowControl.SetXonChar(0x01);
  s.FlowControl.SetXoffChar(0x02);
  s.DiscardNull = true;
  s.EventChar = 0x0D;
  s.StopBits = sbTwoStopBits;
  s.DataBits = dbSeven;
  s.Parity.SetBits(prSpace);
  s.InputSize = 1024;
  const TDeviceControlBlock dcb = MakeDeviceControlBlock(s);
  EXPECT_TRUE(dcb.fOutxCtsFlow);
  EXPECT_TRUE(dcb.fOutxDsrFlow);
  EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_HANDSHAKE);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_TOGGLE);
  EXPECT_TRUE(dcb.fDsrSensitivity);
  EXPECT_TRUE(dcb.fTXContinueOnXoff);
  EXPECT_TRUE(dcb.fInX);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_EQ(dcb.XonChar, 0x01);
  EXPECT_EQ(dcb.XoffChar, 0x02);
  EXPECT_TRUE(dcb.fNull);
  EXPECT_EQ(dcb.EvtChar, 0x0D);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, 4);
  EXPECT_EQ(dcb.XonLim, 256);
}

TEST(DeviceControlBlock, CustomRateIsUsedOnlyForBrCustom) {
  TLineSettings s;
  s.CustomBaudRate = 250000;
  EXPECT_EQ(MakeDeviceControlBlock(s).BaudRate, 9600);
  s.BaudRate = brCustom;
  EXPECT_EQ(MakeDeviceControlBlock(s).BaudRate, 250000);
}

struct RateRow {
  TBaudRate rate;
  int value;
};
class BaudRateTable : public testing::TestWithParam<RateRow> {};
TEST_P(BaudRateTable, StandsForItsRate) { EXPECT_EQ(BaudRateValue(GetParam().rate, 1234), GetParam().value); }
INSTANTIATE_TEST_SUITE_P(AllSixteen, BaudRateTable,
                         testing::Values(RateRow{brCustom, 1234}, RateRow{br110, 110}, RateRow{br300, 300},
                                         RateRow{br600, 600}, RateRow{br1200, 1200}, RateRow{br2400, 2400},
                                         RateRow{br4800, 4800}, RateRow{br9600, 9600}, RateRow{br14400, 14400},
                                         RateRow{br19200, 19200}, RateRow{br38400, 38400}, RateRow{br56000, 56000},
                                         RateRow{br57600, 57600}, RateRow{br115200, 115200}, RateRow{br128000, 128000},
                                         RateRow{br256000, 256000}),
                         [](const testing::TestParamInfo<RateRow>& row) { return std::to_string(row.param.value); });

// ---- termios ----

TEST(TermiosMapping, WindowSettingsGiveRaw115200EightEvenOne) {
  const TTermiosSettings t = Map(MakeDeviceControlBlock(WindowSettings()));
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<std::uint32_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<std::uint32_t>(CS8));
  EXPECT_TRUE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & PARODD);
  EXPECT_FALSE(t.c_cflag & CMSPAR);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_TRUE(t.c_cflag & HUPCL);  // the lines drop whenever the device is closed
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY));
  EXPECT_FALSE(t.c_iflag & (INPCK | PARMRK | ISTRIP | IGNBRK | BRKINT | IGNPAR));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR));
  EXPECT_EQ(t.c_oflag, 0u);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(t.c_ospeed, 115200u);
}

struct TermiosRow {
  const char* name;
  std::function<void(TLineSettings&)> configure;
  std::uint32_t cflagSet;
  std::uint32_t cflagClear;
  std::uint32_t iflagSet;
  std::uint32_t iflagClear;
};

class TermiosTable : public testing::TestWithParam<TermiosRow> {};

TEST_P(TermiosTable, MapsTheSettingOntoTermios) {
  const TermiosRow& row = GetParam();
  TLineSettings s;
  row.configure(s);
  const TTermiosSettings t = Map(MakeDeviceControlBlock(s));
  EXPECT_EQ(t.c_cflag & row.cflagSet, row.cflagSet);
  EXPECT_EQ(t.c_cflag & row.cflagClear, 0u);
  EXPECT_EQ(t.c_iflag & row.iflagSet, row.iflagSet);
  EXPECT_EQ(t.c_iflag & row.iflagClear, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TermiosTable,
    testing::Values(
        TermiosRow{"NoParity", [](TLineSettings&) {}, CS8, PARENB | CMSPAR | CSTOPB | CRTSCTS, 0, INPCK | IXON},
        TermiosRow{"Odd", [](TLineSettings& s) { s.Parity.SetBits(prOdd); }, PARENB | PARODD, CMSPAR, 0, 0},
        TermiosRow{"Mark", [](TLineSettings& s) { s.Parity.SetBits(prMark); }, PARENB | CMSPAR | PARODD, 0, 0, 0},
        TermiosRow{"Space", [](TLineSettings& s) { s.Parity.SetBits(prSpace); }, PARENB | CMSPAR, PARODD, 0, 0},
        TermiosRow{"CheckedParity", [](TLineSettings& s) { s.Parity.SetCheck(true); }, 0, 0, INPCK, PARMRK},
        TermiosRow{"ReplacedParity",
                   [](TLineSettings& s) {
                     s.Parity.SetCheck(true);
                     s.Parity.SetReplace(true);
                   },
                   0, 0, INPCK | PARMRK, 0},
        TermiosRow{"OneAndAHalfStopBitsBecomeTwo", [](TLineSettings& s) { s.StopBits = sbOne5StopBits; }, CSTOPB, 0, 0,
                   0},
        TermiosRow{"TwoStopBits", [](TLineSettings& s) { s.StopBits = sbTwoStopBits; }, CSTOPB, 0, 0, 0},
        TermiosRow{"FiveDataBits", [](TLineSettings& s) { s.DataBits = dbFive; }, CS5, CS8 & ~CS5, 0, 0},
        TermiosRow{"SixDataBits", [](TLineSettings& s) { s.DataBits = dbSix; }, CS6, CS8 & ~CS6, 0, 0},
        TermiosRow{"SevenDataBits", [](TLineSettings& s) { s.DataBits = dbSeven; }, CS7, CS8 & ~CS7, 0, 0},
        TermiosRow{"HardwareHandshake", [](TLineSettings& s) { s.FlowControl.SetFlowControl(fcHardware); }, CRTSCTS, 0,
                   0, IXON | IXOFF},
        TermiosRow{"CtsOutputFlowAlone", [](TLineSettings& s) { s.FlowControl.SetOutCTSFlow(true); }, CRTSCTS, 0, 0, 0},
        TermiosRow{"RtsHandshakeAlone", [](TLineSettings& s) { s.FlowControl.SetControlRTS(rtsHandshake); }, CRTSCTS, 0,
                   0, 0},
        TermiosRow{"SoftwareFlowControl", [](TLineSettings& s) { s.FlowControl.SetFlowControl(fcSoftware); }, 0,
                   CRTSCTS, IXON | IXOFF, 0},
        TermiosRow{"XonXoffOutOnly", [](TLineSettings& s) { s.FlowControl.SetXonXoffOut(true); }, 0, 0, IXON, IXOFF}),
    [](const testing::TestParamInfo<TermiosRow>& row) { return std::string(row.param.name); });

TEST(TermiosMapping, XonXoffCharactersGoToStartAndStop) {
  TLineSettings s;
  s.FlowControl.SetXonChar(0x05);
  s.FlowControl.SetXoffChar(0x06);
  const TTermiosSettings t = Map(MakeDeviceControlBlock(s));
  EXPECT_EQ(t.c_cc[VSTART], 0x05);
  EXPECT_EQ(t.c_cc[VSTOP], 0x06);
}

struct SpeedRow {
  TBaudRate rate;
  std::uint32_t code;
  std::uint32_t speed;
};
class TermiosSpeed : public testing::TestWithParam<SpeedRow> {};

TEST_P(TermiosSpeed, StandardRatesUseTheirConstantOthersTheRateItself) {
  TLineSettings s;
  s.BaudRate = GetParam().rate;
  s.CustomBaudRate = 250000;
  const TTermiosSettings t = Map(MakeDeviceControlBlock(s));
  EXPECT_EQ(t.c_cflag & CBAUD, GetParam().code);
  EXPECT_EQ(t.c_ospeed, GetParam().speed);
  EXPECT_EQ(t.c_ispeed, GetParam().speed);
}

INSTANTIATE_TEST_SUITE_P(Rates, TermiosSpeed,
                         testing::Values(SpeedRow{br110, B110, 110}, SpeedRow{br9600, B9600, 9600},
                                         SpeedRow{br57600, B57600, 57600}, SpeedRow{br115200, B115200, 115200},
                                         SpeedRow{br14400, kBOTHER, 14400}, SpeedRow{br56000, kBOTHER, 56000},
                                         SpeedRow{br128000, kBOTHER, 128000}, SpeedRow{br256000, kBOTHER, 256000},
                                         SpeedRow{brCustom, kBOTHER, 250000}),
                         [](const testing::TestParamInfo<SpeedRow>& row) { return std::to_string(row.param.speed); });

TEST(TermiosMapping, RefusesARateBelowOne) {
  TLineSettings s;
  s.BaudRate = brCustom;
  s.CustomBaudRate = 0;
  TTermiosSettings t;
  EXPECT_FALSE(TermiosFromDeviceControlBlock(MakeDeviceControlBlock(s), t));
}

// ---- event mask ----

TEST(EventMask, AllTenEventsGive05FF) {
  EXPECT_EQ(EventMaskOf(TComEvents::All()), 0x05FFu);
  EXPECT_EQ(EventsOfMask(0x05FF), TComEvents::All());
  EXPECT_EQ(EventsOfMask(0x0200 | EV_RLSD), TComEvents{evRLSD});  // unknown bits dropped
  EXPECT_EQ(EventFlag(evRing), 0x0100u);
  EXPECT_EQ(EventFlag(evRLSD), 0x0020u);
}

// ---- error messages ----

TEST(EComPortMessages, CarryTheSystemCodeInTheirSuffix) {
  const EComPort withCode(ComError::OpenFailed, 2);
  EXPECT_STREQ(withCode.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(withCode.ErrorNumber(), 1);
  EXPECT_EQ(withCode.SystemCode(), 2);

  const EComPort without(ComError::RegFailed);
  EXPECT_STREQ(without.what(), "Link (un)registration failed");
  EXPECT_EQ(without.SystemCode(), -1);
}

TEST(EComPortMessages, TableHoldsTwentyThreeRows) {
  EXPECT_STREQ(ComErrorText(5), "PurgeComm function failed");
  EXPECT_STREQ(ComErrorText(14), "Cannot set property while connected");
  EXPECT_STREQ(ComErrorText(23), "Registry error");
  EXPECT_STREQ(ComErrorText(24), "");
  EXPECT_STREQ(EComPort(ComError::RegistryError, 13).what(), "Registry error (win error code: 13)");
}

// ---- DTR and RTS at a new control block ----

namespace {
TDeviceControlBlock Modes(TDTRFlowControl dtr, TRTSFlowControl rts) {
  TLineSettings s;
  s.FlowControl.SetControlDTR(dtr);
  s.FlowControl.SetControlRTS(rts);
  return MakeDeviceControlBlock(s);
}

struct LineChangeRow {
  const char* name;
  std::optional<TDeviceControlBlock> previous;
  TDeviceControlBlock next;
  TModemLineChanges changes;
};
class ModemLines : public testing::TestWithParam<LineChangeRow> {};

constexpr auto Keep = TLineChange::Keep;
constexpr auto Raise = TLineChange::Raise;
constexpr auto Lower = TLineChange::Lower;
}  // namespace

TEST_P(ModemLines, FollowTheControlModeOnlyWhenItChanges) {
  const LineChangeRow& row = GetParam();
  EXPECT_EQ(ModemLineChanges(row.previous ? &*row.previous : nullptr, row.next), row.changes);
}

INSTANTIATE_TEST_SUITE_P(
    ControlBlocks, ModemLines,
    testing::Values(
        LineChangeRow{"FirstDisableLowersBoth", std::nullopt, Modes(dtrDisable, rtsDisable), {Lower, Lower}},
        LineChangeRow{"FirstEnableRaisesBoth", std::nullopt, Modes(dtrEnable, rtsEnable), {Raise, Raise}},
        LineChangeRow{
            "FirstHandshakeRaisesAndToggleStartsLow", std::nullopt, Modes(dtrHandshake, rtsToggle), {Raise, Lower}},
        LineChangeRow{"SameModesAgainKeepRaisedLinesRaised",
                      Modes(dtrDisable, rtsDisable),
                      [] {
                        TDeviceControlBlock d = Modes(dtrDisable, rtsDisable);
                        d.BaudRate = 57600;
                        d.Parity = 1;
                        return d;
                      }(),
                      {Keep, Keep}},
        LineChangeRow{"ChangedDtrModeAloneMovesDtrAlone",
                      Modes(dtrDisable, rtsEnable),
                      Modes(dtrEnable, rtsEnable),
                      {Raise, Keep}},
        LineChangeRow{
            "RtsBackToDisableLowersIt", Modes(dtrEnable, rtsHandshake), Modes(dtrEnable, rtsDisable), {Keep, Lower}}),
    [](const testing::TestParamInfo<LineChangeRow>& row) { return std::string(row.param.name); });

// ---- the settings objects and their owner ----

namespace {
// Notes which group each apply request was for.
class RecordingOwner : public TComSettingsOwner {
 public:
  void ApplyLineSettings() override { calls += "line "; }
  void ApplyBufferSizes() override { calls += "buffer "; }
  void ApplyTimeouts() override { calls += "timeouts "; }
  std::string calls;
};
}  // namespace

TEST(SettingsOwner, EachObjectAsksForItsOwnGroupOnlyWhenAValueChanges) {
  RecordingOwner owner;
  TComParity parity(owner);
  TComFlowControl flow(owner);
  TComTimeouts timeouts(owner);
  TComBuffer buffer(owner);
  parity.SetBits(prEven);
  parity.SetBits(prEven);  // unchanged
  flow.SetXonChar(0x12);
  timeouts.SetReadInterval(5);
  buffer.SetInputSize(4096);
  buffer.SetInputSize(4096);
  EXPECT_EQ(owner.calls, "line line timeouts buffer ");
}

TEST(SettingsOwner, CopyOfABoundObjectIsBoundToNothing) {
  RecordingOwner owner;
  TComTimeouts bound(owner);
  TComTimeouts copy = bound;
  copy.SetReadInterval(7);
  copy = bound;
  EXPECT_EQ(owner.calls, "");
  bound = copy;  // assigning into the bound one re-applies, changed or not
  EXPECT_EQ(owner.calls, "timeouts ");
}
