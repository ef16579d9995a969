// Device administration: working mode (with the access code and the two
// layouts), station address and baud rate, the device clock, the buzzer.
#include "ConsoleDlg.h"

void CConsoleDlg::OnWorkModeChange() {}

void CConsoleDlg::OnChangeAddressBaud() {}

void CConsoleDlg::OnSetSystemTime() {}

void CConsoleDlg::OnReadClock() {}

void CConsoleDlg::OnWriteClock() {}

void CConsoleDlg::OnBuzzerOff() {}

void CConsoleDlg::OnBuzzerOn() {}
