#pragma once
// What the driver does to received bytes before they are queued and the
// Linux line discipline does not: replacing bytes with a parity or framing
// error by the error character (the kernel marks them when PARMRK is set:
// 0xFF 0x00 x; a break is 0xFF 0x00 0x00; a real 0xFF is doubled) and
// dropping 0x00 bytes when asked to. Marks split over two reads are joined.
#include <cstdint>
#include <string>

class ReceiveFilter {
 public:
  struct Settings {
    bool marked = false;  // PARMRK is on: decode the marks
    bool discardNull = false;
    std::uint8_t errorChar = 0;
    bool operator==(const Settings&) const = default;
  };

  // Changing the settings forgets a half-read mark.
  void Configure(const Settings& settings);
  // Appends the decoded bytes of `data` to `out`.
  void Process(const char* data, std::size_t count, std::string& out);

  // Counts since the last Take: bytes received with an error, breaks.
  unsigned TakeErrorBytes();
  unsigned TakeBreaks();

 private:
  void Emit(char byte, std::string& out) const;

  enum class State { Plain, SawFF, SawFF00 };
  Settings settings_;
  State state_ = State::Plain;
  unsigned errorBytes_ = 0;
  unsigned breaks_ = 0;
};
