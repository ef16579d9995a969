// Parameter commands: the read and set buttons of the cable, calibration and
// calibration-source rows, and the (hidden) mode-state read.
#include "ConsoleDlg.h"

void CConsoleDlg::OnReadLineLength() {}
void CConsoleDlg::OnReadResistivity() {}
void CConsoleDlg::OnReadA0Resistance() {}
void CConsoleDlg::OnReadLineResistance() {}
void CConsoleDlg::OnReadA0CalVoltage1() {}
void CConsoleDlg::OnReadA0CalVoltage2() {}
void CConsoleDlg::OnReadA1Range() {}
void CConsoleDlg::OnReadA1CalVoltage1() {}
void CConsoleDlg::OnReadA1CalVoltage2() {}
void CConsoleDlg::OnReadA2CalVoltage1() {}
void CConsoleDlg::OnReadA2CalVoltage2() {}
void CConsoleDlg::OnReadCurrent() {}
void CConsoleDlg::OnReadA1Coefficients() {}
void CConsoleDlg::OnReadA0Coefficient() {}
void CConsoleDlg::OnReadA2Coefficient() {}

void CConsoleDlg::OnSetLineLength() {}
void CConsoleDlg::OnSetResistivity() {}
void CConsoleDlg::OnSetA0Resistance() {}
void CConsoleDlg::OnSetLineResistance() {}
void CConsoleDlg::OnSetA0CalVoltage1() {}
void CConsoleDlg::OnSetA0CalVoltage2() {}
void CConsoleDlg::OnSetA1Range() {}
void CConsoleDlg::OnSetA1CalVoltage1() {}
void CConsoleDlg::OnSetA1CalVoltage2() {}
void CConsoleDlg::OnSetA2CalVoltage1() {}
void CConsoleDlg::OnSetA2CalVoltage2() {}
void CConsoleDlg::OnSetCurrent() {}
void CConsoleDlg::OnSetSourceVoltage1() {}
void CConsoleDlg::OnSetSourceVoltage2() {}

void CConsoleDlg::OnReadModeState() {}
