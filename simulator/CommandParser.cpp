#include "simulator/CommandParser.h"

#include <cstdio>
#include <utility>

namespace {
constexpr std::size_t kSetupLength = 18;
constexpr char kSetupLetters[] = {'S', 'A', '5', 'F', 'P', 'E', 'C', 'D', 'M'};
constexpr std::uint8_t kFirstRegister = 0x30;
constexpr std::uint8_t kLastRegister = 0x30 + 25;

// Whether `parameter` is one the module accepts after `letter`.
bool ValidParameter(char letter, std::uint8_t parameter) {
  switch (letter) {
    case 'S': return parameter == '0' || parameter == '1' || parameter == '2' || parameter == '7';
    case 'A': return parameter >= '0' && parameter <= '3';
    case '5': return parameter >= '0' && parameter <= '2';
    case 'F':
    case 'P':
    case 'E':
    case 'M': return parameter == '0' || parameter == '1';
    case 'C': return true;  // a bit mask: every byte is a selection
    case 'D': return parameter == 0x00 || parameter == 0x1F;
  }
  return false;
}

ModuleConfig DecodeSetup(const std::string& bytes) {
  auto parameter = [&bytes](std::size_t pair) { return static_cast<std::uint8_t>(bytes[pair * 2 + 1]); };
  ModuleConfig config;
  std::uint8_t rate = parameter(0);
  config.transmission = rate == '7' ? 3 : rate - '0';
  config.amplification = parameter(1) - '0';
  config.filter = parameter(2) - '0';
  config.mode = parameter(3) - '0';
  config.pacer = parameter(4) == '1';
  config.emg = parameter(5) == '1';
  config.channelMask = parameter(6);
  config.chestMask = parameter(7);
  config.simulation = parameter(8) == '1';
  return config;
}

std::string ByteText(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}
}  // namespace

std::vector<ModuleCommand> CommandParser::Feed(std::string_view bytes) {
  std::vector<ModuleCommand> out;
  Feed(bytes, out);
  return out;
}

void CommandParser::Feed(std::string_view bytes, std::vector<ModuleCommand>& out) {
  for (char byte : bytes) Take(static_cast<std::uint8_t>(byte), out);
}

std::vector<ModuleCommand> CommandParser::Flush() {
  std::vector<ModuleCommand> out;
  Flush(out);
  return out;
}

void CommandParser::Flush(std::vector<ModuleCommand>& out) {
  if (!partial_.empty()) Reject("incomplete command, no more bytes came", out);
  ReportStrays(out);
}

void CommandParser::Take(std::uint8_t byte, std::vector<ModuleCommand>& out) {
  if (partial_.empty()) {
    StartOrStray(byte, out);
    return;
  }
  const char letter = partial_[0];
  const std::size_t position = partial_.size();  // index `byte` would take
  if (letter == 'S') {
    const char expected = kSetupLetters[position / 2];
    if (position % 2 == 0 && byte != static_cast<std::uint8_t>(expected)) {
      Reject(std::string("set-up broken off: expected '") + expected + "', got " + ByteText(byte), out);
      StartOrStray(byte, out);
      return;
    }
    if (position % 2 == 1 && !ValidParameter(expected, byte)) {
      Reject(std::string("set-up: invalid parameter ") + ByteText(byte) + " for '" + expected + "'", out);
      StartOrStray(byte, out);
      return;
    }
    partial_.push_back(static_cast<char>(byte));
    if (partial_.size() == kSetupLength) {
      ModuleCommand command;
      command.kind = CommandKind::Setup;
      command.setup = DecodeSetup(partial_);
      Emit(std::move(command), out);
    }
    return;
  }
  if (letter == 'q') {
    if (byte != '0') {
      Reject("'q' not followed by '0'", out);
      StartOrStray(byte, out);
      return;
    }
    partial_.push_back(static_cast<char>(byte));
    ModuleCommand command;
    command.kind = CommandKind::ElectrodeSearch;
    Emit(std::move(command), out);
    return;
  }
  // 'r': address byte, then value byte.
  if (position == 1) {
    if (byte < kFirstRegister || byte > kLastRegister) {
      Reject("register address " + ByteText(byte) + " outside 0x30..0x49", out);
      StartOrStray(byte, out);
      return;
    }
    partial_.push_back(static_cast<char>(byte));
    return;
  }
  partial_.push_back(static_cast<char>(byte));
  ModuleCommand command;
  command.kind = CommandKind::RegisterWrite;
  command.address = static_cast<std::uint8_t>(partial_[1]) - kFirstRegister;
  command.value = byte;
  Emit(std::move(command), out);
}

void CommandParser::StartOrStray(std::uint8_t byte, std::vector<ModuleCommand>& out) {
  switch (byte) {
    case 'S':
    case 'q':
    case 'r':
      ReportStrays(out);
      partial_.assign(1, static_cast<char>(byte));
      return;
    case 'K':
    case 'I': {
      ReportStrays(out);
      partial_.assign(1, static_cast<char>(byte));
      ModuleCommand command;
      command.kind = byte == 'K' ? CommandKind::Calibrate : CommandKind::Identify;
      Emit(std::move(command), out);
      return;
    }
    default:
      strays_.push_back(static_cast<char>(byte));
      if (strays_.size() >= kMaxStrayRun) ReportStrays(out);
  }
}

void CommandParser::Emit(ModuleCommand command, std::vector<ModuleCommand>& out) {
  command.bytes = std::move(partial_);
  partial_.clear();
  out.push_back(std::move(command));
}

void CommandParser::Reject(std::string reason, std::vector<ModuleCommand>& out) {
  ModuleCommand command;
  command.kind = CommandKind::Rejected;
  command.reason = std::move(reason);
  Emit(std::move(command), out);
}

void CommandParser::ReportStrays(std::vector<ModuleCommand>& out) {
  if (strays_.empty()) return;
  ModuleCommand command;
  command.kind = CommandKind::Rejected;
  command.reason = "bytes that start no command";
  command.bytes = std::move(strays_);
  strays_.clear();
  out.push_back(std::move(command));
}
