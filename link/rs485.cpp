#include "rs485.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

#include "line.h"

namespace {

struct Rs485State {
  std::mutex mu;
  std::set<std::string> wanted;
  std::map<std::string, std::string> refusals;
  uint32_t beforeMs = 0;
  uint32_t afterMs = 0;
  Rs485Ioctl io = nullptr;
};

Rs485State& State() {
  static Rs485State state;
  return state;
}

int CallIoctl(int fd, unsigned long request, serial_rs485* conf) {
  Rs485Ioctl io = nullptr;
  {
    std::lock_guard<std::mutex> lock(State().mu);
    io = State().io;
  }
  return io ? io(fd, request, conf) : ioctl(fd, request, conf);
}

void Record(const std::string& device, const std::string& refusal) {
  std::lock_guard<std::mutex> lock(State().mu);
  if (refusal.empty()) {
    State().refusals.erase(device);
  } else {
    State().refusals[device] = refusal;
  }
}

// The refusal, told to the trace once per device and kept for the console.
bool Refused(const std::string& device, const char* step) {
  const std::string why = std::string(step) + ": " +
                          std::error_code(errno, std::generic_category()).message();
  Record(device, why);
  NoteLineOnce(device + " rs485", device + " refused RS-485 mode (" + why + ")");
  return false;
}

}  // namespace

void SetRs485(const std::string& device, bool on) {
  std::lock_guard<std::mutex> lock(State().mu);
  if (on) {
    State().wanted.insert(device);
  } else {
    State().wanted.erase(device);
    State().refusals.erase(device);
  }
}

bool Rs485Wanted(const std::string& device) {
  std::lock_guard<std::mutex> lock(State().mu);
  return State().wanted.count(device) != 0;
}

void SetRs485Delays(uint32_t beforeMs, uint32_t afterMs) {
  std::lock_guard<std::mutex> lock(State().mu);
  State().beforeMs = beforeMs;
  State().afterMs = afterMs;
}

std::string Rs485Refusal(const std::string& device) {
  std::lock_guard<std::mutex> lock(State().mu);
  const auto it = State().refusals.find(device);
  return it == State().refusals.end() ? std::string() : it->second;
}

void SetRs485Ioctl(Rs485Ioctl io) {
  std::lock_guard<std::mutex> lock(State().mu);
  State().io = io;
}

bool EnableRs485(int fd, const std::string& device, serial_rs485& previous) {
  previous = {};
  if (CallIoctl(fd, TIOCGRS485, &previous) != 0) return Refused(device, "TIOCGRS485");
  serial_rs485 wanted = previous;
  wanted.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  wanted.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX);
  {
    std::lock_guard<std::mutex> lock(State().mu);
    wanted.delay_rts_before_send = State().beforeMs;
    wanted.delay_rts_after_send = State().afterMs;
  }
  if (CallIoctl(fd, TIOCSRS485, &wanted) != 0) return Refused(device, "TIOCSRS485");
  Record(device, "");
  return true;
}

void RestoreRs485(int fd, const serial_rs485& previous) {
  serial_rs485 conf = previous;
  CallIoctl(fd, TIOCSRS485, &conf);
}
