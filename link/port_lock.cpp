#include "port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <utility>

namespace {

const std::vector<std::string> kDefaultFolders = {"/run/lock", "/var/lock"};

// One mutex for the folder list, the set of our own lock files and every
// Acquire/Release: a thread of ours must never judge a lock that another
// thread of ours is just writing as stale.
std::mutex& LockMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string>& Folders() {
  static std::vector<std::string> folders = kDefaultFolders;
  return folders;
}

// Lock files this process holds, so that a lock naming our own PID can be
// told apart from one left by an earlier process that had the same PID.
std::set<std::string>& Held() {
  static std::set<std::string> held;
  return held;
}

enum class State { Absent, Live, Stale, Unreadable };

struct LockInfo {
  State state = State::Absent;
  pid_t pid = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

LockNoteHook& NoteHook() {
  static LockNoteHook hook;
  return hook;
}

// The highest PID this system hands out (the kernel's pid_max; its largest
// possible value when that cannot be read).
long long PidMax() {
  static const long long max = [] {
    long long value = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> value;
    return value > 0 ? value : 4194304LL;
  }();
  return max;
}

// "   1234\n" as the convention writes it; older programs wrote the PID as a
// 4-byte binary int, which is taken for one only when it is a PID this
// system can have (1 to pid_max): four bytes of text such as "LOCK" read as
// an int are far beyond it. 0 when the content is neither.
pid_t ParsePid(const char* text, size_t len) {
  size_t i = 0;
  while (i < len && (text[i] == ' ' || text[i] == '\t')) ++i;
  long long pid = 0;
  size_t digits = 0;
  for (; i < len && text[i] >= '0' && text[i] <= '9' && pid <= INT_MAX; ++i, ++digits)
    pid = pid * 10 + (text[i] - '0');
  while (i < len && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  if (digits > 0 && i == len && pid > 0 && pid <= INT_MAX) return static_cast<pid_t>(pid);
  if (len == sizeof(int32_t)) {
    int32_t binary = 0;
    std::memcpy(&binary, text, sizeof binary);
    if (binary > 0 && binary <= PidMax()) return binary;
  }
  return 0;
}

bool Alive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// Reads a lock without following a link and without blocking on a planted
// FIFO. Whatever is not a regular file holding a PID is Unreadable.
LockInfo Inspect(const std::string& path) {
  LockInfo info;
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    info.state = errno == ENOENT ? State::Absent : State::Unreadable;
    return info;
  }
  struct stat st {};
  char text[64];
  ssize_t n = -1;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = read(fd, text, sizeof text);
  close(fd);
  info.dev = st.st_dev;
  info.ino = st.st_ino;
  info.pid = n > 0 ? ParsePid(text, static_cast<size_t>(n)) : 0;
  if (info.pid <= 0) {
    info.state = State::Unreadable;
  } else if (info.pid == getpid()) {
    info.state = Held().count(path) ? State::Live : State::Stale;
  } else {
    info.state = Alive(info.pid) ? State::Live : State::Stale;
  }
  return info;
}

// Removes a stale lock after reading it once more: still the same file,
// still the same dead PID. False when it changed meanwhile or cannot go.
bool RemoveStale(const std::string& path, const LockInfo& seen) {
  const LockInfo again = Inspect(path);
  if (again.state != State::Stale || again.pid != seen.pid || again.dev != seen.dev ||
      again.ino != seen.ino)
    return false;
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

// One lock looked at, a stale one removed if we may: what is there after.
LockInfo Settle(const std::string& path) {
  const LockInfo info = Inspect(path);
  if (info.state != State::Stale) return info;
  if (RemoveStale(path, info)) return LockInfo{};
  return Inspect(path);  // changed meanwhile, or not ours to remove
}

// Folders we can look into, each reached once.
std::vector<std::string> UsableFolders() {
  std::vector<std::string> usable;
  std::set<std::pair<dev_t, ino_t>> seen;
  for (const std::string& folder : Folders()) {
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(folder.c_str(), X_OK) != 0)
      continue;
    if (seen.insert({st.st_dev, st.st_ino}).second) usable.push_back(folder);
  }
  return usable;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names a lock on this device may have: the device's own (a link such as
// /dev/serial/by-id/... resolved) first, then the name it was given by.
std::vector<std::string> LockNames(const std::string& devicePath) {
  std::vector<std::string> names;
  if (char* resolved = realpath(devicePath.c_str(), nullptr)) {
    names.push_back(LockFileName(resolved));
    std::free(resolved);
  }
  const std::string given = LockFileName(devicePath);
  if (names.empty() || names.front() != given) names.push_back(given);
  return names;
}

std::string Describe(const std::string& path, const LockInfo& info) {
  if (info.state == State::Live) return "locked by process " + std::to_string(info.pid) + " (" + path + ")";
  if (info.state == State::Stale)
    return "stale lock file " + path + " of ended process " + std::to_string(info.pid);
  return "lock file " + path + " cannot be read as a PID";
}

}  // namespace

void SetLockFolders(std::vector<std::string> folders) {
  std::lock_guard<std::mutex> lock(LockMutex());
  Folders() = std::move(folders);
}

std::vector<std::string> LockFolders() {
  std::lock_guard<std::mutex> lock(LockMutex());
  return Folders();
}

void ResetLockFolders() { SetLockFolders(kDefaultFolders); }

void SetLockNoteHook(LockNoteHook hook) {
  std::lock_guard<std::mutex> lock(LockMutex());
  NoteHook() = std::move(hook);
}

LockNoteHook LockNoteHookNow() {
  std::lock_guard<std::mutex> lock(LockMutex());
  return NoteHook();
}

std::string LockFileName(const std::string& devicePath) {
  const std::string name = BaseName(devicePath);
  return name.empty() ? std::string() : "LCK.." + name;
}

bool PortLock::Acquire(const std::string& devicePath) {
  Release();
  std::string note;
  const bool taken = TakeOver(devicePath, note);
  // Told outside the lock: the hook may well take locks of its own.
  if (taken && !note.empty()) {
    const LockNoteHook hook = LockNoteHookNow();
    if (hook) hook(devicePath, note);
  }
  return taken;
}

// A stale lock we may not remove (another user's, in a sticky folder) stays
// where it is and stops no one: its owner has ended. Our own lock cannot go
// under its name then, so the folder takes none of ours, as a folder we may
// not write to; flock and TIOCEXCL still keep the line ours. `note` says so.
bool PortLock::TakeOver(const std::string& devicePath, std::string& note) {
  std::lock_guard<std::mutex> lock(LockMutex());
  refusal_.clear();
  const std::vector<std::string> names = LockNames(devicePath);
  if (names.front().empty()) return true;  // nothing to name a lock by
  const std::vector<std::string> folders = UsableFolders();
  std::string kept;  // the stale locks that stay
  const auto keep = [&kept](const std::string& path, const LockInfo& info) {
    if (kept.find(path) == std::string::npos) kept += (kept.empty() ? "" : ", ") + Describe(path, info);
  };
  for (const std::string& folder : folders) {
    for (const std::string& name : names) {
      const std::string path = folder + '/' + name;
      const LockInfo info = Settle(path);
      if (info.state == State::Live || info.state == State::Unreadable) {
        refusal_ = Describe(path, info);
        return false;
      }
      if (info.state == State::Stale) keep(path, info);
    }
  }
  for (const std::string& folder : folders) {
    if (Write(folder, names.front())) break;
    if (errno != EEXIST) continue;
    const std::string path = folder + '/' + names.front();
    const LockInfo now = Inspect(path);
    if (now.state == State::Stale) {  // one we may not remove
      keep(path, now);
      continue;
    }
    refusal_ = "lock file " + path + " appeared meanwhile";
    return false;
  }
  if (!kept.empty())
    note = kept + " cannot be removed; " +
           (path_.empty() ? std::string("going on without a lock file of our own")
                          : "our lock is " + path_);
  return true;  // also when no folder takes our file: the line is still ours
}

bool PortLock::Write(const std::string& folder, const std::string& name) {
  const std::string path = folder + '/' + name;
  // O_EXCL never follows a link, dangling or not: the open fails instead.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  fchmod(fd, 0644);  // readable by every program that checks it, whatever the umask
  char text[16];
  const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
  struct stat st {};
  const bool ok = write(fd, text, static_cast<size_t>(len)) == len && fstat(fd, &st) == 0;
  close(fd);
  if (!ok) {
    unlink(path.c_str());
    errno = EIO;
    return false;
  }
  path_ = path;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  Held().insert(path);
  return true;
}

void PortLock::Release() {
  std::lock_guard<std::mutex> lock(LockMutex());
  if (path_.empty()) return;
  const LockInfo info = Inspect(path_);
  Held().erase(path_);
  // Ours only while it is the file we wrote and still names us.
  if (info.dev == dev_ && info.ino == ino_ && info.pid == getpid()) unlink(path_.c_str());
  path_.clear();
}
