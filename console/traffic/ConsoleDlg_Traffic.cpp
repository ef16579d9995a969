// "通讯记录" (beside the About entry of the window's menu, and Ctrl+T): the
// traffic window, made at the first call and shown or raised after.
#include "window/ConsoleDlg.h"
#include "traffic/TrafficDlg.h"
#include "traffic/TrafficLog.h"

void CConsoleDlg::OnShowTraffic() {
  if (!m_pTrafficDlg) {
    m_pTrafficDlg = new CTrafficDlg(CTrafficLog::Process(), this);
    PlaceTrafficWindow();
  }
  m_pTrafficDlg->show();
  m_pTrafficDlg->raise();
  m_pTrafficDlg->activateWindow();
}

CTrafficDlg* CConsoleDlg::TrafficWindow() const { return m_pTrafficDlg; }
