// The serial line over POSIX termios.
//
// The descriptor is always non-blocking; every wait is a poll(2) against a
// monotonic deadline. WaitForBytes moves whatever the driver holds into the
// port's own receive buffer, so the next poll() sleeps until NEW bytes come
// (poll() reports readable as soon as one byte is queued; re-polling with
// the bytes left in the driver would spin). ReadPort serves that buffer first.
#include "serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <utility>

#include "deadline.h"
#include "open_failure.h"
#include "port_lock.h"
#include "open_watch.h"
#include "port_users.h"
#include "remote_line.h"

namespace {

// Larger than any count WaitForBytes can be asked for (16 bits), so a full
// buffer always satisfies the wait and never leaves poll() spinning on bytes
// we have no room to take.
constexpr size_t kRxCapacity = 65536;

struct Rate {
  int baud;
  speed_t speed;
};
constexpr Rate kRates[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// Driver time-outs, in milliseconds: reads get 5 per byte + 5 in all and
// 100 between bytes; writes 50 per byte + 100.
constexpr uint64_t kReadPerByteMs = 5;
constexpr uint64_t kReadConstantMs = 5;
constexpr uint64_t kReadIntervalMs = 100;
constexpr uint64_t kWritePerByteMs = 50;
constexpr uint64_t kWriteConstantMs = 100;

speed_t SpeedOf(int baud) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) return r.speed;
  }
  return B0;
}

enum class PollResult { Ready, TimedOut, Gone, Woken };

// One poll(2) for `events`, and for a wake-up on `wakeFd` when it is not -1.
// A hang-up without pending input, an error or a closed descriptor all mean
// the device has gone. EINTR counts as Ready: the caller looks again and
// re-checks its deadline.
PollResult PollFd(int fd, short events, uint32_t ms, int wakeFd = -1) {
  pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
  const int r = poll(p, wakeFd >= 0 ? 2 : 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
  if (r < 0) return errno == EINTR ? PollResult::Ready : PollResult::Gone;
  if (r == 0) return PollResult::TimedOut;
  if (p[0].revents & events) return PollResult::Ready;
  if (p[0].revents != 0) return PollResult::Gone;
  return PollResult::Woken;
}

std::string SystemMessage(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Another program has the line: by its PID and name when they can be seen.
OpenFailure HeldBy(const std::string& path, pid_t pid, const std::string& words) {
  OpenFailure f{OpenCause::InUse, path, ProgramName(pid), pid, words};
  if (pid > 0) {
    f.why += (words.empty() ? "" : " in ") + std::string("process ") + std::to_string(pid);
    if (!f.detail.empty()) f.why += " (" + f.detail + ")";
  }
  return f;
}

// The refusal a failed system call on the device means.
OpenFailure FromErrno(const std::string& path, int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
      return {OpenCause::NoDevice, path, "", 0, SystemMessage(error)};
    case EACCES:
    case EPERM:
      return {OpenCause::NoPermission, path, GroupOf(path), 0,
              SystemMessage(error) + " (group " + GroupOf(path) + ")"};
    case EBUSY:  // TIOCEXCL of another program
      return {OpenCause::InUse, path, "", 0, "held exclusively (TIOCEXCL) by another program"};
    default:
      return {OpenCause::Other, path, SystemMessage(error), 0, SystemMessage(error)};
  }
}

// Takes the line for this process alone: flock() stops a second open from
// any process that flocks (TIOCEXCL alone does not stop root), TIOCEXCL the
// programs that do not flock, and a look through /proc (open_watch.h) finds
// those that do neither but have the device open already. The flock lives on this open file
// description, so a second open from this same process is refused as well.
// `quiet`: nobody opened the device since our last look found it free. On
// refusal `why` says what holds the line; nothing has been changed on it.
// The whole look through /proc for the holder's name is made only then.
bool TakeLine(int fd, const std::string& path, bool quiet, OpenFailure& why) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    why = HeldBy(path, OtherProcessUsing(fd), "locked (flock) by another program");
    return false;
  }
  // Only root gets this far into a line someone holds with TIOCEXCL; clearing
  // their flag on the way out would be worse than not looking.
  int exclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    why = HeldBy(path, OtherProcessUsing(fd), "held exclusively (TIOCEXCL) by another program");
    return false;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    why = {OpenCause::Other, path, SystemMessage(errno), 0, "not a terminal device"};
    return false;
  }
  if (const pid_t other = OpenWatch::Process().After(fd, quiet)) {
    ioctl(fd, TIOCNXCL);
    why = HeldBy(path, other, "open");
    return false;
  }
  return true;
}

