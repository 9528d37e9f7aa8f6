#include <gtest/gtest.h>

#include "sim_stream_support.h"
#include "simulator/CommandParser.h"

namespace {
const std::string kDefaultSetup = Bytes("53 31 41 31 35 31 46 31 50 30 45 30 43 07 44 00 4D 30");
const std::string kTwelveSetup = Bytes("53 31 41 31 35 31 46 31 50 30 45 30 43 7F 44 1F 4D 30");
const std::string kFullSetup = Bytes("53 37 41 33 35 30 46 30 50 31 45 31 43 FF 44 00 4D 31");

std::vector<CommandKind> Kinds(const std::vector<ModuleCommand>& commands) {
  std::vector<CommandKind> kinds;
  for (const ModuleCommand& command : commands) kinds.push_back(command.kind);
  return kinds;
}

std::vector<ModuleCommand> ParseAll(const std::string& bytes) {
  CommandParser parser;
  std::vector<ModuleCommand> out = parser.Feed(bytes);
  parser.Flush(out);
  return out;
}

ModuleConfig Config(int transmission, int amplification, int filter, int mode, bool pacer, bool emg,
                    std::uint8_t channels, std::uint8_t chest, bool simulation) {
  return ModuleConfig{transmission, amplification, filter, mode, pacer, emg, channels, chest, simulation};
}

struct SetupCase {
  const char* name;
  std::string bytes;
  ModuleConfig config;
};

class SetupCommandTable : public testing::TestWithParam<SetupCase> {};

TEST_P(SetupCommandTable, DecodesToTheChosenSettings) {
  const auto commands = ParseAll(GetParam().bytes);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].kind, CommandKind::Setup);
  EXPECT_EQ(commands[0].setup, GetParam().config);
  EXPECT_EQ(commands[0].bytes, GetParam().bytes);
}

