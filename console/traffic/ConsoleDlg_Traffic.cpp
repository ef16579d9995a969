// "通讯记录" (beside the About entry of the window's menu, and Ctrl+T): the
// traffic window, made at the first call and shown or raised after.
#include <QScreen>

#include "window/ConsoleDlg.h"
#include "traffic/TrafficDlg.h"
#include "traffic/TrafficLog.h"

// Beside the main window where the screen has room on its right, else below
// it, else on its left, else over it at the screen's corner; once placed it
// keeps its place (and any the operator gives it) for the session.
QPoint CConsoleDlg::PlaceTraffic(const QRect& main, const QSize& size, const QRect& available) {
  const QPoint candidates[] = {
      {main.right() + 1, main.top()},
      {main.left(), main.bottom() + 1},
      {main.left() - size.width(), main.top()},
  };
  for (const QPoint& at : candidates)
    if (available.contains(QRect(at, size))) return at;
  return PlaceInside(QRect(main.topLeft(), size), available);
}

void CConsoleDlg::OnShowTraffic() {
  if (!m_pTrafficDlg) {
    m_pTrafficDlg = new CTrafficDlg(CTrafficLog::Process(), this);
    if (screen())
      m_pTrafficDlg->move(PlaceTraffic(frameGeometry(), m_pTrafficDlg->frameGeometry().size(),
                                       screen()->availableGeometry()));
  }
  m_pTrafficDlg->show();
  m_pTrafficDlg->raise();
  m_pTrafficDlg->activateWindow();
}

CTrafficDlg* CConsoleDlg::TrafficWindow() const { return m_pTrafficDlg; }
