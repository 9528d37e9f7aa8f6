#include "serial/ReceiveFilter.h"

void ReceiveFilter::Configure(const Settings& settings) {
  if (settings == settings_) return;
  settings_ = settings;
  state_ = State::Plain;
}

void ReceiveFilter::Emit(char byte, std::string& out) const {
  if (byte == 0 && settings_.discardNull) return;
  out.push_back(byte);
}

void ReceiveFilter::Process(const char* data, std::size_t count, std::string& out) {
  if (!settings_.marked) {
    if (!settings_.discardNull) {
      out.append(data, count);
      return;
    }
    for (std::size_t i = 0; i < count; ++i) Emit(data[i], out);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const char byte = data[i];
    switch (state_) {
      case State::Plain:
        if (static_cast<unsigned char>(byte) == 0xFF) state_ = State::SawFF;
        else Emit(byte, out);
        break;
      case State::SawFF:
        if (static_cast<unsigned char>(byte) == 0xFF) {
          Emit(byte, out);
          state_ = State::Plain;
        } else if (byte == 0) {
          state_ = State::SawFF00;
        } else {
          // Not a mark after all (cannot come from the kernel): keep both.
          Emit(static_cast<char>(0xFF), out);
          Emit(byte, out);
          state_ = State::Plain;
        }
        break;
      case State::SawFF00:
        if (byte == 0) {
          ++breaks_;
        } else {
          ++errorBytes_;
          Emit(static_cast<char>(settings_.errorChar), out);
        }
        state_ = State::Plain;
        break;
    }
  }
}

unsigned ReceiveFilter::TakeErrorBytes() {
  unsigned n = errorBytes_;
  errorBytes_ = 0;
  return n;
}

unsigned ReceiveFilter::TakeBreaks() {
  unsigned n = breaks_;
  breaks_ = 0;
  return n;
}