// 8N1, raw, receiver on, modem lines ignored, no flow control of any kind
// (XON/XOFF would eat binary frame bytes; a leftover CRTSCTS would stall
// writes on a three-wire line), no hang-up on close. All waiting is done by
// poll(); VMIN 1 makes a non-blocking read() with nothing queued fail with
// EAGAIN, so that a return of 0 means hang-up (with VMIN 0 it means both).
bool MakeLineSettings(termios& tio, speed_t speed) {
  cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

bool Configure(int fd, speed_t speed) {
  termios current{};
  // On failure the settings below still apply in full.
  const bool known = tcgetattr(fd, &current) == 0;
  termios wanted = current;
  if (!MakeLineSettings(wanted, speed)) return false;
  // A line keeps its settings between opens; reopening it at the same rate
  // (every command does) needs no reconfiguration.
  if (known && SameSettings(current, wanted)) return true;
  if (tcsetattr(fd, TCSANOW, &wanted) != 0) return false;
  // tcsetattr() succeeds if ANY change took; make sure the ones we need did.
  termios got{};
  if (tcgetattr(fd, &got) != 0) return false;
  return cfgetospeed(&got) == speed && (got.c_cflag & CSIZE) == CS8 &&
         (got.c_cflag & PARENB) == 0;
}

// The kernel raises DTR when a tty opens; the controller's line expects it
// low. A device without modem lines (a pty) refuses the call: nothing to do.
void DropDtr(int fd) {
  int dtr = TIOCM_DTR;
  ioctl(fd, TIOCMBIC, &dtr);
}

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}

OpenFailureHook& FailureHook() {
  static OpenFailureHook hook;
  return hook;
}

PortNoteHook& NoteHook() {
  static PortNoteHook hook;
  return hook;
}

// Devices the trace has been told have no low-latency switch: every command
// opens the port afresh, and once is enough to know.
std::set<std::string>& NotedDevices() {
  static std::set<std::string> noted;
  return noted;
}

// Every refused open ends here: the nothing-opened handle, the trace's words
// and the record the caller may word for the operator.
HPORT Refuse(OpenFailure failure) {
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    if (FailureHook()) FailureHook()(failure.device, failure.why);
  }
  SetLastOpenFailure(std::move(failure));
  return nullptr;
}

void NoteOnce(const std::string& device, const std::string& text) {
  std::lock_guard<std::mutex> lock(HookMutex());
  if (NoteHook() && NotedDevices().insert(device).second) NoteHook()(text);
}

// A USB adapter hands received bytes on when its latency timer runs out
// (16 ms on FTDI chips) unless the driver is told the line is in a hurry;
// with ASYNC_LOW_LATENCY the timer drops to 1 ms. Whether the flag was ours
// to set, so that the close restores the driver's choice.
bool SetLowLatency(int fd, const std::string& device) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) {
    NoteOnce(device, device + " has no low-latency mode: " + SystemMessage(errno));
    return false;
  }
  if (serial.flags & ASYNC_LOW_LATENCY) return false;
  serial.flags |= ASYNC_LOW_LATENCY;
  if (ioctl(fd, TIOCSSERIAL, &serial) == 0) return true;
  NoteOnce(device, device + " refused low latency: " + SystemMessage(errno));
  return false;
}

void ClearLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags &= ~ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace

struct SerialPort {
  int fd = -1;
  int baud = 0;
  bool lowLatency = false;  // we set ASYNC_LOW_LATENCY and take it back on close
  std::string device;
  PortLock lock;       // our LCK.. file while we hold the line
  bool gone = false;   // a hang-up or EIO was seen
  std::unique_ptr<RemoteLine> remote;  // a line over the network: fd stays -1
  size_t rxStart = 0;  // first unread byte of rx
  size_t rxEnd = 0;    // one past the last
  std::array<uint8_t, kRxCapacity> rx;

