#pragma once
// The command line of ecg-record: what to set the module up with, what to
// send, how long to record and where to save. Parsing is pure so that every
// refusal can be tested without a port.
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/AcquisitionSession.h"

// A command line that cannot be run; what() says which argument and why.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RegisterWriteOption {
  std::string address;         // as typed, checked by the editor's rules
  std::array<bool, 8> bits{};  // Bit7 .. Bit0
};

struct RecorderOptions {
  bool help = false;
  bool version = false;
  TSetupRequest setup;  // port, indices, EMG, mode and channels
  std::optional<double> seconds;
  std::optional<long long> records;
  bool stream = false;     // records go to the data file as they arrive
  bool reconnect = false;  // a lost port is tried again and the recording goes on
  std::string out;
  bool force = false;
  bool identify = false;
  bool calibrate = false;
  bool electrodes = false;
  std::vector<RegisterWriteOption> registerWrites;

  bool Records() const { return seconds || records; }
};

// Limits of a recording kept in the store, and of one streamed to its file.
inline constexpr double kMaxSeconds = 86400;
inline constexpr double kMaxStreamSeconds = 7 * 86400;
inline constexpr long long kMaxStreamRecords = 1'000'000'000;

// Throws EUsage. `args` excludes the program name.
RecorderOptions ParseRecorderOptions(const std::vector<std::string>& args);

std::string RecorderUsage();
