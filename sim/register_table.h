// The controller's register map as the device itself sees it: which register
// numbers exist, which of them a master may write, and what a written value
// must satisfy. Anything not in the table answers with "illegal address".
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

enum class WriteRule {
  ReadOnly,  // measured or kept by the device itself
  Any,       // every bit pattern is a value (floats, lengths)
  Range,     // one register, min..max inclusive
  Clock,     // four registers forming a valid BCD date and time
  Baud,      // two registers, a line speed the device supports
};

struct RegisterField {
  uint16_t first;
  uint16_t width;  // registers
  WriteRule rule;
  uint16_t min = 0;
  uint16_t max = 0;
};

// The field that holds `reg`, or null when the device has no such register.
const RegisterField* FindField(uint16_t reg);

// True when every register of first .. first+count-1 exists.
bool AllMapped(uint16_t first, size_t count);

// The line speeds the device can be set to.
bool IsDeviceBaud(uint32_t baud);

}  // namespace sim