  size_t Buffered() const { return rxEnd - rxStart; }

  // Moves what the driver holds into rx. False when the device has gone
  // (read() returns 0 on hang-up, EIO when the adapter vanished). A read
  // that returns less than it had room for has emptied the driver's queue,
  // so no further read (or FIONREAD) is needed to know the count.
  bool Drain() {
    if (rxStart == rxEnd) rxStart = rxEnd = 0;
    if (rxEnd == rx.size() && rxStart > 0) {
      std::memmove(rx.data(), rx.data() + rxStart, Buffered());
      rxEnd -= rxStart;
      rxStart = 0;
    }
    while (rxEnd < rx.size()) {
      const size_t room = rx.size() - rxEnd;
      const ssize_t n = read(fd, rx.data() + rxEnd, room);
      if (n > 0) {
        rxEnd += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < room) return true;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
      }
    }
    return true;
  }

  // The count at the last look: after Drain() the driver holds nothing
  // unless our buffer filled up first.
  uint32_t Queued() const {
    int pending = 0;
    if (rxEnd == rx.size() && (ioctl(fd, FIONREAD, &pending) != 0 || pending < 0)) {
      pending = 0;
    }
    return static_cast<uint32_t>(Buffered() + static_cast<size_t>(pending));
  }

  size_t Take(uint8_t* out, size_t len) {
    const size_t n = std::min(len, Buffered());
    std::memcpy(out, rx.data() + rxStart, n);
    rxStart += n;
    return n;
  }
};

HPORT PortHandle = nullptr;

namespace {

// A remote line takes no lock file and has no local owners to look for in
// /proc: the server decides who may use it.
HPORT OpenRemote(const std::string& path, int baud) {
  auto port = std::make_unique<SerialPort>();
  port->remote = RemoteLine::ForPath(path);
  std::string why;
  if (!port->remote->Open(baud, why))
    return Refuse({OpenCause::Unreachable, path, why, 0, why});
  port->baud = baud;
  port->device = path;
  return port.release();
}

}  // namespace

uint32_t PortNetworkMarginMs(HPORT port) {
  return port != nullptr && port->remote ? port->remote->MarginMs() : 0;
}

bool IsSupportedBaud(int baud) { return SpeedOf(baud) != B0; }

HPORT OpenDevice(const std::string& path, int baud) {
  const speed_t speed = SpeedOf(baud);
  if (speed == B0) return Refuse({OpenCause::NoBaudRate, path, "", 0, "no baud rate chosen"});
  if (path.empty()) return Refuse({OpenCause::NoDevice, path, "", 0, "no device path"});
  if (IsRemotePath(path)) return OpenRemote(path, baud);
  // A missing device is told before any lock file is touched for it.
  struct stat node {};
  if (stat(path.c_str(), &node) != 0) return Refuse(FromErrno(path, errno));
  auto port = std::make_unique<SerialPort>();
  if (!port->lock.Acquire(path)) {
    const pid_t holder = port->lock.Holder();
    const std::string& words = port->lock.Refusal();
    if (holder > 0) return Refuse({OpenCause::InUse, path, ProgramName(holder), holder, words});
    return Refuse({OpenCause::BadLockFile, path, words, 0, words});
  }
  const bool quiet = OpenWatch::Process().Before(path);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Refuse(FromErrno(path, errno));
  OpenFailure why;
  if (!TakeLine(fd, path, quiet, why)) {
    // Someone else's line: no flush, no settings, no bytes.
    close(fd);
    return Refuse(std::move(why));
  }
  if (!Configure(fd, speed)) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    return Refuse({OpenCause::Other, path, "line settings refused", 0, "line settings refused"});
  }
  DropDtr(fd);
  port->lowLatency = SetLowLatency(fd, path);
  tcflush(fd, TCIOFLUSH);
  port->fd = fd;
  port->baud = baud;
  port->device = path;
  SetLastOpenFailure({});
  return port.release();
}

