// Live detection monitoring: "开始检测" keeps the port open and polls the
// controller on timer 1 once a second; the display-mode radios 1109/1110.
#include "ConsoleDlg.h"

void CConsoleDlg::OnStartDetection() {}

void CConsoleDlg::OnTimer(int) {}

void CConsoleDlg::OnDisplayVoltage() {}

void CConsoleDlg::OnDisplayAdc() {}
