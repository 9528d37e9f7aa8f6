#pragma once
// The port's four settings objects. Each is a small value type; the instance
// a port owns is bound to it through TComSettingsOwner and asks it to
// re-apply its group (line settings, queue sizes or time-outs) when a setter
// changes a value. A free-standing copy is bound to nothing and only stores.
//
// Assigning into a port's own object (port.Parity() = p, or SetParity(p))
// copies every field and always re-applies; the port's apply step may raise
// EComPort, in which case the new values stay stored.
//
// Main thread only, like the port itself.
#include <cstdint>

#include "serial/ComTypes.h"

// What a settings object may ask of the port that owns it: to hand its
// group to the device again. Each call may raise EComPort.
class TComSettingsOwner {
 public:
  virtual void ApplyLineSettings() = 0;
  virtual void ApplyBufferSizes() = 0;
  virtual void ApplyTimeouts() = 0;

 protected:
  ~TComSettingsOwner() = default;
};

class TComParity {
 public:
  TComParity() = default;
  // Bound to `owner`, which re-applies at every change; copies are not bound.
  explicit TComParity(TComSettingsOwner& owner) : owner_(&owner) {}
  TComParity(const TComParity& other) { CopyFields(other); }
  TComParity& operator=(const TComParity& other);

  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits value);
  bool Check() const { return check_; }
  void SetCheck(bool value);
  bool Replace() const { return replace_; }
  void SetReplace(bool value);
  std::uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(std::uint8_t value);

  bool operator==(const TComParity& other) const;

 private:
  void CopyFields(const TComParity& other);
  void Changed();

  TComSettingsOwner* owner_ = nullptr;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  std::uint8_t replaceChar_ = 0;
};

class TComFlowControl {
 public:
  TComFlowControl() = default;
  // Bound to `owner`, which re-applies at every change; copies are not bound.
  explicit TComFlowControl(TComSettingsOwner& owner) : owner_(&owner) {}
  TComFlowControl(const TComFlowControl& other) { CopyFields(other); }
  TComFlowControl& operator=(const TComFlowControl& other);

  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value);
  std::uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(std::uint8_t value);
  std::uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(std::uint8_t value);

  // The preset the fields amount to (fcCustom when none matches). Setting a
  // preset always re-applies, even when it reads the same already.
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl value);

  bool operator==(const TComFlowControl& other) const;

 private:
  void CopyFields(const TComFlowControl& other);
  void Changed();

  TComSettingsOwner* owner_ = nullptr;
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  std::uint8_t xonChar_ = 0x11;
  std::uint8_t xoffChar_ = 0x13;
};

// Milliseconds, handed to the device layer unchanged; -1 reads as the
// largest unsigned value ("no limit" / "return at once" depending on field).
class TComTimeouts {
 public:
  TComTimeouts() = default;
  // Bound to `owner`, which re-applies at every change; copies are not bound.
  explicit TComTimeouts(TComSettingsOwner& owner) : owner_(&owner) {}
  TComTimeouts(const TComTimeouts& other) { CopyFields(other); }
  TComTimeouts& operator=(const TComTimeouts& other);

  std::int32_t ReadInterval() const { return readInterval_; }
  void SetReadInterval(std::int32_t value);
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(std::int32_t value);
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(std::int32_t value);
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(std::int32_t value);
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(std::int32_t value);

  bool operator==(const TComTimeouts& other) const;

 private:
  void CopyFields(const TComTimeouts& other);
  void Changed();

  TComSettingsOwner* owner_ = nullptr;
  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

// Queue sizes in bytes. A positive odd size is stored one lower; whether the
// value changed is decided before that adjustment.
class TComBuffer {
 public:
  TComBuffer() = default;
  // Bound to `owner`, which re-applies at every change; copies are not bound.
  explicit TComBuffer(TComSettingsOwner& owner) : owner_(&owner) {}
  TComBuffer(const TComBuffer& other) { CopyFields(other); }
  TComBuffer& operator=(const TComBuffer& other);

  std::int32_t InputSize() const { return inputSize_; }
  void SetInputSize(std::int32_t value);
  std::int32_t OutputSize() const { return outputSize_; }
  void SetOutputSize(std::int32_t value);

  bool operator==(const TComBuffer& other) const;

 private:
  void CopyFields(const TComBuffer& other);
  void Changed();

  TComSettingsOwner* owner_ = nullptr;
  std::int32_t inputSize_ = 1024;
  std::int32_t outputSize_ = 1024;
};
