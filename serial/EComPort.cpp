#include "serial/EComPort.h"

#include <array>

namespace {
constexpr std::array<const char*, ComError::Count> kMessages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
}  // namespace

const char* ComErrorText(int number) {
  if (number < 1 || number > ComError::Count) return "";
  return kMessages[static_cast<std::size_t>(number - 1)];
}

EComPort::EComPort(int errorNumber)
    : std::runtime_error(ComErrorText(errorNumber)), errorNumber_(errorNumber), systemCode_(-1) {}

EComPort::EComPort(int errorNumber, int systemCode)
    : std::runtime_error(std::string(ComErrorText(errorNumber)) + " (win error code: " + std::to_string(systemCode) +
                         ")"),
      errorNumber_(errorNumber),
      systemCode_(systemCode) {}

void RaiseOnFailure(int systemCode, int errorNumber) {
  if (systemCode != 0) throw EComPort(errorNumber, systemCode);
}
