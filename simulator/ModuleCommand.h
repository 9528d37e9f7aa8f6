#pragma once
// What the tool tells the module, as the module understands it: the
// configuration a set-up command selects, and one decoded command.
#include <cstdint>
#include <string>

// The settings one 18-byte set-up command selects. Indices are those of the
// tool's set-up panel; the transmission index is 0..3 even though the wire
// code for "300 / sec" is "7".
struct ModuleConfig {
  int transmission = 1;   // 0..3: 50, 100, 150, 300 samples per second
  int amplification = 1;  // 0..3: stage 1..4
  int filter = 1;         // 0 off, 1 50 Hz, 2 60 Hz
  int mode = 1;           // 0 diagnostic, 1 monitoring
  bool pacer = false;
  bool emg = false;
  std::uint8_t channelMask = 0x07;  // bit 0 I .. bit 6 C1, bit 7 Resp
  std::uint8_t chestMask = 0x00;    // 0x1F selects twelve-channel operation
  bool simulation = false;

  bool TwelveChannel() const { return chestMask == 0x1F; }
  // Whether the respiration channel goes out (never in twelve-channel mode).
  bool RespirationTransmitted() const { return !TwelveChannel() && (channelMask & 0x80) != 0; }
  // Samples per second the set-up asks for: 50, 100, 150 or 300.
  int NominalRate() const;
  // Settings byte of the status frame: bits 0-1 transmission, 2-3
  // amplification, 4 EMG, 5-6 filter.
  std::uint8_t SettingsByte() const;
  // Bytes of the sample frame (F8): 2 + channels, or 9 in twelve-channel mode.
  int SampleFrameLength() const;
  // Bytes on the line per sample, the chest frame included.
  int BytesPerSample() const;

  bool operator==(const ModuleConfig&) const = default;
};

// The 18 bytes that select `config`, as the tool writes them.
std::string EncodeSetupCommand(const ModuleConfig& config);

enum class CommandKind {
  Setup,            // the 18-byte set-up command
  ElectrodeSearch,  // "q0"
  Calibrate,        // "K"
  Identify,         // "I"
  RegisterWrite,    // "r", 0x30 + address, value
  Rejected,         // bytes that form no command: a broken one or strays
};

struct ModuleCommand {
  CommandKind kind = CommandKind::Rejected;
  std::string bytes;       // exactly as received
  ModuleConfig setup;      // kind Setup
  int address = 0;         // kind RegisterWrite: 0..25
  std::uint8_t value = 0;  // kind RegisterWrite
  std::string reason;      // kind Rejected: why, for the log

  // One line for a log, e.g. "set-up 100/s, stage 2, 50 Hz, ...".
  std::string Describe() const;
};

// "53 31 41 ..." for logs and test messages.
std::string HexBytes(const std::string& bytes);
