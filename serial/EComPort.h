#pragma once
// The serial link's error: a numbered message from a fixed table and, where
// the operating system gave one, its error code (errno on Linux). what() is
// the full message, e.g. "Unable to open com port (win error code: 2)"; the
// suffix keeps its historical wording although the code is an errno value.
#include <stdexcept>
#include <string>

// Row numbers of the message table. Rows marked "not raised" belong to the
// vocabulary only: nothing in this tool raises them.
namespace ComError {
inline constexpr int OpenFailed = 1;
inline constexpr int WriteFailed = 2;
inline constexpr int ReadFailed = 3;
inline constexpr int InvalidAsync = 4;  // not raised
inline constexpr int PurgeFailed = 5;
inline constexpr int AsyncCheck = 6;  // not raised
inline constexpr int SetStateFailed = 7;
inline constexpr int TimeoutsFailed = 8;
inline constexpr int SetupComFailed = 9;
inline constexpr int ClearComFailed = 10;
inline constexpr int ModemStatFailed = 11;
inline constexpr int EscapeComFailed = 12;
inline constexpr int TransmitFailed = 13;  // not raised
inline constexpr int ConnChangeProp = 14;
inline constexpr int EnumPortsFailed = 15;  // not raised
inline constexpr int StoreFailed = 16;      // not raised
inline constexpr int LoadFailed = 17;       // not raised
inline constexpr int RegFailed = 18;
inline constexpr int LedStateFailed = 19;  // not raised
inline constexpr int ThreadCreated = 20;   // not raised
inline constexpr int WaitFailed = 21;      // not raised
inline constexpr int HasLink = 22;         // not raised
inline constexpr int RegistryError = 23;
inline constexpr int Count = 23;
}  // namespace ComError

// The table text of row `number` (1..23); an empty text for other numbers.
const char* ComErrorText(int number);

class EComPort : public std::runtime_error {
 public:
  // Without a system code: the message is the table text, SystemCode() is -1.
  explicit EComPort(int errorNumber);
  // With one: the table text followed by " (win error code: <code>)".
  EComPort(int errorNumber, int systemCode);

  int ErrorNumber() const { return errorNumber_; }
  int SystemCode() const { return systemCode_; }

 private:
  int errorNumber_;
  int systemCode_;
};

// Raises EComPort `errorNumber` with `systemCode` when the latter is not 0.
// This is the one place where an errno reported by the device layer becomes
// the serial error.
void RaiseOnFailure(int systemCode, int errorNumber);
