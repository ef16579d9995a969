#include "device_model.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "frame_codec.h"
#include "register_table.h"
#include "registers.h"

namespace sim {
namespace {

struct FloatDefault {
  uint16_t reg;
  float value;
};

// Power-up values: a 100 m cable of 3.5 ohm/m, an uncalibrated front end.
constexpr FloatDefault kFloatDefaults[] = {
    {REG_A0_CAL_VOLTAGE_1, 50.0f},  {REG_A0_CAL_VOLTAGE_2, 500.0f},
    {REG_A1_CAL_VOLTAGE_1, 10.0f},  {REG_A1_CAL_VOLTAGE_2, 100.0f},
    {REG_A2_CAL_VOLTAGE_1, 5.0f},   {REG_A2_CAL_VOLTAGE_2, 12.0f},
    {REG_A1_COEFF_4, 1.0f},         {REG_A1_COEFF_3, 1.0f},
    {REG_A1_COEFF_2, 1.0f},         {REG_A0_COEFF, 1.0f},
    {REG_A1_COEFF_1, 1.0f},         {REG_A2_COEFF, 1.0f},
    {REG_A0_RESISTANCE, 1000.0f},   {REG_SOURCE_VOLTAGE_1, 100.0f},
    {REG_SOURCE_VOLTAGE_2, 10.0f},  {REG_LINE_RESISTANCE, 350.0f},
    {REG_RESISTIVITY, 35.0f},
};
constexpr uint16_t kDefaultLineLength = 10000;  // hundredths of a metre

constexpr uint16_t kReserved = REG_LEAK_POSITION + 1;

uint16_t Saturate16(size_t n) { return static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF)); }

uint16_t PositionHundredths(double metres) {
  if (!(metres > 0)) return 0;  // negative or NaN: the cable's start
  return static_cast<uint16_t>(std::min<int32_t>(ToHundredths(metres), 0xFFFF));
}

uint16_t AlarmType(Scenario s) {
  return s == Scenario::Leak ? 1 : s == Scenario::Broken ? 2 : 0;
}

}  // namespace

DeviceModel::DeviceModel(const ControllerOptions& options)
    : address_(options.address), baud_(options.baud), log_(options.logCapacity) {
  for (const FloatDefault& d : kFloatDefaults) PutFloat(d.reg, d.value);
  regs_[REG_LINE_LENGTH] = kDefaultLineLength;
  regs_[REG_STATION_ADDRESS] = options.address;
  regs_[REG_BAUD_RATE] = static_cast<uint16_t>(static_cast<uint32_t>(options.baud) >> 16);
  regs_[REG_BAUD_RATE + 1] = static_cast<uint16_t>(options.baud & 0xFFFF);
  SetScenario(options.scenario, options.leakPositionM);  // an alarm logs its onset
  if (options.prefillLog > 0) FillLog(static_cast<size_t>(options.prefillLog));
  Refresh();
}

float DeviceModel::GetFloat(uint16_t reg) const {
  uint8_t b[4];
  PutU16(b, regs_[reg]);
  PutU16(b + 2, regs_[static_cast<uint16_t>(reg + 1)]);
  return ::GetFloat(b);
}

void DeviceModel::PutFloat(uint16_t reg, float value) {
  uint8_t b[4];
  ::PutFloat(b, value);
  regs_[reg] = GetU16(b);
  regs_[static_cast<uint16_t>(reg + 1)] = GetU16(b + 2);
}

void DeviceModel::Derive(uint16_t reg, uint16_t value) {
  if (!pinned_[reg]) regs_[reg] = value;
}

void DeviceModel::DeriveFloat(uint16_t reg, float value) {
  uint8_t b[4];
  ::PutFloat(b, value);
  Derive(reg, GetU16(b));
  Derive(static_cast<uint16_t>(reg + 1), GetU16(b + 2));
}

CableState DeviceModel::Cable() const {
  return {scenario_, positionHundredths_ / 100.0, regs_[REG_LINE_LENGTH] / 100.0};
}

