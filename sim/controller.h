// The simulated leak-detection controller: its registers, its alarm log and
// its behaviour as a Modbus RTU slave, apart from any transport. Handle()
// takes one complete request frame and returns the reply frame (or nothing).
// Thread-safe: a test may change the scenario while a server thread serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_types.h"

namespace sim {

class DeviceModel;

class Controller {
 public:
  explicit Controller(const ControllerOptions& options = {});
  ~Controller();
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // One complete request in, the reply out. An empty reply means silence:
  // broadcast (station 0), another station, or a frame with a bad CRC.
  // Address and baud changes written to 0x200D take effect after the reply
  // is produced (the caller sends it at the old settings).
  std::vector<uint8_t> Handle(const uint8_t* request, size_t len);
  // The reply this controller would give were it the addressed station, for
  // tests that need an answer at every address: at its own address exactly
  // Handle(); at another (1..255) a read is answered from this controller's
  // registers and a write is acknowledged but not carried out. Broadcast and
  // bad frames get silence, as with Handle().
  std::vector<uint8_t> AnswerAsAnyStation(const uint8_t* request, size_t len);

  uint8_t Address() const;
  int Baud() const;

  // Scenario changes; each onset of an alarm appends a log entry. For a
  // broken cable the position is where it broke (0 when unknown).
  void SetScenario(Scenario scenario, double leakPositionM = 0);
  Scenario CurrentScenario() const;
  // The alarm log, up to kMaxLogEntries (the oldest dropped beyond that).
  // FillLog replaces it with a plausible history of `entries` alarms, oldest
  // first, some hours apart, types 1 and 2 (0x2003 then reads `entries`);
  // while an alarm is on, the newest of them is its onset, stamped now.
  // AppendLogEntry stores any entry as the newest, whatever its type (3 or
  // more included), so a test can give the log exactly the entries it needs.
  // Either counts its entries in 0x102C, the entries logged since power-up.
  void FillLog(size_t entries);
  void AppendLogEntry(const LogEntry& entry);
  size_t LogCount() const;
  std::vector<LogEntry> Log() const;

  // Direct register access for tests (the value as a read would return it).
  // Setting a value the device derives itself (clock, channel values, alarm
  // state, counts, mode state) pins it there; a clock write over the line or
  // a scenario change releases the registers they concern.
  uint16_t Register(uint16_t reg) const;
  void SetRegister(uint16_t reg, uint16_t value);
  float FloatRegister(uint16_t reg) const;
  void SetFloatRegister(uint16_t reg, float value);

  // The 5-byte exception reply: address, function | 0x80, code, check bytes.
  static std::vector<uint8_t> ExceptionReply(uint8_t address, uint8_t function,
                                             uint8_t code);

 private:
  std::vector<uint8_t> Serve(const uint8_t* request, size_t len, bool anyStation);

  mutable std::mutex mutex_;
  std::unique_ptr<DeviceModel> model_;
};

}  // namespace sim
