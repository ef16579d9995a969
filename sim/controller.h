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

namespace sim {

enum class Scenario { NoAlarm, Leak, Broken };

struct LogEntry {
  uint8_t clock[6];  // BCD: year hi, year lo, month, day, hour, minute
  uint16_t type;     // 0 none, 1 leak, 2 broken cable
  uint16_t lengthHundredths;
};

struct ControllerOptions {
  uint8_t address = 1;
  int baud = 9600;
  Scenario scenario = Scenario::NoAlarm;
  double leakPositionM = 0;   // with Scenario::Leak
  int prefillLog = 0;         // entries in the log at power-up
  size_t logCapacity = 2000;  // oldest entries are dropped beyond this
};

class Controller {
 public:
  explicit Controller(const ControllerOptions& options = {});

  // One complete request in, the reply out. An empty reply means silence:
  // broadcast (station 0), another station, or a frame with a bad CRC.
  // Address and baud changes written to 0x200D take effect after the reply
  // is produced (the caller sends it at the old settings).
  std::vector<uint8_t> Handle(const uint8_t* request, size_t len);

  uint8_t Address() const;
  int Baud() const;

  // Scenario changes; each onset of an alarm appends a log entry.
  void SetScenario(Scenario scenario, double leakPositionM = 0);
  void PrefillLog(int entries);
  size_t LogCount() const;
  std::vector<LogEntry> Log() const;

  // Direct register access for tests (the value as a read would return it).
  uint16_t Register(uint16_t reg) const;
  void SetRegister(uint16_t reg, uint16_t value);
  float FloatRegister(uint16_t reg) const;
  void SetFloatRegister(uint16_t reg, float value);

 private:
  // private model, see controller.cpp
  mutable std::mutex mutex_;
  struct Model;
  std::shared_ptr<Model> model_;
};

}  // namespace sim
