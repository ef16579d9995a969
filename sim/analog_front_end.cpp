#include "analog_front_end.h"

#include <algorithm>
#include <cmath>

#include "registers.h"

namespace sim {
namespace {

constexpr double kVoltsPerCount = 2.5 / 65536;  // converter reference / steps
constexpr double kFullScale = 65535;

struct Path {
  uint16_t coefficientRegister;
  int channel;
  double gain;       // amplifier (or divider) gain nominally
  double gainError;  // what calibration finds
  bool fromSource2;  // calibrated against source 2 (V) rather than 1 (mV)
};

constexpr Path kPathTable[AnalogFrontEnd::kPaths] = {
    {REG_A0_COEFF, 0, 1.0, +0.012, false},
    {REG_A1_COEFF_1, 1, 1.0, -0.007, false},
    {REG_A1_COEFF_2, 1, 2.0, +0.004, false},
    {REG_A1_COEFF_3, 1, 4.0, -0.010, false},
    {REG_A1_COEFF_4, 1, 8.0, +0.009, false},
    {REG_A2_COEFF, 2, 1.0 / 11, -0.005, true},
};

// What each channel's input carries for the cable's state, in volts.
double InputVolts(int channel, const CableState& cable) {
  switch (channel) {
    case 0: {
      if (cable.scenario == Scenario::Broken) return 2.40;  // open loop
      if (cable.scenario == Scenario::NoAlarm) return 0.050;
      const double span = std::max(cable.lengthM, cable.positionM);
      const double ratio = span > 0 ? std::clamp(cable.positionM / span, 0.0, 1.0) : 0;
      return 0.2 + 2.0 * ratio;
    }
    case 1:
      return cable.scenario == Scenario::Leak ? 0.120 : 0.004;
    default:
      return 12.0;
  }
}

double CountsFor(const Path& p, double volts) {
  return volts * p.gain * (1 + p.gainError) / kVoltsPerCount;
}

}  // namespace

int AnalogFrontEnd::PathOf(int channel, int a1Range) {
  if (channel == 0) return 0;
  if (channel == 2) return kPaths - 1;
  return 1 + std::clamp(a1Range, 0, 3);
}

uint16_t AnalogFrontEnd::CoefficientRegister(int path) {
  return kPathTable[path].coefficientRegister;
}

uint16_t AnalogFrontEnd::Sample(int path, const CableState& cable) {
  const Path& p = kPathTable[path];
  std::uniform_real_distribution<double> relative(-0.003, 0.003);
  std::uniform_int_distribution<int> counts(-2, 2);
  const double ideal = CountsFor(p, InputVolts(p.channel, cable));
  const double noisy = ideal * (1 + relative(noise_)) + counts(noise_);
  return static_cast<uint16_t>(std::clamp(std::round(noisy), 0.0, kFullScale));
}

double AnalogFrontEnd::ToVolts(int path, uint16_t counts, float coefficient) {
  return counts * kVoltsPerCount / kPathTable[path].gain * coefficient;
}

std::optional<float> AnalogFrontEnd::Calibrate(int path, float source1mV,
                                               float source2V) {
  const Path& p = kPathTable[path];
  const double source = p.fromSource2 ? source2V : source1mV / 1000.0;
  const double raw = std::round(CountsFor(p, source));
  if (!(raw >= 1 && raw <= kFullScale)) return std::nullopt;
  return static_cast<float>(source / (raw * kVoltsPerCount / p.gain));
}

}  // namespace sim