void DeviceModel::Refresh() {
  uint8_t clock[8];
  clock_.Encode(clock);
  for (uint16_t i = 0; i < 4; ++i) {
    Derive(REG_CLOCK + i, GetU16(clock + 2 * i));
    Derive(REG_CLOCK_2 + i, GetU16(clock + 2 * i));
  }
  const uint16_t mode = regs_[REG_WORK_MODE];
  for (int channel = 0; channel < AnalogFrontEnd::kChannels; ++channel) {
    const int path = AnalogFrontEnd::PathOf(channel, regs_[REG_A1_RANGE]);
    const uint16_t counts = frontEnd_.Sample(path, Cable());
    const float coefficient = GetFloat(AnalogFrontEnd::CoefficientRegister(path));
    const double value =
        mode == 2 ? counts : AnalogFrontEnd::ToVolts(path, counts, coefficient);
    DeriveFloat(static_cast<uint16_t>(REG_A0_VOLTAGE + 2 * channel),
                static_cast<float>(value));
  }
  Derive(REG_ALARM_STATUS, AlarmType(scenario_));
  Derive(REG_LEAK_POSITION, scenario_ == Scenario::NoAlarm ? 0 : positionHundredths_);
  Derive(kReserved, 0);
  Derive(REG_LOG_COUNT, Saturate16(log_.Count()));
  Derive(REG_LOG_COUNT_2, Saturate16(alarmsSeen_));
  Derive(REG_MODE_STATE, mode == 0 ? 0 : 2);
  Derive(REG_VOLTAGE_AUTOCAL, 0);  // calibration completes within the write
}

uint8_t DeviceModel::Write(uint16_t first, const uint16_t* values, size_t count) {
  constexpr uint8_t kIllegalAddress = 2, kIllegalValue = 3;
  if (count == 0 || first + count > 0x10000) return kIllegalAddress;
  const RegisterField* touched[0x80];
  size_t fields = 0;
  for (size_t i = 0; i < count; ++i) {
    const RegisterField* f = FindField(static_cast<uint16_t>(first + i));
    if (f == nullptr || f->rule == WriteRule::ReadOnly) return kIllegalAddress;
    if (fields == 0 || touched[fields - 1] != f) {
      if (fields == std::size(touched)) return kIllegalValue;
      touched[fields++] = f;
    }
  }
  Refresh();  // a partial clock write keeps the running values of the rest
  for (size_t i = 0; i < fields; ++i) {
    if (!Accepts(*touched[i], first, values, count)) return kIllegalValue;
  }
  std::copy(values, values + count, regs_.begin() + first);
  for (size_t i = 0; i < fields; ++i) Apply(*touched[i]);
  return 0;
}

bool DeviceModel::Accepts(const RegisterField& field, uint16_t first,
                          const uint16_t* values, size_t count) const {
  // The field as it would read after the write.
  uint16_t staged[4] = {};
  for (uint16_t i = 0; i < field.width && i < 4; ++i) {
    const size_t reg = field.first + i;
    staged[i] = reg >= first && reg < first + count ? values[reg - first] : regs_[reg];
  }
  switch (field.rule) {
    case WriteRule::Range:
      return staged[0] >= field.min && staged[0] <= field.max;
    case WriteRule::Baud:
      return IsDeviceBaud(static_cast<uint32_t>(staged[0]) << 16 | staged[1]);
    case WriteRule::Clock: {
      uint8_t bytes[8];
      for (int i = 0; i < 4; ++i) PutU16(bytes + 2 * i, staged[i]);
      return DeviceClock::IsValid(bytes);
    }
    case WriteRule::Any:
      return true;
    case WriteRule::ReadOnly:
      break;
  }
  return false;
}

void DeviceModel::ClockBytes(uint16_t first, uint8_t out[8]) const {
  for (uint16_t i = 0; i < 4; ++i) PutU16(out + 2 * i, regs_[first + i]);
}

void DeviceModel::Apply(const RegisterField& field) {
  switch (field.first) {
    case REG_VOLTAGE_AUTOCAL:
      if (regs_[REG_VOLTAGE_AUTOCAL] == 1) CalibrateVoltages();
      break;
    case REG_LOG_COUNT:
      log_.Clear();
      break;
    case REG_CLOCK:
    case REG_CLOCK_2: {
      uint8_t bytes[8];
      ClockBytes(field.first, bytes);
      clock_.SetFromBcd(bytes);
      for (uint16_t i = 0; i < 4; ++i) {
        pinned_.reset(REG_CLOCK + i);
        pinned_.reset(REG_CLOCK_2 + i);
      }
      break;
    }
    case REG_RESISTIVITY_AUTOCAL:
      if (regs_[REG_RESISTIVITY_AUTOCAL] == 1) {
        resistivityCalibrating_ = true;
      } else if (resistivityCalibrating_) {
        CalibrateResistivity();
        resistivityCalibrating_ = false;
      }
      break;
    default:
      break;
  }
}

