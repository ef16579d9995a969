// The enabled state of controls in each situation, written out control by
// control from the window's documented tables ('E' enabled, 'D' disabled),
// so that the tests do not take them from the code under test.
#pragma once

#include <map>

#include <gtest/gtest.h>

#include "window/ConsoleDlg.h"

struct ExpectedStates {
  int id;
  const char* states;  // one letter per column
};

// Monitoring. Columns: running, stopped in measurement mode, stopped in
// factory mode.
inline constexpr ExpectedStates kExpectedMonitoring[] = {
    // "读取" of the calibration voltages, the A1 range and the current
    {1015, "DDE"}, {1018, "DDE"}, {1021, "DDE"}, {1024, "DDE"},
    {1027, "DDE"}, {1030, "DDE"}, {1033, "DDE"}, {1036, "DDE"},
    // "设置" of the same rows
    {1016, "DDE"}, {1019, "DDE"}, {1022, "DDE"}, {1025, "DDE"},
    {1028, "DDE"}, {1031, "DDE"}, {1034, "DDE"}, {1037, "DDE"},
    // coefficient reads, A0 resistance set
    {1082, "DDE"}, {1081, "DDE"}, {1083, "DDE"}, {1047, "DDE"},
    // cable rows
    {1040, "DEE"}, {1043, "DEE"}, {1046, "DEE"}, {1041, "DEE"},
    {1044, "DEE"}, {1049, "DEE"}, {1050, "DEE"},
    // clock, calibration source, log
    {1093, "DEE"}, {1079, "DEE"}, {1080, "DEE"},
    {1095, "DEE"}, {1097, "DEE"}, {1106, "DEE"},
    {1035, "DEE"}, {1053, "DEE"}, {1054, "DEE"},
    // search, working mode, its hidden read, "修改"
    {1009, "DEE"}, {1012, "DEE"}, {1070, "DEE"}, {1086, "DEE"},
    // the six radios; the display-mode pair writes the working mode, so
    // only factory mode has it
    {1089, "DEE"}, {1090, "DEE"}, {1091, "DEE"}, {1092, "DEE"},
    {1109, "DDE"}, {1110, "DDE"},
};
enum { kRunning, kStoppedMeasurement, kStoppedFactory };

// A confirmed working-mode change. Columns: measurement, factory.
inline constexpr ExpectedStates kExpectedWorkMode[] = {
    {1015, "DE"}, {1018, "DE"}, {1021, "DE"}, {1024, "DE"},
    {1027, "DE"}, {1030, "DE"}, {1033, "DE"}, {1036, "DE"},
    {1016, "DE"}, {1019, "DE"}, {1022, "DE"}, {1025, "DE"},
    {1028, "DE"}, {1031, "DE"}, {1034, "DE"}, {1037, "DE"},
    {1082, "DE"}, {1081, "DE"}, {1083, "DE"},
    {1047, "DE"},
    {1109, "DE"}, {1110, "DE"},
    {1040, "EE"}, {1043, "EE"}, {1046, "EE"}, {1041, "EE"},
    {1044, "EE"}, {1049, "EE"}, {1050, "EE"},
    {1035, "EE"}, {1079, "EE"}, {1080, "EE"}, {1086, "EE"},
};
enum { kMeasurementMode, kFactoryMode };

// Every control with an id: enabled or not.
std::map<int, bool> EnabledStates(const CConsoleDlg& dlg);

// Each control of `table` in the state of `column`, and every other control
// as it was in `before`.
template <size_t N>
void ExpectStates(const CConsoleDlg& dlg, const ExpectedStates (&table)[N], int column,
                  const std::map<int, bool>& before) {
  std::map<int, bool> expected = before;
  for (const ExpectedStates& row : table) expected[row.id] = row.states[column] == 'E';
  const std::map<int, bool> now = EnabledStates(dlg);
  for (const auto& [id, enabled] : expected) {
    const auto it = now.find(id);
    ASSERT_NE(it, now.end()) << id;
    EXPECT_EQ(it->second, enabled) << "control " << id << " in column " << column;
  }
}
