#include "pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace sim {
namespace {

struct Speed {
  int baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},   {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
};

const Speed* ByBaud(int baud) {
  const auto it = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                               [baud](const Speed& s) { return s.baud == baud; });
  return it == std::end(kSpeeds) ? nullptr : it;
}

int BaudOf(speed_t code) {
  const auto it = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                               [code](const Speed& s) { return s.code == code; });
  return it == std::end(kSpeeds) ? 0 : it->baud;
}

bool SetRaw(int fd, speed_t speed) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

bool PseudoTerminal::IsSupportedSpeed(int baud) { return ByBaud(baud) != nullptr; }

bool PseudoTerminal::Open(int baud) {
  Close();
  const Speed* speed = ByBaud(baud);
  if (speed == nullptr) {
    errno = EINVAL;
    return false;
  }
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  char name[128];
  bool ok = master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
            ptsname_r(master_, name, sizeof name) == 0;
  if (ok) {
    path_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    // Non-blocking: a reply nobody reads must not stall the server when the
    // slave's input queue is full.
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ok = slave_ >= 0 && SetRaw(slave_, speed->code);
  }
  if (!ok) {
    const int saved = errno;
    Close();
    errno = saved;
  }
  return ok;
}

void PseudoTerminal::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

int PseudoTerminal::LineBaud() const {
  termios tio{};
  if (master_ < 0 || tcgetattr(master_, &tio) != 0) return 0;
  return BaudOf(cfgetospeed(&tio));
}

}  // namespace sim
