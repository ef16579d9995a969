#include "window/ControlStates.h"

#include <iterator>

#include "dialog/Dialog.h"
#include "resource.h"

namespace {

template <size_t N>
constexpr ControlStateTable TableOf(const ControlStateRow (&rows)[N]) {
  return {rows, N};
}

// clang-format off

// Columns: running, stopped in measurement mode, stopped in factory mode.
// While monitoring runs every control that would start a transaction of its
// own is off, so the poll is the only user of the open port.
const ControlStateRow kMonitoringRows[] = {
  // "读取" of the calibration voltages, the A1 range and the current
  {{IDC_READ_A0_CAL_VOLTAGE1, IDC_READ_A0_CAL_VOLTAGE2, IDC_READ_A1_RANGE,
    IDC_READ_A1_CAL_VOLTAGE1, IDC_READ_A1_CAL_VOLTAGE2, IDC_READ_A2_CAL_VOLTAGE1,
    IDC_READ_A2_CAL_VOLTAGE2, IDC_READ_CURRENT},                                   "DDE"},
  // "设置" of the same rows
  {{IDC_SET_A0_CAL_VOLTAGE1, IDC_SET_A0_CAL_VOLTAGE2, IDC_SET_A1_RANGE,
    IDC_SET_A1_CAL_VOLTAGE1, IDC_SET_A1_CAL_VOLTAGE2, IDC_SET_A2_CAL_VOLTAGE1,
    IDC_SET_A2_CAL_VOLTAGE2, IDC_SET_CURRENT},                                     "DDE"},
  {{IDC_READ_A0_COEFFICIENT, IDC_READ_A1_COEFFICIENTS, IDC_READ_A2_COEFFICIENT}, "DDE"},
  {{IDC_SET_A0_RESISTANCE},                                                        "DDE"},
  {{IDC_READ_LINE_LENGTH, IDC_READ_RESISTIVITY, IDC_READ_A0_RESISTANCE,
    IDC_SET_LINE_LENGTH, IDC_SET_RESISTIVITY,
    IDC_READ_LINE_RESISTANCE, IDC_SET_LINE_RESISTANCE},                            "DEE"},
  {{IDC_SET_SYSTEM_TIME, IDC_READ_CLOCK, IDC_WRITE_CLOCK},                         "DEE"},
  {{IDC_SET_SOURCE_VOLTAGE1, IDC_SET_SOURCE_VOLTAGE2, IDC_AUTO_CALIBRATE_VOLTAGE}, "DEE"},
  {{IDC_READ_LOG_COUNT, IDC_READ_LOG, IDC_CLEAR_LOG},                              "DEE"},
  {{IDC_SEARCH, IDC_WORK_MODE, IDC_READ_MODE_STATE, IDC_CHANGE_ADDRESS_BAUD},      "DEE"},
  {{IDC_BUZZER_OFF, IDC_BUZZER_ON, IDC_AUTORES_OFF, IDC_AUTORES_ON},              "DEE"},
  // The display-mode radios write the working-mode register (1 or 2): in
  // measurement mode they would put the controller into factory mode
  // without the access code.
  {{IDC_DISPLAY_VOLTAGE, IDC_DISPLAY_ADC},                                         "DDE"},
};

// Columns: measurement mode, factory mode. Controls not listed keep their
// state.
const ControlStateRow kWorkModeRows[] = {
  {{IDC_READ_A0_CAL_VOLTAGE1, IDC_READ_A0_CAL_VOLTAGE2, IDC_READ_A1_RANGE,
    IDC_READ_A1_CAL_VOLTAGE1, IDC_READ_A1_CAL_VOLTAGE2, IDC_READ_A2_CAL_VOLTAGE1,
    IDC_READ_A2_CAL_VOLTAGE2, IDC_READ_CURRENT},                                   "DE"},
  {{IDC_SET_A0_CAL_VOLTAGE1, IDC_SET_A0_CAL_VOLTAGE2, IDC_SET_A1_RANGE,
    IDC_SET_A1_CAL_VOLTAGE1, IDC_SET_A1_CAL_VOLTAGE2, IDC_SET_A2_CAL_VOLTAGE1,
    IDC_SET_A2_CAL_VOLTAGE2, IDC_SET_CURRENT},                                     "DE"},
  {{IDC_READ_A0_COEFFICIENT, IDC_READ_A1_COEFFICIENTS, IDC_READ_A2_COEFFICIENT}, "DE"},
  {{IDC_SET_A0_RESISTANCE},                                                        "DE"},
  {{IDC_DISPLAY_VOLTAGE, IDC_DISPLAY_ADC},                                         "DE"},
  {{IDC_READ_LINE_LENGTH, IDC_READ_RESISTIVITY, IDC_READ_A0_RESISTANCE,
    IDC_SET_LINE_LENGTH, IDC_SET_RESISTIVITY,
    IDC_READ_LINE_RESISTANCE, IDC_SET_LINE_RESISTANCE},                            "EE"},
  {{IDC_READ_LOG_COUNT, IDC_READ_CLOCK, IDC_WRITE_CLOCK, IDC_CHANGE_ADDRESS_BAUD}, "EE"},
};

// Columns: state 0, state 1, state 2 or 3.
const ControlStateRow kModeStateRows[] = {
  {{IDC_READ_A0_CAL_VOLTAGE1, IDC_SET_A0_CAL_VOLTAGE1, IDC_READ_A0_CAL_VOLTAGE2,
    IDC_SET_A0_CAL_VOLTAGE2, IDC_READ_A1_RANGE, IDC_SET_A1_RANGE, IDC_READ_A1_CAL_VOLTAGE1,
    IDC_SET_A1_CAL_VOLTAGE1, IDC_READ_A1_CAL_VOLTAGE2, IDC_SET_A1_CAL_VOLTAGE2,
    IDC_READ_A2_CAL_VOLTAGE1, IDC_SET_A2_CAL_VOLTAGE1, IDC_READ_A2_CAL_VOLTAGE2,
    IDC_SET_A2_CAL_VOLTAGE2, IDC_READ_CURRENT, IDC_SET_CURRENT},                  "DDE"},
  {{IDC_READ_A1_COEFFICIENTS, IDC_READ_A0_COEFFICIENT, IDC_READ_A2_COEFFICIENT}, "DDE"},
  {{IDC_READ_LINE_LENGTH, IDC_READ_RESISTIVITY, IDC_READ_LINE_RESISTANCE},        "EEE"},
  {{IDC_READ_A0_RESISTANCE},                                                      "EDE"},
  {{IDC_SET_LINE_LENGTH, IDC_SET_RESISTIVITY, IDC_SET_LINE_RESISTANCE},           "DEE"},
  {{IDC_SET_A0_RESISTANCE},                                                       "DDE"},
  {{IDC_READ_LOG_COUNT, IDC_READ_CLOCK, IDC_WRITE_CLOCK},                         "EEE"},
  {{IDC_CHANGE_ADDRESS_BAUD},                                                     "DDE"},
};

// Columns: search started, ended (stopped, found, or nothing found) in
// measurement mode, ended in factory mode. A search locks every control that
// starts a transaction; its end gives back what the confirmed mode allows.
const ControlStateRow kSearchRows[] = {
  {{IDC_READ_A0_CAL_VOLTAGE1, IDC_SET_A0_CAL_VOLTAGE1, IDC_READ_A0_CAL_VOLTAGE2,
    IDC_SET_A0_CAL_VOLTAGE2, IDC_READ_A1_RANGE, IDC_SET_A1_RANGE, IDC_READ_A1_CAL_VOLTAGE1,
    IDC_SET_A1_CAL_VOLTAGE1, IDC_READ_A1_CAL_VOLTAGE2, IDC_SET_A1_CAL_VOLTAGE2,
    IDC_READ_A2_CAL_VOLTAGE1, IDC_SET_A2_CAL_VOLTAGE1, IDC_READ_A2_CAL_VOLTAGE2,
    IDC_SET_A2_CAL_VOLTAGE2, IDC_READ_CURRENT, IDC_SET_CURRENT},                  "DDE"},
  {{IDC_READ_A0_COEFFICIENT, IDC_READ_A1_COEFFICIENTS, IDC_READ_A2_COEFFICIENT}, "DDE"},
  {{IDC_SET_A0_RESISTANCE},                                                       "DDE"},
  {{IDC_DISPLAY_VOLTAGE, IDC_DISPLAY_ADC},                                        "DDE"},
  {{IDC_READ_LINE_LENGTH, IDC_READ_RESISTIVITY, IDC_READ_A0_RESISTANCE,
    IDC_SET_LINE_LENGTH, IDC_SET_RESISTIVITY,
    IDC_READ_LINE_RESISTANCE, IDC_SET_LINE_RESISTANCE},                           "DEE"},
  {{IDC_ADDRESS, IDC_START_DETECTION, IDC_WORK_MODE, IDC_CHANGE_ADDRESS_BAUD,
    IDC_SET_SYSTEM_TIME, IDC_SET_SOURCE_VOLTAGE1, IDC_SET_SOURCE_VOLTAGE2,
    IDC_AUTO_CALIBRATE_VOLTAGE, IDC_READ_LOG_COUNT, IDC_READ_LOG, IDC_CLEAR_LOG},  "DEE"},
  {{IDC_BUZZER_OFF, IDC_BUZZER_ON, IDC_AUTORES_OFF, IDC_AUTORES_ON},              "DEE"},
  {{IDC_SEARCH, IDC_READ_MODE_STATE, IDC_READ_CLOCK, IDC_WRITE_CLOCK},            "-EE"},
};

// clang-format on

}  // namespace

const ControlStateTable kMonitoringStates = TableOf(kMonitoringRows);
const ControlStateTable kWorkModeStates = TableOf(kWorkModeRows);
const ControlStateTable kModeStateEnables = TableOf(kModeStateRows);
const ControlStateTable kSearchStates = TableOf(kSearchRows);

void ApplyControlStates(CDialog& dlg, const ControlStateTable& table, int column) {
  for (const ControlStateRow* row = table.rows; row != table.rows + table.count; ++row) {
    const char state = row->states[column];
    if (state != 'E' && state != 'D') continue;
    for (int id : row->ids) dlg.EnableDlgItem(id, state == 'E');
  }
}
