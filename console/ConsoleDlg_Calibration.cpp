// Auto-calibration: the controller's voltage auto-calibration, and the
// resistivity auto-calibration with its confirmation and countdown dialogs.
#include "ConsoleDlg.h"

void CConsoleDlg::OnAutoCalibrateVoltage() {}

void CConsoleDlg::OnAutoResistivityOff() {}

void CConsoleDlg::OnAutoResistivityOn() {}
