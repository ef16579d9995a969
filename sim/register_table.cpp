#include "register_table.h"

#include <algorithm>
#include <iterator>

#include "registers.h"

namespace sim {
namespace {

using R = WriteRule;

// Sorted by register number; FindField relies on it.
constexpr RegisterField kFields[] = {
    {REG_A0_CAL_VOLTAGE_1, 2, R::Any},
    {REG_A0_CAL_VOLTAGE_2, 2, R::Any},
    {REG_A1_CAL_VOLTAGE_1, 2, R::Any},
    {REG_A1_CAL_VOLTAGE_2, 2, R::Any},
    {REG_A2_CAL_VOLTAGE_1, 2, R::Any},
    {REG_A2_CAL_VOLTAGE_2, 2, R::Any},
    {REG_A1_COEFF_4, 2, R::ReadOnly},
    {REG_A1_COEFF_3, 2, R::ReadOnly},
    {REG_A1_COEFF_2, 2, R::ReadOnly},
    {REG_A0_COEFF, 2, R::ReadOnly},
    {REG_A1_COEFF_1, 2, R::ReadOnly},
    {REG_A2_COEFF, 2, R::ReadOnly},
    {REG_A0_RESISTANCE, 2, R::Any},
    {REG_VOLTAGE_AUTOCAL, 1, R::Range, 0, 1},
    {REG_SOURCE_VOLTAGE_1, 2, R::Any},
    {REG_SOURCE_VOLTAGE_2, 2, R::Any},
    {REG_LINE_RESISTANCE, 2, R::Any},
    {REG_LOG_COUNT_2, 1, R::ReadOnly},
    {REG_MODE_STATE, 1, R::ReadOnly},
    {REG_CLOCK_2, 4, R::Clock},
    {REG_A1_RANGE, 1, R::Range, 0, 3},
    {REG_WORK_MODE, 1, R::Range, 0, 2},
    {REG_A0_VOLTAGE, 2, R::ReadOnly},
    {REG_A1_VOLTAGE, 2, R::ReadOnly},
    {REG_A2_VOLTAGE, 2, R::ReadOnly},
    {REG_ALARM_STATUS, 1, R::ReadOnly},
    {REG_LEAK_POSITION, 1, R::ReadOnly},
    {REG_LEAK_POSITION + 1, 1, R::ReadOnly},  // reserved, reads 0
    {REG_LOG_COUNT, 1, R::Range, 1, 1},       // 1 clears the log
    {REG_BUZZER, 1, R::Range, 0, 1},
    {REG_CLOCK, 4, R::Clock},
    {REG_RESISTIVITY_AUTOCAL, 1, R::Range, 0, 1},
    {REG_LINE_LENGTH, 1, R::Any},
    {REG_RESISTIVITY, 2, R::Any},
    {REG_STATION_ADDRESS, 1, R::Range, 1, 255},
    {REG_BAUD_RATE, 2, R::Baud},
};

constexpr uint32_t kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400};

}  // namespace

const RegisterField* FindField(uint16_t reg) {
  const auto after = std::upper_bound(
      std::begin(kFields), std::end(kFields), reg,
      [](uint16_t r, const RegisterField& f) { return r < f.first; });
  if (after == std::begin(kFields)) return nullptr;
  const RegisterField* field = std::prev(after);
  return reg < field->first + field->width ? field : nullptr;
}

bool AllMapped(uint16_t first, size_t count) {
  for (size_t reg = first; reg < first + count; ++reg) {
    if (reg > 0xFFFF || FindField(static_cast<uint16_t>(reg)) == nullptr) return false;
  }
  return true;
}

bool IsDeviceBaud(uint32_t baud) {
  return std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds);
}

}  // namespace sim
