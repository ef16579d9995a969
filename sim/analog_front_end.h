// The controller's measuring channels: A0 across the sensing loop, A1 the
// leak current (four amplifier ranges), A2 the supply through a 1:11 divider.
// All share one 16-bit converter. Each amplifier path has a small gain error
// that the voltage auto-calibration measures against the calibration source
// and folds into a correction coefficient (1.0 when uncalibrated).
#pragma once

#include <cstdint>
#include <optional>
#include <random>

#include "device_types.h"

namespace sim {

struct CableState {
  Scenario scenario = Scenario::NoAlarm;
  double positionM = 0;
  double lengthM = 0;
};

class AnalogFrontEnd {
 public:
  static constexpr int kChannels = 3;
  static constexpr int kPaths = 6;  // A0, A1 ranges 1..4, A2

  // The amplifier path a channel is read through (A1 by its range 0..3).
  static int PathOf(int channel, int a1Range);
  // The register that holds a path's correction coefficient.
  static uint16_t CoefficientRegister(int path);

  // One noisy conversion of the channel's input, in ADC counts.
  uint16_t Sample(int path, const CableState& cable);
  // Counts back to volts at the input, through the path's coefficient.
  static double ToVolts(int path, uint16_t counts, float coefficient);
  // The coefficient measured against the source (mV for A0/A1, V for A2);
  // nothing when the source gives no usable reading (zero or over range).
  static std::optional<float> Calibrate(int path, float source1mV, float source2V);

 private:
  std::minstd_rand noise_{7420};
};

}  // namespace sim
