#include "serial/VirtualPortDirectory.h"

#include <unistd.h>
#include <cstdlib>

std::string VirtualPortDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/virtual-serial";
  return "/tmp/virtual-serial-" + std::to_string(getuid());
}
