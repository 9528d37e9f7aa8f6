#pragma once
// The serial ports present right now, as the set-up panel lists them:
//  - every tty under the sysfs class directory with a driver behind its
//    `device` link (USB adapters, on-board UARTs ...), except serial-core
//    ports that report no UART (`type` 0, as the 8250 driver leaves its
//    unused ports), listed as /dev/<name>;
//  - every symbolic link in the virtual-port directory whose target exists,
//    listed as the link's full path (that is how pseudo-terminals standing
//    in for a cable register themselves).
// Sorted ascending, letters compared without case, as text (ttyUSB10 before
// ttyUSB2). Main thread; synchronous and short.
//
// Raises EComPort 23 ("Registry error (win error code: <errno>)") when the
// sysfs directory cannot be read, or the virtual-port directory exists but
// cannot be read; `target` is changed only on success.
#include <string>
#include <vector>

void ListSerialPorts(std::vector<std::string>& target);
// The same over other roots (tests build fake trees).
void ListSerialPorts(std::vector<std::string>& target, const std::string& sysfsTtyRoot,
                     const std::string& virtualPortDirectory);
