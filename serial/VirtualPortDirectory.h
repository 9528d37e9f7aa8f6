#pragma once
// Where virtual ports (pseudo-terminals standing in for serial cables, such
// as the module simulator's) register themselves as symbolic links:
// $XDG_RUNTIME_DIR/virtual-serial, or /tmp/virtual-serial-<uid> when that
// variable is unset or empty.
#include <string>

std::string VirtualPortDirectory();