TEST_P(SetupCommandTable, EncodesToTheToolsBytes) {
  EXPECT_EQ(HexBytes(EncodeSetupCommand(GetParam().config)), HexBytes(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(
    ToolSetups, SetupCommandTable,
    testing::Values(SetupCase{"Defaults", kDefaultSetup, Config(1, 1, 1, 1, false, false, 0x07, 0x00, false)},
                    SetupCase{"TwelveChannel", kTwelveSetup, Config(1, 1, 1, 1, false, false, 0x7F, 0x1F, false)},
                    SetupCase{"Fastest", kFullSetup, Config(3, 3, 0, 0, true, true, 0xFF, 0x00, true)},
                    SetupCase{"NoChannel", Bytes("53 30 41 30 35 32 46 31 50 30 45 30 43 00 44 00 4D 30"),
                              Config(0, 0, 2, 1, false, false, 0x00, 0x00, false)}),
    [](const auto& row) { return std::string(row.param.name); });

struct ServiceCase {
  const char* name;
  std::string bytes;
  CommandKind kind;
  int address;
  std::uint8_t value;
};

class ServiceCommandTable : public testing::TestWithParam<ServiceCase> {};

TEST_P(ServiceCommandTable, IsRecognised) {
  const auto commands = ParseAll(GetParam().bytes);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].kind, GetParam().kind);
  EXPECT_EQ(commands[0].bytes, GetParam().bytes);
  if (GetParam().kind == CommandKind::RegisterWrite) {
    EXPECT_EQ(commands[0].address, GetParam().address);
    EXPECT_EQ(commands[0].value, GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ServiceCommands, ServiceCommandTable,
    testing::Values(ServiceCase{"ElectrodeSearch", "q0", CommandKind::ElectrodeSearch, 0, 0},
                    ServiceCase{"Calibrate", "K", CommandKind::Calibrate, 0, 0},
                    ServiceCase{"Identify", "I", CommandKind::Identify, 0, 0},
                    ServiceCase{"HighestRegister", Bytes("72 49 81"), CommandKind::RegisterWrite, 25, 0x81},
                    ServiceCase{"LowestRegisterZero", Bytes("72 30 00"), CommandKind::RegisterWrite, 0, 0x00},
                    ServiceCase{"ValueLooksLikeACommand", Bytes("72 35 53"), CommandKind::RegisterWrite, 5, 'S'}),
    [](const auto& row) { return std::string(row.param.name); });

// Commands as the tool sends them in a session, back to back.
const std::string kSession =
    kDefaultSetup + "q0" + "K" + "I" + Bytes("72 35 7F") + kTwelveSetup + "I" + Bytes("72 49 53") + kFullSetup;
const std::vector<CommandKind> kSessionKinds = {
    CommandKind::Setup,    CommandKind::ElectrodeSearch, CommandKind::Calibrate,
    CommandKind::Identify, CommandKind::RegisterWrite,   CommandKind::Setup,
    CommandKind::Identify, CommandKind::RegisterWrite,   CommandKind::Setup};

TEST(CommandParser, BackToBackCommandsAreEachRecognised) {
  const auto commands = ParseAll(kSession);
  EXPECT_EQ(Kinds(commands), kSessionKinds);
  EXPECT_EQ(commands[5].setup.chestMask, 0x1F);
  EXPECT_EQ(commands[7].value, 'S');
}

TEST(CommandParser, SplitAtAnyTwoPositionsGivesTheSameCommands) {
  const auto whole = ParseAll(kSession);
  for (std::size_t i = 0; i <= kSession.size(); ++i) {
    for (std::size_t j = i; j <= kSession.size(); ++j) {
      CommandParser parser;
      std::vector<ModuleCommand> out;
      parser.Feed(kSession.substr(0, i), out);
      parser.Feed(kSession.substr(i, j - i), out);
      parser.Feed(kSession.substr(j), out);
      ASSERT_EQ(Kinds(out), Kinds(whole)) << "split at " << i << " and " << j;
      for (std::size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k].bytes, whole[k].bytes);
    }
  }
}

TEST(CommandParser, ByteByByteGivesTheSameCommands) {
  CommandParser parser;
  std::vector<ModuleCommand> out;
  for (char byte : kSession) parser.Feed(std::string(1, byte), out);
  EXPECT_EQ(Kinds(out), kSessionKinds);
  EXPECT_FALSE(parser.Pending());
}

TEST(CommandParser, CommandIsDeliveredOnlyOnceComplete) {
  CommandParser parser;
  EXPECT_TRUE(parser.Feed(kDefaultSetup.substr(0, 17)).empty());
  EXPECT_TRUE(parser.Pending());
  const auto last = parser.Feed(kDefaultSetup.substr(17));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].kind, CommandKind::Setup);
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  std::vector<CommandKind> kinds;  // after Flush
};

class MalformedInput : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedInput, IsRejectedAndTheNextCommandStillRecognised) {
  const auto commands = ParseAll(GetParam().bytes);
  EXPECT_EQ(Kinds(commands), GetParam().kinds);
  for (const ModuleCommand& command : commands) {
    if (command.kind == CommandKind::Rejected) {
      EXPECT_FALSE(command.reason.empty());
    }
    if (command.kind == CommandKind::Setup) {
      EXPECT_EQ(command.bytes.size(), 18u);
    }
  }
}

