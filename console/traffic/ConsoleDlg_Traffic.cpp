// "通讯记录" (beside the About entry of the window's menu, and Ctrl+T): the
// traffic window, made at the first call and shown or raised after.
#include <QScreen>

#include <algorithm>

#include "window/ConsoleDlg.h"
#include "traffic/TrafficDlg.h"
#include "traffic/TrafficLog.h"

namespace {

// The smallest traffic window worth opening beside the main one: its
// columns up to the reply, a dozen rows.
constexpr int kTrafficMinWidth = 560;
constexpr int kTrafficMinHeight = 240;

}  // namespace

// Right of the main window where the screen has room (narrowed to the room,
// down to a useful width), else below it (as low as the room), else left of
// it; with no room anywhere, at the foot of the screen, over the alarm list
// rather than the controls. Once placed it keeps its place (and any the
// operator gives it) for the session.
QRect CConsoleDlg::PlaceTraffic(const QRect& main, const QSize& size, const QRect& available) {
  const int right = available.right() - main.right();
  const int below = available.bottom() - main.bottom();
  const int left = main.left() - available.left();
  const int height = std::min(size.height(), available.height());
  if (right >= kTrafficMinWidth) {
    const int top = PlaceInside(QRect(main.topLeft(), QSize(1, height)), available).y();
    return {QPoint(main.right() + 1, top), QSize(std::min(size.width(), right), height)};
  }
  if (below >= kTrafficMinHeight)
    return {QPoint(PlaceInside(QRect(main.topLeft(), size), available).x(), main.bottom() + 1),
            QSize(std::min(size.width(), available.width()), std::min(size.height(), below))};
  if (left >= kTrafficMinWidth)
    return {QPoint(main.left() - std::min(size.width(), left), main.top()),
            QSize(std::min(size.width(), left), height)};
  const QRect foot(QPoint(main.left(), available.bottom() - height + 1),
                   QSize(std::min(size.width(), available.width()), height));
  return {PlaceInside(foot, available), foot.size()};
}

void CConsoleDlg::PlaceBeside(QWidget& window) const {
  if (!screen()) return;
  // The other window's frame will be as the main window's.
  const QMargins frame(geometry().left() - frameGeometry().left(),
                       geometry().top() - frameGeometry().top(),
                       frameGeometry().right() - geometry().right(),
                       frameGeometry().bottom() - geometry().bottom());
  const QRect placed =
      PlaceTraffic(frameGeometry(), window.size().grownBy(frame), screen()->availableGeometry());
  window.setGeometry(placed.marginsRemoved(frame));
}

void CConsoleDlg::OnShowTraffic() {
  if (!m_pTrafficDlg) {
    m_pTrafficDlg = new CTrafficDlg(CTrafficLog::Process(), this);
    PlaceBeside(*m_pTrafficDlg);
    // Where it stood last time wins.
    PlaceTrafficWindow();
  }
  m_pTrafficDlg->show();
  m_pTrafficDlg->raise();
  m_pTrafficDlg->activateWindow();
}

CTrafficDlg* CConsoleDlg::TrafficWindow() const { return m_pTrafficDlg; }
