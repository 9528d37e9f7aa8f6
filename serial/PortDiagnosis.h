#pragma once
// Why a port could not be opened, in words a user can act on: the device is
// gone, the user lacks the permission (and which group grants it), or
// another program holds it (and which, when /proc tells). The port library's
// error says what failed; this says what to do about it.
#include <optional>
#include <string>

struct TPortHolder {
  int pid = 0;
  std::string command;  // the program's name as /proc gives it, may be empty
};

// The first other process with `device` open, from /proc/<pid>/fd; nothing
// when none is found or /proc cannot be read. `procRoot` is for tests.
std::optional<TPortHolder> FindPortHolder(const std::string& device, const std::string& procRoot = "/proc");

// One or two sentences; empty when nothing more than the library's error is
// known.
std::string PortOpenFailureReason(const std::string& device, const std::string& procRoot = "/proc");
