#include "serial/Termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstring>

// <sys/ioctl.h> would drag in the C library's termios definitions, which
// clash with the kernel's; the prototype is all that is needed.
extern "C" int ioctl(int fd, unsigned long request, ...);

static_assert(sizeof(termios2::c_cc) == sizeof(TTermiosSettings::c_cc));

int ApplyTermios2(int fd, const TTermiosSettings& s) {
  termios2 t{};
  t.c_iflag = s.c_iflag;
  t.c_oflag = s.c_oflag;
  t.c_cflag = s.c_cflag;
  t.c_lflag = s.c_lflag;
  t.c_line = s.c_line;
  std::memcpy(t.c_cc, s.c_cc, sizeof t.c_cc);
  t.c_ispeed = s.c_ispeed;
  t.c_ospeed = s.c_ospeed;
  int r;
  do {
    r = ioctl(fd, TCSETS2, &t);
  } while (r != 0 && errno == EINTR);
  return r == 0 ? 0 : errno;
}

int ReadTermios2(int fd, TTermiosSettings& s) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  s.c_iflag = t.c_iflag;
  s.c_oflag = t.c_oflag;
  s.c_cflag = t.c_cflag;
  s.c_lflag = t.c_lflag;
  s.c_line = t.c_line;
  std::memcpy(s.c_cc, t.c_cc, sizeof t.c_cc);
  s.c_ispeed = t.c_ispeed;
  s.c_ospeed = t.c_ospeed;
  return 0;
}
