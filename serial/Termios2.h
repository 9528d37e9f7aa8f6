#pragma once
// Hands TTermiosSettings to the kernel and back (TCSETS2 / TCGETS2), so that
// any line rate can be set. Kept apart because the kernel's termios2 header
// cannot be included together with <termios.h>.
#include "serial/DeviceControlBlock.h"

// Both return 0 or an errno value.
int ApplyTermios2(int fd, const TTermiosSettings& settings);
int ReadTermios2(int fd, TTermiosSettings& settings);
