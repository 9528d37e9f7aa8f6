#include "serial/EventSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

int MakeEventSignal() {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  return fd;
}

void RaiseEventSignal(int fd) {
  const std::uint64_t one = 1;
  // Fails only when the counter would overflow, which cannot matter.
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void DrainEventSignal(int fd) {
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
}
