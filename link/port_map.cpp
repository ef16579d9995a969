// The "ComN" to device-path map. Guarded by a mutex: the parameter search
// looks paths up from its worker thread while the window may change them.
#include <map>
#include <mutex>
#include <string>

#include "serial_port.h"

namespace {

std::mutex& MapMutex() {
  static std::mutex m;
  return m;
}

std::map<int, std::string>& Overrides() {
  static std::map<int, std::string> map;
  return map;
}

}  // namespace

void SetPortPath(int portNumber, const std::string& path) {
  std::lock_guard<std::mutex> lock(MapMutex());
  Overrides()[portNumber] = path;
}

std::string PortPath(int portNumber) {
  std::lock_guard<std::mutex> lock(MapMutex());
  const auto it = Overrides().find(portNumber);
  if (it != Overrides().end()) return it->second;
  // Port numbers start at 1; anything else has no default device, and the
  // empty path makes the open fail cleanly.
  if (portNumber < 1) return std::string();
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

void ResetPortMap() {
  std::lock_guard<std::mutex> lock(MapMutex());
  Overrides().clear();
}

int PortNumberOf(const std::string& path) {
  std::lock_guard<std::mutex> lock(MapMutex());
  int next = kNamedPorts + 1;
  for (const auto& [number, mapped] : Overrides()) {
    if (number <= kNamedPorts) continue;
    if (mapped == path) return number;
    next = number + 1;
  }
  Overrides()[next] = path;
  return next;
}
