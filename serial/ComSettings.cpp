#include "serial/ComSettings.h"

namespace {
// Stores `value` and reports whether it differed.
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}
}  // namespace

// ---- TComParity (line settings) ----

// Assigned to itself (port.SetParity(port.Parity())) there is nothing to
// copy, but the port re-applies all the same, as for any assignment.
TComParity& TComParity::operator=(const TComParity& other) {
  if (this != &other) CopyFields(other);
  Changed();
  return *this;
}

void TComParity::CopyFields(const TComParity& other) {
  bits_ = other.bits_;
  check_ = other.check_;
  replace_ = other.replace_;
  replaceChar_ = other.replaceChar_;
}

bool TComParity::operator==(const TComParity& other) const {
  return bits_ == other.bits_ && check_ == other.check_ && replace_ == other.replace_ &&
         replaceChar_ == other.replaceChar_;
}

void TComParity::Changed() {
  if (owner_) owner_->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  if (Store(bits_, value)) Changed();
}
void TComParity::SetCheck(bool value) {
  if (Store(check_, value)) Changed();
}
void TComParity::SetReplace(bool value) {
  if (Store(replace_, value)) Changed();
}
void TComParity::SetReplaceChar(std::uint8_t value) {
  if (Store(replaceChar_, value)) Changed();
}

// ---- TComFlowControl (line settings) ----

TComFlowControl& TComFlowControl::operator=(const TComFlowControl& other) {
  if (this != &other) CopyFields(other);
  Changed();
  return *this;
}

void TComFlowControl::CopyFields(const TComFlowControl& other) {
  outCTSFlow_ = other.outCTSFlow_;
  outDSRFlow_ = other.outDSRFlow_;
  controlDTR_ = other.controlDTR_;
  controlRTS_ = other.controlRTS_;
  xonXoffOut_ = other.xonXoffOut_;
  xonXoffIn_ = other.xonXoffIn_;
  dsrSensitivity_ = other.dsrSensitivity_;
  txContinueOnXoff_ = other.txContinueOnXoff_;
  xonChar_ = other.xonChar_;
  xoffChar_ = other.xoffChar_;
}

bool TComFlowControl::operator==(const TComFlowControl& other) const {
  return outCTSFlow_ == other.outCTSFlow_ && outDSRFlow_ == other.outDSRFlow_ && controlDTR_ == other.controlDTR_ &&
         controlRTS_ == other.controlRTS_ && xonXoffOut_ == other.xonXoffOut_ && xonXoffIn_ == other.xonXoffIn_ &&
         dsrSensitivity_ == other.dsrSensitivity_ && txContinueOnXoff_ == other.txContinueOnXoff_ &&
         xonChar_ == other.xonChar_ && xoffChar_ == other.xoffChar_;
}

void TComFlowControl::Changed() {
  if (owner_) owner_->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  if (Store(outCTSFlow_, value)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  if (Store(outDSRFlow_, value)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (Store(controlDTR_, value)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (Store(controlRTS_, value)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool value) {
  if (Store(xonXoffOut_, value)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool value) {
  if (Store(xonXoffIn_, value)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  if (Store(dsrSensitivity_, value)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (Store(txContinueOnXoff_, value)) Changed();
}
void TComFlowControl::SetXonChar(std::uint8_t value) {
  if (Store(xonChar_, value)) Changed();
}
void TComFlowControl::SetXoffChar(std::uint8_t value) {
  if (Store(xoffChar_, value)) Changed();
}

TFlowControl TComFlowControl::FlowControl() const {
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  switch (value) {
    case fcHardware:
      controlRTS_ = rtsHandshake;
      outCTSFlow_ = true;
      xonXoffIn_ = xonXoffOut_ = false;
      break;
    case fcSoftware:
      controlRTS_ = rtsDisable;
      outCTSFlow_ = false;
      xonXoffIn_ = xonXoffOut_ = true;
      break;
    case fcNone:
      controlRTS_ = rtsDisable;
      outCTSFlow_ = false;
      xonXoffIn_ = xonXoffOut_ = false;
      break;
    case fcCustom: break;
  }
  Changed();
}

// ---- TComTimeouts ----

TComTimeouts& TComTimeouts::operator=(const TComTimeouts& other) {
  if (this != &other) CopyFields(other);
  Changed();
  return *this;
}

void TComTimeouts::CopyFields(const TComTimeouts& other) {
  readInterval_ = other.readInterval_;
  readTotalMultiplier_ = other.readTotalMultiplier_;
  readTotalConstant_ = other.readTotalConstant_;
  writeTotalMultiplier_ = other.writeTotalMultiplier_;
  writeTotalConstant_ = other.writeTotalConstant_;
}

bool TComTimeouts::operator==(const TComTimeouts& other) const {
  return readInterval_ == other.readInterval_ && readTotalMultiplier_ == other.readTotalMultiplier_ &&
         readTotalConstant_ == other.readTotalConstant_ && writeTotalMultiplier_ == other.writeTotalMultiplier_ &&
         writeTotalConstant_ == other.writeTotalConstant_;
}

void TComTimeouts::Changed() {
  if (owner_) owner_->ApplyTimeouts();
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
  if (Store(readInterval_, value)) Changed();
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
  if (Store(readTotalMultiplier_, value)) Changed();
}
void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
  if (Store(readTotalConstant_, value)) Changed();
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
  if (Store(writeTotalMultiplier_, value)) Changed();
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
  if (Store(writeTotalConstant_, value)) Changed();
}

// ---- TComBuffer (queue sizes) ----

namespace {
std::int32_t EvenSize(std::int32_t value) { return (value > 0 && value % 2 == 1) ? value - 1 : value; }
}  // namespace

TComBuffer& TComBuffer::operator=(const TComBuffer& other) {
  if (this != &other) CopyFields(other);
  Changed();
  return *this;
}

void TComBuffer::CopyFields(const TComBuffer& other) {
  inputSize_ = other.inputSize_;
  outputSize_ = other.outputSize_;
}

bool TComBuffer::operator==(const TComBuffer& other) const {
  return inputSize_ == other.inputSize_ && outputSize_ == other.outputSize_;
}

void TComBuffer::Changed() {
  if (owner_) owner_->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(std::int32_t value) {
  if (value == inputSize_) return;
  inputSize_ = EvenSize(value);
  Changed();
}

void TComBuffer::SetOutputSize(std::int32_t value) {
  if (value == outputSize_) return;
  outputSize_ = EvenSize(value);
  Changed();
}
