#include "pty_pair.h"

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

PtyPair::PtyPair() {
  termios raw{};
  cfmakeraw(&raw);
  cfsetspeed(&raw, B9600);
  char name[256] = {};
  if (openpty(&master_, &slave_, name, &raw, nullptr) == 0) path_ = name;
}

PtyPair::~PtyPair() { Hangup(); }

void PtyPair::Send(const std::vector<uint8_t>& bytes) const {
  if (!bytes.empty()) (void)!write(master_, bytes.data(), bytes.size());
}

std::vector<uint8_t> PtyPair::Receive(size_t count, int timeoutMs) const {
  std::vector<uint8_t> out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{master_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    uint8_t buf[256];
    const ssize_t n = read(master_, buf, std::min(sizeof buf, count - out.size()));
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

bool PtyPair::WaitQueued(size_t count, int timeoutMs) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int queued = 0;
  while (ioctl(slave_, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) < count) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return static_cast<size_t>(queued) >= count;
}

void PtyPair::Hangup() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}
