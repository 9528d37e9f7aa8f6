#pragma once
// Cuts the module's commands out of the bytes the tool writes. Pure: bytes
// in, commands out, no clock and no I/O, so it can be fed by a fuzzer.
//
// The result does not depend on how the bytes are split over Feed calls.
// Bytes that cannot belong to a command are reported as one Rejected command
// per run of strays (at most kMaxStrayRun bytes each), emitted when the next
// command starts or on Flush. A command broken off by an unexpected byte is
// reported as Rejected and that byte is then looked at afresh as the start of
// the next command, so a complete command right after a broken one is never
// lost.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/ModuleCommand.h"

class CommandParser {
 public:
  static constexpr std::size_t kMaxStrayRun = 64;

  // Appends every command that `bytes` completes to `out`.
  void Feed(std::string_view bytes, std::vector<ModuleCommand>& out);
  std::vector<ModuleCommand> Feed(std::string_view bytes);

  // Gives up on a command still incomplete and reports pending strays (the
  // caller decides when the line has been quiet long enough).
  void Flush(std::vector<ModuleCommand>& out);
  std::vector<ModuleCommand> Flush();

  // Whether bytes are held back: an incomplete command or unreported strays.
  bool Pending() const { return !partial_.empty() || !strays_.empty(); }

 private:
  void Take(std::uint8_t byte, std::vector<ModuleCommand>& out);
  void StartOrStray(std::uint8_t byte, std::vector<ModuleCommand>& out);
  void Reject(std::string reason, std::vector<ModuleCommand>& out);
  void ReportStrays(std::vector<ModuleCommand>& out);
  void Emit(ModuleCommand command, std::vector<ModuleCommand>& out);

  std::string partial_;  // bytes of the command being received, its letter first
  std::string strays_;   // bytes that start no command, not yet reported
};
