// Communication-parameter search: button 1009 starts and stops a worker that
// probes station addresses and baud rates; the worker reports back only
// through WM_SEARCH_PROGRESS and WM_SEARCH_FOUND.
#include "ConsoleDlg.h"

void CConsoleDlg::OnSearchParameters() {}

LRESULT CConsoleDlg::OnSearchProgress(WPARAM, LPARAM) { return 1; }

LRESULT CConsoleDlg::OnSearchFound(WPARAM, LPARAM) { return 1; }
