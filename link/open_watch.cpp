#include "open_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>

#include "port_users.h"

namespace {

// Opens and closes, and whatever ends the watch's meaning: the node deleted
// or moved (a pty freed, an adapter unplugged; devpts gives the next pty of
// the same number the same inode), the watch dropped.
constexpr uint32_t kEvents = IN_OPEN | IN_CLOSE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kWatchEnds = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

}  // namespace

OpenWatch& OpenWatch::Process() {
  static OpenWatch watch;
  return watch;
}

OpenWatch::~OpenWatch() {
  if (inotify_ >= 0) close(inotify_);
}

bool OpenWatch::Ready() {
  if (owner_ != getpid()) {
    // A forked child shares the parent's inotify queue: reading it would
    // take the parent's events. The child starts a watch of its own.
    if (inotify_ >= 0) close(inotify_);
    byWatch_.clear();
    watchOf_.clear();
    owner_ = getpid();
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  return inotify_ >= 0;
}

void OpenWatch::Drain() {
  alignas(inotify_event) char buf[4096];
  ssize_t n;
  while ((n = read(inotify_, buf, sizeof buf)) > 0) {
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {  // events were lost
        for (auto& watched : byWatch_) watched.second.free = false;
        continue;
      }
      const auto it = byWatch_.find(event->wd);
      if (it == byWatch_.end()) continue;
      if (event->mask & kWatchEnds) {
        inotify_rm_watch(inotify_, event->wd);
        for (auto key = watchOf_.begin(); key != watchOf_.end();)
          key = key->second == event->wd ? watchOf_.erase(key) : std::next(key);
        byWatch_.erase(it);
      } else if (event->mask & IN_OPEN) {
        ++it->second.opens;
      } else {
        ++it->second.others;
      }
    }
  }
}

OpenWatch::Device* OpenWatch::Find(dev_t dev, ino_t ino) {
  const auto known = watchOf_.find({dev, ino});
  return known == watchOf_.end() ? nullptr : &byWatch_[known->second];
}

OpenWatch::Device* OpenWatch::Watch(int fd, bool& isNew) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return nullptr;
  isNew = false;
  if (Device* known = Find(st.st_dev, st.st_ino)) return known;
  // Through our descriptor: the node we opened, whatever path led to it.
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  const int wd = inotify_add_watch(inotify_, self, kEvents);
  if (wd < 0) return nullptr;
  isNew = true;
  watchOf_[{st.st_dev, st.st_ino}] = wd;
  return &(byWatch_[wd] = Device{});
}

bool OpenWatch::Before(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  struct stat st {};
  if (!Ready() || stat(path.c_str(), &st) != 0) return false;
  Drain();
  Device* device = Find(st.st_dev, st.st_ino);
  if (device == nullptr) return false;
  // Our own last close may be there; an open is someone's.
  const bool quiet = device->free && device->opens == 0;
  device->opens = device->others = 0;
  return quiet;
}

pid_t OpenWatch::After(int fd, bool quiet) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!Ready()) return OtherProcessUsing(fd);
  Drain();
  bool isNew = false;
  Device* device = Watch(fd, isNew);
  if (device == nullptr) return OtherProcessUsing(fd);
  // Exactly our open since Before (an open of someone's just before it folds
  // into it; anything else shows).
  const bool unchanged = quiet && !isNew && device->opens == 1 && device->others == 0;
  device->opens = device->others = 0;
  if (unchanged) return 0;
  // The watch is in place before the look: an open during it is seen next time.
  const pid_t other = OtherProcessUsing(fd);
  device->free = other == 0;
  return other;
}
