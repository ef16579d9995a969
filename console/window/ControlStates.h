// Which controls a situation of the window enables and disables. Each table
// lists groups of controls with one letter per column: 'E' enabled, 'D'
// disabled, '-' left as it is. One routine applies a column of any table.
#pragma once

#include <cstddef>
#include <initializer_list>

class CDialog;

struct ControlStateRow {
  std::initializer_list<int> ids;
  const char* states;  // one letter per column of the table
};

struct ControlStateTable {
  const ControlStateRow* rows;
  size_t count;
};

// Sets every control of every row to the state of `column`.
void ApplyControlStates(CDialog& dlg, const ControlStateTable& table, int column);

// Monitoring: while it runs, and after "停止读取" by the working mode then
// selected.
enum MonitoringColumn { kMonitoringRunning, kMonitoringStopMeasurement, kMonitoringStopFactory };
extern const ControlStateTable kMonitoringStates;

// A confirmed change of the working mode (list 1012).
enum WorkModeColumn { kWorkModeMeasurement, kWorkModeFactory };
extern const ControlStateTable kWorkModeStates;

// The controller's mode state as the hidden "读取" of the working-mode group
// reads it: 0, 1, and 2 or 3.
enum ModeStateColumn { kModeState0, kModeState1, kModeState2Or3 };
extern const ControlStateTable kModeStateEnables;

// The parameter search: started, and ended (stopped, found or nothing found)
// in measurement or factory mode.
enum SearchColumn { kSearchStarted, kSearchEndedMeasurement, kSearchEndedFactory };
extern const ControlStateTable kSearchStates;
