// The look through /proc for other holders of a device costs about one
// system call per descriptor on the machine, and every command opens the
// port afresh. Once a look has found no other process on a device, an
// inotify watch on its node sees every later open of it, by anyone. If no
// open came between our last look (or last skipped look) and this open of
// ours, nobody new can have the device, and the look is skipped.
//
// inotify folds an event into an identical one still unread before it, so
// an open of someone else's right before ours would hide behind ours: the
// queue is emptied just before our open, and only opens after that could
// hide, in the few microseconds until our open and TIOCEXCL (which refuses
// all later opens but root's). Anything else the watch reports (a close,
// the node removed or moved, a lost event) sends the open to the full look.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>

class OpenWatch {
 public:
  OpenWatch() = default;
  ~OpenWatch();
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  // The one the serial port uses.
  static OpenWatch& Process();

  // Right before this process opens `path`: whether its device is known
  // free with no open of anyone since. Empties the watch's queue.
  bool Before(const std::string& path);

  // Right after this process opened the device as `fd` (once) and set
  // TIOCEXCL: the PID of another process with it open, or 0. `quiet` is what
  // Before said; without it, or with anything but our own open seen since,
  // this is the full look (port_users.h).
  pid_t After(int fd, bool quiet);

 private:
  struct Device {
    bool free = false;  // the last look found nobody, and nobody came since
    int opens = 0;      // events since the last Before/After
    int others = 0;
  };

  bool Ready();
  void Drain();
  Device* Find(dev_t dev, ino_t ino);
  Device* Watch(int fd, bool& isNew);

  std::mutex mu_;
  pid_t owner_ = 0;  // the process the inotify instance belongs to
  int inotify_ = -1;
  std::map<int, Device> byWatch_;
  std::map<std::pair<dev_t, ino_t>, int> watchOf_;
};