void CloseDevice(HPORT port) {
  if (port == nullptr) return;
  if (port->remote) {
    delete port;  // and its connection
    return;
  }
  // Unsent output would hold close() for the driver's closing wait (up to
  // 30 s on a wedged adapter); every request has been answered or given up
  // by now. TIOCNXCL: a pty's slave outlives our close while its master is
  // open, and would otherwise refuse every later open by a normal user.
  tcflush(port->fd, TCIOFLUSH);
  if (port->lowLatency) ClearLowLatency(port->fd);
  ioctl(port->fd, TIOCNXCL);
  close(port->fd);  // also releases the flock
  delete port;      // and the lock file
}

void SetOpenFailureHook(OpenFailureHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  FailureHook() = std::move(hook);
}

void SetPortNoteHook(PortNoteHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  NoteHook() = std::move(hook);
  NotedDevices().clear();
}

HPORT OpenPort(int portNumber, int baud) {
  // A handle the slot still holds would otherwise leak, and keep its device
  // locked against this very open.
  CloseDevice(PortHandle);
  PortHandle = OpenDevice(PortPath(portNumber), baud);
  return PortHandle;
}

void ClosePort() {
  CloseDevice(PortHandle);
  PortHandle = nullptr;
}

uint32_t WaitForBytes(HPORT port, uint16_t expected, uint32_t timeoutMs) {
  return WaitForBytes(port, expected, timeoutMs, -1);
}

uint32_t WaitForBytes(HPORT port, uint16_t expected, uint32_t timeoutMs, int wakeFd) {
  if (port != nullptr && port->remote) return port->remote->Wait(expected, timeoutMs, wakeFd);
  const Deadline deadline(timeoutMs);
  if (port == nullptr) {
    deadline.SleepUntil();
    return 0;
  }
  // poll() first: right after a request nothing is there yet, and when
  // something is, poll() says so at once. Every look ends with a drain, the
  // last one at the deadline.
  for (;;) {
    if (port->Buffered() >= expected) {
      port->Drain();  // still a look: count what came after
      return port->Queued();
    }
    const PollResult r = PollFd(port->fd, POLLIN, deadline.RemainingMs(), wakeFd);
    const bool open = port->Drain() && r != PollResult::Gone;
    if (!open) port->gone = true;
    const uint32_t count = port->Queued();
    if (count >= expected || !open || r == PollResult::Woken || deadline.Expired()) return count;
  }
}

size_t WritePort(HPORT port, const uint8_t* data, size_t len) {
  if (port == nullptr || data == nullptr) return 0;
  if (port->remote) return port->remote->Write(data, len);
  const Deadline deadline(kWritePerByteMs * len + kWriteConstantMs);
  size_t done = 0;
  while (done < len) {
    const ssize_t n = write(port->fd, data + done, len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      port->gone = n < 0 && errno == EIO;
      break;
    }
    const uint32_t left = deadline.RemainingMs();
    if (left == 0) break;
    if (PollFd(port->fd, POLLOUT, left) == PollResult::Gone) {
      port->gone = true;
      break;
    }
  }
  return done;
}

size_t ReadPort(HPORT port, uint8_t* data, size_t len) {
  if (port == nullptr || data == nullptr) return 0;
  if (port->remote) return port->remote->Read(data, len);
  const Deadline total(kReadPerByteMs * len + kReadConstantMs);
  Deadline interval(kReadIntervalMs);
  size_t got = port->Take(data, len);
  while (got < len) {
    const ssize_t n = read(port->fd, data + got, len - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      interval.Restart(kReadIntervalMs);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
    // The gap limit starts with the first byte, as the driver's did.
    uint32_t left = total.RemainingMs();
    if (got > 0) left = std::min(left, interval.RemainingMs());
    if (left == 0 || PollFd(port->fd, POLLIN, left) == PollResult::Gone) break;
  }
  return got;
}

void PurgePort(HPORT port) {
  if (port == nullptr) return;
  if (port->remote) return port->remote->Purge();
  port->rxStart = port->rxEnd = 0;
  tcflush(port->fd, TCIOFLUSH);
}

bool PortGone(HPORT port) { return port != nullptr && port->gone; }

int PortBaud(HPORT port) { return port == nullptr ? 0 : port->baud; }

std::string PortDevice(HPORT port) {
  return port == nullptr ? std::string() : port->device;
}
