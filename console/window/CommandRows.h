// Commands that are rows of a table: the parameter reads and sets, and the
// radios that write their choice to the controller. Each row names its
// control and its handler; the window walks the tables as it starts and binds
// every row's control, so that a new command of a family is one new row.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class CDialog;

// A control bound by a row, and the name its handler goes by: in the trace
// when the control cannot carry the command, and for finding the row in the
// code ("OnReadLineLength").
struct CommandName {
  int id;
  const char* handler;
};

// The rows of the parameter table and of the radio table, in table order.
std::vector<CommandName> ParameterCommands();
std::vector<CommandName> RadioCommands();

// Binds a row's control to `run` as a click; a control that cannot carry it
// (no button of that id) is reported by the row's handler name.
bool BindCommandRow(CDialog& dlg, const CommandName& row, std::function<void()> run);

// The radio groups whose click writes one register (see RadioWrite).
enum class RadioSet { Buzzer, AutoResistivity, DisplayMode };

// A radio whose click writes one value to the controller. A write that does
// not happen (no port, a refused reply) puts the group back to the choice it
// had before the click; the auto-resistivity radios run the calibration
// procedure around their write.
struct RadioWrite {
  CommandName command;
  RadioSet group;
  uint16_t reg;
  uint16_t value;       // written for this radio
  const char* failure;  // the box of a refused reply
};
