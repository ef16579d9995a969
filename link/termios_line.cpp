// The local serial line over POSIX termios.
//
// The descriptor is always non-blocking; every wait is a poll(2). Fill
// moves whatever the driver holds into the line's own receive buffer, so
// the next poll() sleeps until NEW bytes come (poll() reports readable as
// soon as one byte is queued; re-polling with the bytes left in the driver
// would spin).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "line.h"
#include "open_watch.h"
#include "port_lock.h"
#include "port_users.h"
#include "rs485.h"

namespace {

// Larger than any count a wait can be asked for (16 bits), so a full
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

speed_t SpeedOf(int baud) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) return r.speed;
  }
  return B0;
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

// A USB adapter hands received bytes on when its latency timer runs out
// (16 ms on FTDI chips) unless the driver is told the line is in a hurry;
// with ASYNC_LOW_LATENCY the timer drops to 1 ms. Whether the flag was ours
// to set, so that the close restores the driver's choice.
bool SetLowLatency(int fd, const std::string& device) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) {
    NoteLineOnce(device, device + " has no low-latency mode: " + SystemMessage(errno));
    return false;
  }
  if (serial.flags & ASYNC_LOW_LATENCY) return false;
  serial.flags |= ASYNC_LOW_LATENCY;
  if (ioctl(fd, TIOCSSERIAL, &serial) == 0) return true;
  NoteLineOnce(device, device + " refused low latency: " + SystemMessage(errno));
  return false;
}

void ClearLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags &= ~ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);
}

class TermiosLine final : public Line {
 public:
  explicit TermiosLine(std::string path) : path_(std::move(path)) {}
  ~TermiosLine() override;

  bool Open(int baud, OpenFailure& why) override;
  bool SetBaud(int baud) override { return fd_ >= 0 && Configure(fd_, SpeedOf(baud)); }
  void Purge(int) override {
    rxStart_ = rxEnd_ = 0;
    tcflush(fd_, TCIOFLUSH);
  }
  bool Fill() override;
  uint32_t Queued() const override;
  size_t Take(uint8_t* out, size_t len) override;
  LineWait AwaitInput(uint32_t ms, int wakeFd) override { return Seen(PollLine(fd_, POLLIN, ms, wakeFd)); }
  ssize_t Send(const uint8_t* wire, size_t n) override;
  LineWait AwaitOutput(uint32_t ms) override { return Seen(PollLine(fd_, POLLOUT, ms)); }
  bool Gone() const override { return gone_; }

 private:
  bool Claim(int baud, OpenFailure& why);
  LineWait Seen(LineWait w) {
    if (w == LineWait::Gone) gone_ = true;
    return w;
  }
  size_t Buffered() const { return rxEnd_ - rxStart_; }

  const std::string path_;
  int fd_ = -1;
  bool lowLatency_ = false;  // we set ASYNC_LOW_LATENCY and take it back on close
  bool rs485_ = false;       // we set RS-485 mode; rs485Before_ goes back on close
  serial_rs485 rs485Before_{};
  bool gone_ = false;        // a hang-up or EIO was seen
  PortLock lock_;            // our LCK.. file while we hold the line
  size_t rxStart_ = 0;       // first unread byte of rx_
  size_t rxEnd_ = 0;         // one past the last
  std::array<uint8_t, kRxCapacity> rx_;
};

TermiosLine::~TermiosLine() {
  if (fd_ < 0) return;
  // Unsent output would hold close() for the driver's closing wait (up to
  // 30 s on a wedged adapter); every request has been answered or given up
  // by now. TIOCNXCL: a pty's slave outlives our close while its master is
  // open, and would otherwise refuse every later open by a normal user.
  tcflush(fd_, TCIOFLUSH);
  if (lowLatency_) ClearLowLatency(fd_);
  if (rs485_) RestoreRs485(fd_, rs485Before_);
  ioctl(fd_, TIOCNXCL);
  close(fd_);  // also releases the flock; lock_ then removes the lock file
}

bool TermiosLine::Open(int baud, OpenFailure& why) {
  // A missing device is told before any lock file is touched for it.
  struct stat node {};
  if (stat(path_.c_str(), &node) != 0) {
    why = FromErrno(path_, errno);
    return false;
  }
  if (!lock_.Acquire(path_)) {
    const pid_t holder = lock_.Holder();
    const std::string& words = lock_.Refusal();
    why = holder > 0 ? OpenFailure{OpenCause::InUse, path_, ProgramName(holder), holder, words}
                     : OpenFailure{OpenCause::BadLockFile, path_, words, 0, words};
    return false;
  }
  return Claim(baud, why);
}

// The device is ours by its lock file: now the descriptor, the line itself
// and its settings.
bool TermiosLine::Claim(int baud, OpenFailure& why) {
  const bool quiet = OpenWatch::Process().Before(path_);
  const int fd = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = FromErrno(path_, errno);
    return false;
  }
  if (!TakeLine(fd, path_, quiet, why)) {
    // Someone else's line: no flush, no settings, no bytes.
    close(fd);
    return false;
  }
  if (!Configure(fd, SpeedOf(baud))) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    why = {OpenCause::Other, path_, "line settings refused", 0, "line settings refused"};
    return false;
  }
  DropDtr(fd);
  lowLatency_ = SetLowLatency(fd, path_);
  rs485_ = Rs485Wanted(path_) && EnableRs485(fd, path_, rs485Before_);
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  return true;
}

// A read that returns less than it had room for has emptied the driver's
// queue, so no further read (or FIONREAD) is needed to know the count.
// read() returns 0 on hang-up, EIO when the adapter vanished.
bool TermiosLine::Fill() {
  if (rxStart_ == rxEnd_) rxStart_ = rxEnd_ = 0;
  if (rxEnd_ == rx_.size() && rxStart_ > 0) {
    std::memmove(rx_.data(), rx_.data() + rxStart_, Buffered());
    rxEnd_ -= rxStart_;
    rxStart_ = 0;
  }
  while (rxEnd_ < rx_.size()) {
    const size_t room = rx_.size() - rxEnd_;
    const ssize_t n = read(fd_, rx_.data() + rxEnd_, room);
    if (n > 0) {
      rxEnd_ += static_cast<size_t>(n);
      if (static_cast<size_t>(n) < room) return true;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      gone_ = true;
      return false;
    }
  }
  return true;
}

// After Fill() the driver holds nothing unless our buffer filled up first.
uint32_t TermiosLine::Queued() const {
  int pending = 0;
  if (rxEnd_ == rx_.size() && (ioctl(fd_, FIONREAD, &pending) != 0 || pending < 0)) {
    pending = 0;
  }
  return static_cast<uint32_t>(Buffered() + static_cast<size_t>(pending));
}

size_t TermiosLine::Take(uint8_t* out, size_t len) {
  const size_t n = std::min(len, Buffered());
  if (n == 0) return 0;
  std::memcpy(out, rx_.data() + rxStart_, n);
  rxStart_ += n;
  return n;
}

ssize_t TermiosLine::Send(const uint8_t* wire, size_t n) {
  for (;;) {
    const ssize_t sent = write(fd_, wire, n);
    if (sent > 0) return sent;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    gone_ = sent < 0 && errno == EIO;
    return -1;
  }
}

}  // namespace

std::unique_ptr<Line> MakeTermiosLine(const std::string& path) {
  return std::make_unique<TermiosLine>(path);
}
