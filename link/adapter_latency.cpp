#include "adapter_latency.h"

#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

constexpr uint32_t kLongestLatencyMs = 255;  // the timer is one byte

}  // namespace

uint32_t AdapterLatencyMs(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                         &std::free);
  if (!real) return 0;
  const std::string device(real.get());
  const size_t slash = device.rfind('/');
  const std::string name = slash == std::string::npos ? device : device.substr(slash + 1);
  if (name.empty()) return 0;
  std::ifstream timer("/sys/class/tty/" + name + "/device/latency_timer");
  long ms = 0;
  if (!(timer >> ms) || ms < 0) return 0;
  return ms > kLongestLatencyMs ? kLongestLatencyMs : static_cast<uint32_t>(ms);
}
