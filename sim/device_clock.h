// The controller's real-time clock: the host's local time plus the offset
// the last clock write set. Both clock register copies read this one clock.
#pragma once

#include <cstdint>

#include "frame_codec.h"

namespace sim {

class DeviceClock {
 public:
  ClockFields Now() const { return At(0); }
  // The clock's reading `deltaSeconds` from now (negative: in the past).
  ClockFields At(int64_t deltaSeconds) const;
  // The eight BCD bytes of the register layout (reserved byte 0).
  void Encode(uint8_t out[8]) const;
  // Sets the clock from eight BCD bytes; false (clock unchanged) when they
  // are not a valid date and time of 2000..2099. The reserved byte is ignored.
  bool SetFromBcd(const uint8_t in[8]);
  static bool IsValid(const uint8_t in[8]);

 private:
  int64_t offsetSeconds_ = 0;
};

}  // namespace sim
