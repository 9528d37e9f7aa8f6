#pragma once
// The platform side of the simulator: a pseudo-terminal pair and the virtual
// port link that names it. Only this file's .cpp touches pty, termios and
// the file system.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// A pseudo-terminal pair of which we keep the controller side. The terminal
// side is set raw and then closed again, so that the tool is its only user;
// the kernel keeps it usable while the controller side is open.
class PseudoTerminal {
 public:
  PseudoTerminal();  // raises ESimulator
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& DevicePath() const { return devicePath_; }
  int Fd() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Closes our side: whoever holds the terminal side sees a hang-up.
  void Close();

  // Whether someone holds the terminal side open.
  bool PeerConnected() const;
  // Throws away what was sent but not read before the terminal side was
  // closed, so that the next opener starts clean as on a real port (the
  // kernel keeps a pseudo-terminal's buffers while our side is open).
  void DiscardUnreadOutput();

  enum class Io { Done, WouldBlock, PeerGone };
  // Appends what is waiting to `out`.
  Io Read(std::string& out);
  // Writes what the terminal takes of `data`; `written` says how much.
  Io Write(const char* data, std::size_t size, std::size_t& written);

 private:
  int fd_ = -1;
  std::string devicePath_;
};

// <directory>/<name> -> target, for the life of the object. A lock file
// beside it (".<name>.lock", not a link, so no port list shows it) tells a
// second simulator that the name is taken; a link left behind by one that
// died is replaced.
class VirtualPortLink {
 public:
  VirtualPortLink(const std::string& directory, const std::string& name, const std::string& target);
  ~VirtualPortLink();  // removes the link if it still points to our target
  VirtualPortLink(const VirtualPortLink&) = delete;
  VirtualPortLink& operator=(const VirtualPortLink&) = delete;

  const std::string& Path() const { return path_; }
  // Removes the link (keeping the name reserved) or points it at a new target.
  void Remove();
  void Retarget(const std::string& target);

 private:
  std::string path_;
  std::string lockPath_;
  std::string target_;
  int lockFd_ = -1;
};

// Wakes the simulator's thread out of WaitForEvents from another thread.
class WakeSignal {
 public:
  WakeSignal();  // raises ESimulator
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;
  void Raise();
  void Clear();
  int Fd() const { return fd_; }

 private:
  int fd_;
};

struct WaitResult {
  bool readable = false;
  bool writable = false;
  bool hangUp = false;
  bool woken = false;
};

// Waits for input on `terminal` (or room for output when `wantWrite`), the
// wake signal, or `deadline`. Pass no terminal while nobody holds its other
// side: it would report the hang-up at once, again and again.
WaitResult WaitForEvents(const PseudoTerminal* terminal, bool wantWrite, const WakeSignal& wake,
                         std::chrono::steady_clock::time_point deadline);
