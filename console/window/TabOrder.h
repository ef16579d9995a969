// The main window's Tab order as the operator reads the window: the top row
// (port, rate, address, working mode), the search and the address change
// beside it, the cable rows, the status panel with the buzzer, the clock,
// the alarm log, then the calibration panel top to bottom. The template's
// own order (by control id) jumps across the window.
#pragma once

#include <vector>

class CDialog;

// The ids in that order, hidden controls in their rows' places.
const std::vector<int>& VisualTabOrder();
// Chains the controls of `dlg` in that order.
void SetVisualTabOrder(CDialog& dlg);
