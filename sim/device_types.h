// Plain types shared by the simulated controller's parts and its users.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

enum class Scenario { NoAlarm, Leak, Broken };

// One alarm-log entry, the ten bytes of its five records in field order.
struct LogEntry {
  uint8_t clock[6];  // BCD: year hi, year lo, month, day, hour, minute
  uint16_t type;     // 0 none, 1 leak, 2 broken cable (a test may store any)
  uint16_t lengthHundredths;
};

// As many entries as the 16-bit count register 0x2003 can report.
constexpr size_t kMaxLogEntries = 65535;

struct ControllerOptions {
  uint8_t address = 1;
  int baud = 9600;
  Scenario scenario = Scenario::NoAlarm;
  double leakPositionM = 0;   // with Scenario::Leak (and where a cable broke)
  int prefillLog = 0;         // entries in the log at power-up, the newest
                              // the power-up alarm's onset (0: only that)
  size_t logCapacity = kMaxLogEntries;  // oldest entries are dropped beyond this
};

}  // namespace sim
