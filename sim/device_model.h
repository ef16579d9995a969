// The simulated controller's state and behaviour behind its registers:
// stored settings, values it derives on every read (clock, channels, alarm
// state, counts), the alarm log, and what a write sets in motion. It knows
// nothing of frames; Controller speaks the protocol and guards it with a lock.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

#include "alarm_log.h"
#include "analog_front_end.h"
#include "device_clock.h"
#include "device_types.h"

namespace sim {

struct RegisterField;

class DeviceModel {
 public:
  explicit DeviceModel(const ControllerOptions& options);

  // Brings the derived registers up to date; call before reading.
  void Refresh();
  uint16_t Get(uint16_t reg) const { return regs_[reg]; }
  float GetFloat(uint16_t reg) const;

  // A master's write of `count` registers from `first`: all or nothing.
  // Returns 0, or the exception code: 2 for a register that does not exist
  // or is read-only, 3 for a value the register does not take.
  uint8_t Write(uint16_t first, const uint16_t* values, size_t count);

  // The station address and baud rate in force. Writes to 0x200D..0x200F
  // change the registers at once but the line only through this, which the
  // protocol calls once its reply is on its way.
  uint8_t Address() const { return address_; }
  int Baud() const { return baud_; }
  void ApplyLineSettings();

  void SetScenario(Scenario scenario, double positionM);
  Scenario CurrentScenario() const { return scenario_; }
  // Replaces the log with a plausible history of `entries` alarms.
  void FillLog(size_t entries);
  // Stores `entry` as the newest, whatever its fields hold.
  void AppendLogEntry(const LogEntry& entry);
  const AlarmLog& Log() const { return log_; }

  // Sets a register as a test wants it; a derived register then keeps that
  // value instead of following the device (the clock until a clock write).
  void Pin(uint16_t reg, uint16_t value);
  void PinFloat(uint16_t reg, float value);

 private:
  bool Accepts(const RegisterField& field, uint16_t first,
               const uint16_t* values, size_t count) const;
  void Apply(const RegisterField& field);
  void Derive(uint16_t reg, uint16_t value);
  void DeriveFloat(uint16_t reg, float value);
  void PutFloat(uint16_t reg, float value);
  void ClockBytes(uint16_t first, uint8_t out[8]) const;
  void RecordAlarm(const ClockFields& when, uint16_t type, uint16_t lengthHundredths);
  void CalibrateVoltages();
  void CalibrateResistivity();
  CableState Cable() const;

  std::array<uint16_t, 0x10000> regs_{};
  std::bitset<0x10000> pinned_;
  uint8_t address_;
  int baud_;
  Scenario scenario_ = Scenario::NoAlarm;
  uint16_t positionHundredths_ = 0;
  uint32_t alarmsSeen_ = 0;        // every entry logged since power-up (0x102C)
  bool resistivityCalibrating_ = false;
  DeviceClock clock_;
  AlarmLog log_;
  AnalogFrontEnd frontEnd_;
};

}  // namespace sim