constexpr auto R = CommandKind::Rejected;
INSTANTIATE_TEST_SUITE_P(
    Resynchronisation, MalformedInput,
    testing::Values(
        // Broken off after ten bytes by the start of a complete set-up.
        MalformedCase{"TruncatedSetup", kDefaultSetup.substr(0, 10) + kTwelveSetup, {R, CommandKind::Setup}},
        // A wrong letter: the rest of the broken command is strays.
        MalformedCase{"WrongLetter",
                      kDefaultSetup.substr(0, 4) + "X" + kDefaultSetup.substr(5) + "K",
                      {R, R, CommandKind::Calibrate}},
        MalformedCase{
            "RateCodeThree", Bytes("53 33") + kDefaultSetup.substr(2) + kDefaultSetup, {R, R, CommandKind::Setup}},
        MalformedCase{"AmplificationFour",
                      kDefaultSetup.substr(0, 3) + "4" + kDefaultSetup.substr(4) + "I",
                      {R, R, CommandKind::Identify}},
        MalformedCase{"ChestMaskNotTwelveChannel",
                      kDefaultSetup.substr(0, 15) + Bytes("05") + kDefaultSetup.substr(16) + kDefaultSetup,
                      {R, R, CommandKind::Setup}},
        // The offending byte itself starts the next command.
        MalformedCase{"SetupStartInsideASetup", "S" + kDefaultSetup, {R, CommandKind::Setup}},
        MalformedCase{"CalibrateInsideASetup", kDefaultSetup.substr(0, 6) + "K", {R, CommandKind::Calibrate}},
        MalformedCase{"SearchWithoutZero", "q1I", {R, R, CommandKind::Identify}},
        MalformedCase{"RegisterAddressTooHigh", Bytes("72 4A 00") + "I", {R, R, CommandKind::Identify}},
        MalformedCase{"RegisterAddressBelowDigits", Bytes("72 2F") + "K", {R, R, CommandKind::Calibrate}},
        MalformedCase{"StraysBeforeACommand", "xyz" + Bytes("F8 00") + "K", {R, CommandKind::Calibrate}},
        MalformedCase{"IncompleteAtTheEnd", "K" + kDefaultSetup.substr(0, 9), {CommandKind::Calibrate, R}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(CommandParser, BrokenSetupNeverYieldsASetup) {
  // Every truncation of a set-up followed by garbage stays rejected.
  for (std::size_t cut = 1; cut < kDefaultSetup.size(); ++cut) {
    const auto commands = ParseAll(kDefaultSetup.substr(0, cut) + "\x01\x02");
    for (const ModuleCommand& command : commands) {
      EXPECT_NE(command.kind, CommandKind::Setup) << "cut after " << cut;
    }
  }
}

TEST(CommandParser, StraysAreReportedAsOneRejection) {
  const auto commands = ParseAll("hello" + std::string("K"));
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].kind, CommandKind::Rejected);
  EXPECT_EQ(commands[0].bytes, "hello");
}

TEST(CommandParser, LongStrayRunsAreReportedInPieces) {
  const auto commands = ParseAll(std::string(200, 'x'));
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].bytes.size(), CommandParser::kMaxStrayRun);
  EXPECT_EQ(commands[3].bytes.size(), 200 - 3 * CommandParser::kMaxStrayRun);
}

TEST(CommandParser, FlushGivesUpAnIncompleteCommand) {
  CommandParser parser;
  EXPECT_TRUE(parser.Feed("S1A1").empty());
  const auto flushed = parser.Flush();
  ASSERT_EQ(flushed.size(), 1u);
  EXPECT_EQ(flushed[0].kind, CommandKind::Rejected);
  EXPECT_EQ(flushed[0].bytes, "S1A1");
  EXPECT_FALSE(parser.Pending());
  // The rest of the set-up, arriving late, is not taken for a set-up.
  const auto late = parser.Feed(kDefaultSetup.substr(4));
  for (const ModuleCommand& command : late) EXPECT_NE(command.kind, CommandKind::Setup);
  const auto next = parser.Feed(kDefaultSetup);
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next.back().kind, CommandKind::Setup);
}

TEST(CommandParser, DescriptionsNameTheCommand) {
  const auto commands = ParseAll(kDefaultSetup + Bytes("72 49 81") + "zz");
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].Describe(), "set-up 100/s, stage 2, 50 Hz, monitoring, channels I II III");
  EXPECT_EQ(commands[1].Describe(), "register 25 := 0x81");
  EXPECT_EQ(commands[2].Describe(), "rejected [7A 7A]: bytes that start no command");
}
}  // namespace
