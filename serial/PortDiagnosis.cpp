#include "serial/PortDiagnosis.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

// The canonical name, so a symbolic link (a virtual port) and its target
// compare equal; the name itself when it cannot be resolved.
std::string Canonical(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

std::string ReadLink(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

struct CloseDir {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, CloseDir>;

bool IsNumber(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? std::string(entry->gr_name) : std::to_string(gid);
}

}  // namespace

std::optional<TPortHolder> FindPortHolder(const std::string& device, const std::string& procRoot) {
  const std::string wanted = Canonical(device);
  Dir proc(opendir(procRoot.c_str()));
  if (!proc) return std::nullopt;
  const std::string self = std::to_string(getpid());
  while (const dirent* entry = readdir(proc.get())) {
    if (!IsNumber(entry->d_name) || entry->d_name == self) continue;
    const std::string fdFolder = procRoot + "/" + entry->d_name + "/fd";
    Dir fds(opendir(fdFolder.c_str()));
    if (!fds) continue;  // another user's process: not ours to look into
    while (const dirent* fd = readdir(fds.get())) {
      if (!IsNumber(fd->d_name) || ReadLink(fdFolder + "/" + fd->d_name) != wanted) continue;
      TPortHolder holder;
      holder.pid = std::atoi(entry->d_name);
      std::ifstream comm(procRoot + "/" + entry->d_name + "/comm");
      std::getline(comm, holder.command);
      return holder;
    }
  }
  return std::nullopt;
}

std::string PortOpenFailureReason(const std::string& device, const std::string& procRoot) {
  struct stat info {};
  if (stat(device.c_str(), &info) != 0) {
    if (errno == ENOENT) return "The port does not exist (any more): check the name, or plug the adapter in again.";
    return {};
  }
  if (access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
    const std::string group = GroupName(info.st_gid);
    return "Permission denied: your user may not use this port. Add it to the group '" + group +
           "' (sudo adduser $USER " + group + "), then log out and in again.";
  }
  if (const std::optional<TPortHolder> holder = FindPortHolder(device, procRoot)) {
    const std::string who = holder->command.empty() ? "another program" : "'" + holder->command + "'";
    return "The port is in use by " + who + " (process " + std::to_string(holder->pid) + "): close it there first.";
  }
  return {};
}
