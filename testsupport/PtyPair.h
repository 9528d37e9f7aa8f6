#pragma once
// A pseudo-terminal pair standing in for a serial cable in tests: the tool
// opens `SlavePath()` as its port, the test plays the module on the master.
#include <chrono>
#include <string>
#include <vector>

class PtyPair {
 public:
  PtyPair();  // raw master, slave left for the code under test to open
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // Writes every byte to the master side (blocks until accepted).
  void Write(const std::vector<unsigned char>& bytes);
  void Write(const std::string& bytes);
  // Reads from the master until `count` bytes arrived or the timeout ran out.
  std::vector<unsigned char> Read(std::size_t count, std::chrono::milliseconds timeout);
  // Closes the master side: the slave sees a hang-up.
  void HangUp();

 private:
  int master_ = -1;
  int slaveKeepAlive_ = -1;  // keeps the pty alive until the code under test opens it
  std::string slavePath_;
};

// Registers a symbolic link to a pty in a virtual-port directory for the life
// of the object (the way the module simulator registers its port).
class ScopedVirtualPort {
 public:
  ScopedVirtualPort(const std::string& directory, const std::string& name, const std::string& target);
  ~ScopedVirtualPort();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