void DeviceModel::CalibrateVoltages() {
  const float source1 = GetFloat(REG_SOURCE_VOLTAGE_1);
  const float source2 = GetFloat(REG_SOURCE_VOLTAGE_2);
  for (int path = 0; path < AnalogFrontEnd::kPaths; ++path) {
    if (auto c = AnalogFrontEnd::Calibrate(path, source1, source2)) {
      PutFloat(AnalogFrontEnd::CoefficientRegister(path), *c);
    }
  }
}

void DeviceModel::CalibrateResistivity() {
  // mOhm/cm from the loop resistance (ohm) over the entered length (m).
  const double lengthM = regs_[REG_LINE_LENGTH] / 100.0;
  const double ohms = GetFloat(REG_LINE_RESISTANCE);
  if (lengthM <= 0 || !std::isfinite(ohms)) return;  // nothing to divide by
  PutFloat(REG_RESISTIVITY, static_cast<float>(ohms * 1000.0 / (lengthM * 100.0)));
}

void DeviceModel::ApplyLineSettings() {
  const uint16_t address = regs_[REG_STATION_ADDRESS];
  const uint32_t baud = static_cast<uint32_t>(regs_[REG_BAUD_RATE]) << 16 |
                        regs_[REG_BAUD_RATE + 1];
  if (address >= 1 && address <= 255) address_ = static_cast<uint8_t>(address);
  if (IsDeviceBaud(baud)) baud_ = static_cast<int>(baud);
}

void DeviceModel::RecordAlarm(const ClockFields& when, uint16_t type,
                              uint16_t lengthHundredths) {
  uint8_t clock[8] = {};  // all zero for a time past the year 9999
  EncodeClock(when, clock);
  LogEntry e{};
  std::copy(clock, clock + 6, e.clock);
  e.type = type;
  e.lengthHundredths = lengthHundredths;
  AppendLogEntry(e);
}

void DeviceModel::AppendLogEntry(const LogEntry& entry) {
  log_.Append(entry);
  ++alarmsSeen_;
}

void DeviceModel::SetScenario(Scenario scenario, double positionM) {
  const uint16_t position = PositionHundredths(positionM);
  const bool onset = scenario != Scenario::NoAlarm &&
                     (scenario != scenario_ || position != positionHundredths_);
  scenario_ = scenario;
  positionHundredths_ = position;
  pinned_.reset(REG_ALARM_STATUS);
  pinned_.reset(REG_LEAK_POSITION);
  if (onset) RecordAlarm(clock_.Now(), AlarmType(scenario), position);
}

void DeviceModel::FillLog(size_t entries) {
  // A plausible history: alarms some hours apart, mostly leaks, ending with
  // the alarm that is on now, if one is.
  log_.Clear();
  entries = std::min(entries, kMaxLogEntries);
  const bool alarm = scenario_ != Scenario::NoAlarm;
  const size_t history = alarm && entries > 0 ? entries - 1 : entries;
  const uint16_t length = std::max<uint16_t>(regs_[REG_LINE_LENGTH], 1);
  for (size_t i = 0; i < history; ++i) {
    const int64_t ago = static_cast<int64_t>(history - i) * 97 * 60;
    const uint16_t type = i % 3 == 2 ? 2 : 1;
    const auto at = static_cast<uint16_t>((1234u + 5171u * i) % length);
    RecordAlarm(clock_.At(-ago), type, at);
  }
  if (history < entries) RecordAlarm(clock_.Now(), AlarmType(scenario_), positionHundredths_);
}

void DeviceModel::Pin(uint16_t reg, uint16_t value) {
  regs_[reg] = value;
  pinned_.set(reg);
  if (reg >= REG_STATION_ADDRESS && reg <= REG_BAUD_RATE + 1) ApplyLineSettings();
}

void DeviceModel::PinFloat(uint16_t reg, float value) {
  uint8_t b[4];
  ::PutFloat(b, value);
  Pin(reg, GetU16(b));
  Pin(static_cast<uint16_t>(reg + 1), GetU16(b + 2));
}

}  // namespace sim
