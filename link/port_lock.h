// The serial lock-file convention of Linux terminal programs: a file
// LCK..<device name> in the lock folder (/run/lock, /var/lock) holds the PID
// of the program that has the line, as ten right-aligned digits and a newline
// (any run of digits between blanks is read), or from older programs as a
// 4-byte binary int, taken for a PID only from 1 to the kernel's pid_max.
// A lock whose PID runs is honoured; one whose process has ended is stale.
//
// The lock folder is shared by every user, so nothing in it is trusted: our
// lock is created with O_EXCL (a link planted under its name is never
// followed), a lock is read without following links, a stale one is removed
// only after it has been read a second time, and a lock is removed on release
// only while it is still the very file we wrote with our PID in it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// The folders looked into, in order; our lock goes into the first that takes
// it. The same folder reached twice (/var/lock is often a link to /run/lock)
// counts once. Tests point this at folders of their own.
void SetLockFolders(std::vector<std::string> folders);
std::vector<std::string> LockFolders();
void ResetLockFolders();

// Told, after an Acquire that took the line, what it had to let stand: a
// stale lock it may not remove (device path, a few words), for the trace.
// Called on the acquiring thread; an empty function removes it.
using LockNoteHook = std::function<void(const std::string& device, const std::string& note)>;
void SetLockNoteHook(LockNoteHook hook);
LockNoteHook LockNoteHookNow();

class PortLock {
 public:
  PortLock() = default;
  ~PortLock() { Release(); }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Looks for a lock on `devicePath` (under its own name and, for a link such
  // as /dev/serial/by-id/..., the name of the device it leads to) in every
  // lock folder. False when a live process holds one, or when one cannot be
  // read as a PID (a link, an empty or garbled file, four bytes that are no
  // PID of this system: someone's, so not ours to judge). Otherwise stale
  // locks (their process has ended) are removed and ours is written, and the
  // result is true, also when no folder would take our file: a stale lock we
  // may not remove (another user's in a sticky folder) keeps its folder from
  // taking ours, as an unwritable folder would, and the note hook says so.
  bool Acquire(const std::string& devicePath);

  // Removes our lock file if it is still ours. Safe to call twice.
  void Release();

  // Our lock file while we hold one, else empty.
  const std::string& Path() const { return path_; }
  // Why the last Acquire refused ("" when it did not).
  const std::string& Refusal() const { return refusal_; }

 private:
  bool TakeOver(const std::string& devicePath, std::string& note);
  bool Write(const std::string& folder, const std::string& name);

  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::string refusal_;
};

// "LCK..ttyUSB0" for /dev/ttyUSB0: the name the convention gives a device.
std::string LockFileName(const std::string& devicePath);
