#include "sim_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace simtest {

Bytes ToBytes(const Frame& frame) { return {frame.data(), frame.data() + frame.size}; }

Bytes WithCrc(Bytes head) {
  const uint16_t crc = Crc16(head.data(), head.size());
  head.push_back(static_cast<uint8_t>(crc >> 8));
  head.push_back(static_cast<uint8_t>(crc & 0xFF));
  return head;
}

bool CheckBytesRight(const Bytes& frame) {
  return frame.size() >= 3 &&
         Crc16(frame.data(), frame.size() - 2) == GetU16(&frame[frame.size() - 2]);
}

Bytes Send(sim::Controller& device, const Frame& request) {
  return device.Handle(request.data(), request.size);
}

Bytes Send(sim::Controller& device, const Bytes& request) {
  return device.Handle(request.data(), request.size());
}

Frame WriteFloat(uint8_t address, uint16_t reg, float value) {
  uint8_t data[4];
  PutFloat(data, value);
  return BuildWriteMultipleRequest(address, reg, 2, data);
}

Frame WriteClock(uint8_t address, uint16_t reg, const ClockFields& clock) {
  uint8_t data[8] = {};
  EncodeClock(clock, data);
  return BuildWriteMultipleRequest(address, reg, 4, data);
}

Frame WriteStationAndBaud(uint8_t address, uint16_t station, uint32_t baud) {
  uint8_t data[6];
  PutU16(data, station);
  PutU32(data + 2, baud);
  return BuildWriteMultipleRequest(address, 0x200D, 3, data);
}

namespace {

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B9600;
  }
}

}  // namespace

RawPort::RawPort(const std::string& path, int baud) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  termios tio{};
  tcgetattr(fd_, &tio);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&tio, SpeedOf(baud));
  cfsetospeed(&tio, SpeedOf(baud));
  tcsetattr(fd_, TCSANOW, &tio);
  tcflush(fd_, TCIOFLUSH);
}

RawPort::~RawPort() { Close(); }

void RawPort::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void RawPort::Write(const Bytes& bytes) {
  if (fd_ >= 0) (void)!write(fd_, bytes.data(), bytes.size());
}

Bytes RawPort::ReadReply(int quietMs, int limitMs) {
  return Read(SIZE_MAX, quietMs, limitMs);
}

Bytes RawPort::ReadBytes(size_t count, int limitMs) { return Read(count, limitMs, limitMs); }

Bytes RawPort::Read(size_t count, int quietMs, int limitMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  Bytes got;
  while (fd_ >= 0 && got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    const int wait = got.empty() ? static_cast<int>(left)
                                 : static_cast<int>(std::min<long long>(left, quietMs));
    if (poll(&p, 1, wait) <= 0 || (p.revents & POLLIN) == 0) {
      if (!got.empty() || (p.revents & (POLLHUP | POLLERR)) != 0) break;
      continue;
    }
    uint8_t buf[300];
    const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

}  // namespace simtest
