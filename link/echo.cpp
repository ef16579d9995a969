#include "echo.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <map>

namespace {

std::atomic<EchoMode> g_mode{EchoMode::Auto};

std::mutex& LearnedMutex() {
  static std::mutex m;
  return m;
}

enum class Learned { kEchoes, kQuiet };

// What auto mode has seen of each device: an echo, or a wait that passed
// without one.
std::map<std::string, Learned>& Devices() {
  static std::map<std::string, Learned> devices;
  return devices;
}

void Learn(const std::string& device, Learned what) {
  std::lock_guard<std::mutex> lock(LearnedMutex());
  Learned& known = Devices().emplace(device, what).first->second;
  // Once seen to echo, a device stays so: a quiet wait does not undo it.
  if (known != Learned::kEchoes) known = what;
}

bool Is(const std::string& device, Learned what) {
  std::lock_guard<std::mutex> lock(LearnedMutex());
  const auto at = Devices().find(device);
  return at != Devices().end() && at->second == what;
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

bool DeviceEchoes(const std::string& device) { return Is(device, Learned::kEchoes); }

bool DeviceQuiet(const std::string& device) { return Is(device, Learned::kQuiet); }

void ForgetEcho(const std::string& device) {
  std::lock_guard<std::mutex> lock(LearnedMutex());
  Devices().erase(device);
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
  // A device whose line stayed silent through a whole wait does not echo:
  // its waits need no room for one. An echo that comes all the same is
  // still dropped, and teaches that the device echoes.
  return CurrentEchoMode() == EchoMode::On || !DeviceQuiet(device_);
}

void EchoFilter::GiveUp(bool waitedOut) {
  // Not one byte through the whole wait: an adapter that echoes would have
  // handed the request back within it, whether or not anybody answered.
  if (waitedOut && matching_ && Held() == 0 && CurrentEchoMode() == EchoMode::Auto)
    Learn(device_, Learned::kQuiet);
  matching_ = false;
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
  if (CurrentEchoMode() == EchoMode::Auto) Learn(device_, Learned::kEchoes);
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
