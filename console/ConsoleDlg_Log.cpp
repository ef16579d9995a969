// Alarm log: the entry count, the log read into list 1011, and clearing.
#include "ConsoleDlg.h"

void CConsoleDlg::OnReadLogCount() {}

void CConsoleDlg::OnReadEntryCount() {}

void CConsoleDlg::OnReadLog() {}

void CConsoleDlg::OnClearLog() {}
