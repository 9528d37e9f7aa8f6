#pragma once
#include <stdexcept>
#include <string>

// Raised when the simulator cannot set up its port: no pseudo-terminal, the
// virtual-port directory not writable, or the port name taken by another
// running simulator; or cannot read the record it is to replay. The message
// names the path and the reason.
class ESimulator : public std::runtime_error {
 public:
  explicit ESimulator(const std::string& message) : std::runtime_error(message) {}
};
