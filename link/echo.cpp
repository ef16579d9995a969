#include "echo.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::atomic<EchoMode> g_mode{EchoMode::Auto};

std::mutex& LearnedMutex() {
  static std::mutex m;
  return m;
}

// Devices seen to echo in auto mode.
std::set<std::string>& Learned() {
  static std::set<std::string> devices;
  return devices;
}

void Learn(const std::string& device) {
  std::lock_guard<std::mutex> lock(LearnedMutex());
  Learned().insert(device);
}

}  // namespace

void SetEchoMode(EchoMode mode) { g_mode = mode; }
EchoMode CurrentEchoMode() { return g_mode; }

bool ParseEchoMode(const std::string& text, EchoMode& mode) {
  const std::pair<const char*, EchoMode> kNames[] = {
      {"auto", EchoMode::Auto}, {"on", EchoMode::On}, {"off", EchoMode::Off}};
  for (const auto& [name, value] : kNames) {
    if (text == name) {
      mode = value;
      return true;
    }
  }
  return false;
}

bool DeviceEchoes(const std::string& device) {
  std::lock_guard<std::mutex> lock(LearnedMutex());
  return Learned().count(device) != 0;
}

void ForgetEcho(const std::string& device) {
  std::lock_guard<std::mutex> lock(LearnedMutex());
  Learned().erase(device);
}

void EchoFilter::Sent(const uint8_t* data, size_t len) {
  pending_.assign(data, data + len);
  echoed_ = false;
}

bool EchoFilter::Expect(size_t replyLen) {
  matching_ = false;
  ambiguous_ = false;
  if (pending_.empty()) return false;
  switch (CurrentEchoMode()) {
    case EchoMode::Off:
      pending_.clear();
      return false;
    case EchoMode::On:
      break;
    case EchoMode::Auto:
      if (!DeviceEchoes(device_) && replyLen == pending_.size()) {
        ambiguous_ = true;
        return false;
      }
      break;
  }
  matching_ = true;
  return true;
}

// The bytes held so far against the echo: false once they are told apart
// (a whole echo dropped, or a byte that is not the echo's).
bool EchoFilter::Compare() {
  const size_t n = Held();
  if (std::memcmp(held_.data() + heldStart_, pending_.data(), n) != 0) {
    matching_ = false;
    return false;
  }
  if (n < pending_.size()) return true;
  matching_ = false;
  Dropped(n);
  return false;
}

void EchoFilter::Dropped(size_t n) {
  heldStart_ += n;
  if (heldStart_ == held_.size()) {
    held_.clear();
    heldStart_ = 0;
  }
  echoed_ = true;
  if (CurrentEchoMode() == EchoMode::Auto) Learn(device_);
}

size_t EchoFilter::TakeHeld(uint8_t* out, size_t len) {
  const size_t n = std::min(len, Held());
  if (n == 0) return 0;
  std::memcpy(out, held_.data() + heldStart_, n);
  heldStart_ += n;
  if (heldStart_ == held_.size()) {
    held_.clear();
    heldStart_ = 0;
  }
  return n;
}

void EchoFilter::Clear() {
  held_.clear();
  heldStart_ = 0;
  pending_.clear();
  matching_ = false;
  ambiguous_ = false;
}
