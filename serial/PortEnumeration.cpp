#include "serial/PortEnumeration.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>

#include "serial/EComPort.h"
#include "serial/VirtualPortDirectory.h"

namespace {
struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

// Reads every entry name but "." and ".."; returns 0 or an errno value.
int ReadNames(const std::string& path, std::vector<std::string>& names) {
  Directory dir(opendir(path.c_str()));
  if (!dir) return errno;
  for (;;) {
    errno = 0;
    dirent* entry = readdir(dir.get());
    if (!entry) return errno;
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
}

std::string Entry(const std::string& directory, const std::string& name) { return directory + '/' + name; }

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Serial-core ports without a UART behind them report type 0 (unknown).
bool ReportsNoUart(const std::string& ttyDirectory) {
  std::ifstream type(ttyDirectory + "/type");
  int value = -1;
  return type >> value && value == 0;
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 0x20 : c; };
    return fold(static_cast<unsigned char>(x)) < fold(static_cast<unsigned char>(y));
  });
}
}  // namespace

void ListSerialPorts(std::vector<std::string>& target) {
  ListSerialPorts(target, "/sys/class/tty", VirtualPortDirectory());
}

void ListSerialPorts(std::vector<std::string>& target, const std::string& sysfsTtyRoot,
                     const std::string& virtualPortDirectory) {
  std::vector<std::string> ports;

  std::vector<std::string> ttys;
  if (int error = ReadNames(sysfsTtyRoot, ttys)) throw EComPort(ComError::RegistryError, error);
  for (const std::string& name : ttys) {
    const std::string dir = Entry(sysfsTtyRoot, name);
    // Virtual consoles, ptys and the like have no driver behind `device`.
    if (!Exists(dir + "/device/driver")) continue;
    if (ReportsNoUart(dir)) continue;
    ports.push_back("/dev/" + name);
  }

  std::vector<std::string> links;
  if (int error = ReadNames(virtualPortDirectory, links)) {
    // No virtual port has registered yet: nothing to add.
    if (error != ENOENT && error != ENOTDIR) throw EComPort(ComError::RegistryError, error);
  }
  for (const std::string& name : links) {
    const std::string path = Entry(virtualPortDirectory, name);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
    if (!Exists(path)) continue;  // a port whose owner went away
    ports.push_back(path);
  }

  std::sort(ports.begin(), ports.end(), LessIgnoringCase);
  target.swap(ports);
}
