// Plain types shared by the simulated controller's parts and its users.
#pragma once

#include <cstddef>
#include <cstdint>

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
  double leakPositionM = 0;   // with Scenario::Leak (and where a cable broke)
  int prefillLog = 0;         // entries in the log at power-up
  size_t logCapacity = 2000;  // oldest entries are dropped beyond this
};

}  // namespace sim
