// Every command opens the port afresh, so this runs once per command and
// costs about one system call per descriptor on the machine: it walks /proc
// with getdents64 and *at() calls relative to open directories (no path
// lookups from the root), reads each descriptor's link text, and stats only
// those that end in the device's own name.
#include "port_users.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Unix98 pty slaves: majors 136 to 143, index = (major - 136) * 256 + minor.
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;

struct Device {
  dev_t rdev;
  dev_t fs;   // the devpts instance of a pty slave (each has its own numbering)
  bool pty;
  int index;         // the pty's number
  char name[64];     // "/ttyUSB0": the last part of its path, slash included
  size_t nameLength;
};

// Calls `visit(name)` for each entry of the open directory `dir` but . and
// ..; stops early, returning true, once `visit` returns true.
template <class Visit>
bool AnyEntry(int dir, Visit&& visit) {
  alignas(dirent64) char buf[16384];
  for (;;) {
    const ssize_t n = getdents64(dir, buf, sizeof buf);
    if (n <= 0) return false;
    for (ssize_t at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
      at += entry->d_reclen;
      if (entry->d_name[0] != '.' && visit(entry->d_name)) return true;
    }
  }
}

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

// The link text of descriptor `name` in the fd folder `fds`.
bool LinkText(int fds, const char* name, char* out, size_t size) {
  const ssize_t n = readlinkat(fds, name, out, size - 1);
  if (n < 0) return false;
  out[n] = '\0';
  return true;
}

bool EndsWith(const char* text, size_t length, const char* tail, size_t tailLength) {
  return length >= tailLength && std::memcmp(text + length - tailLength, tail, tailLength) == 0;
}

bool IsDevice(int fds, const char* name, const Device& device) {
  char link[256];
  const ssize_t n = readlinkat(fds, name, link, sizeof link);
  // Sockets, pipes, other devices and files are passed over on their link
  // text alone: no stat, which on a file of a dead network mount could hang.
  // The same device opened through a node of another name (none that udev
  // makes) would be missed; one in a container's own /dev is not.
  if (n <= 0 || link[0] != '/' ||
      !EndsWith(link, static_cast<size_t>(n), device.name, device.nameLength))
    return false;
  struct stat st {};
  if (fstatat(fds, name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) return false;
  return st.st_rdev == device.rdev && (!device.pty || st.st_dev == device.fs);
}

// Whether descriptor `name` of process `pid` is a pty master with this index
// (/proc/<pid>/fdinfo of a ptmx descriptor tells its "tty-index").
bool IsMasterOf(int proc, const char* pid, int fds, const char* name, int index) {
  char link[96];
  if (!LinkText(fds, name, link, sizeof link)) return false;
  const size_t len = std::strlen(link);
  if (len < 5 || std::strcmp(link + len - 5, "/ptmx") != 0) return false;
  char path[600];
  std::snprintf(path, sizeof path, "%s/fdinfo/%s", pid, name);
  const int info = openat(proc, path, O_RDONLY | O_CLOEXEC);
  if (info < 0) return false;
  char text[512];
  const ssize_t n = read(info, text, sizeof text - 1);
  close(info);
  if (n <= 0) return false;
  text[n] = '\0';
  const char* field = std::strstr(text, "tty-index:");
  return field != nullptr && std::atoi(field + 10) == index;
}

bool HoldsMaster(int proc, const char* pid, int index) {
  char path[300];
  std::snprintf(path, sizeof path, "%s/fd", pid);
  const int fds = openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fds < 0) return false;
  const bool holds =
      AnyEntry(fds, [&](const char* name) { return IsMasterOf(proc, pid, fds, name, index); });
  close(fds);
  return holds;
}

bool HoldsDevice(int proc, const char* pid, const Device& device) {
  char path[300];
  std::snprintf(path, sizeof path, "%s/fd", pid);
  const int fds = openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fds < 0) return false;  // gone meanwhile, or not ours to see
  const bool holds = AnyEntry(fds, [&](const char* name) { return IsDevice(fds, name, device); });
  close(fds);
  return holds;
}

}  // namespace

pid_t OtherProcessUsing(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  const unsigned major = ::major(st.st_rdev);
  Device device{st.st_rdev, st.st_dev, false, 0, {}, 0};
  if (major >= kPtySlaveMajor && major < kPtySlaveMajor + kPtySlaveMajors) {
    device.pty = true;
    device.index = static_cast<int>((major - kPtySlaveMajor) * 256 + ::minor(st.st_rdev));
  }
  // The name the kernel shows for our own descriptor is the device node's.
  char own[32], link[256];
  std::snprintf(own, sizeof own, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(own, link, sizeof link - 1);
  if (n <= 0) return 0;
  link[n] = '\0';
  const char* slash = std::strrchr(link, '/');
  if (slash == nullptr || std::strlen(slash) >= sizeof device.name) return 0;
  std::strcpy(device.name, slash);
  device.nameLength = std::strlen(slash);
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return 0;
  const pid_t self = getpid();
  pid_t other = 0;
  AnyEntry(proc, [&](const char* pid) {
    if (!IsNumber(pid) || std::atoi(pid) == self || !HoldsDevice(proc, pid, device)) return false;
    if (device.pty && HoldsMaster(proc, pid, device.index)) return false;  // the far end
    other = std::atoi(pid);
    return true;
  });
  close(proc);
  return other;
}
