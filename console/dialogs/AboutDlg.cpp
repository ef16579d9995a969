#include "dialogs/AboutDlg.h"

#include <QIcon>

CAboutDlg::CAboutDlg(QWidget* parent) : CFormDialog(parent) {
  const QIcon icon(QStringLiteral(":/icons/qd7420.png"));
  setWindowIcon(icon);
  m_ui.lbl_icon->setPixmap(icon.pixmap(m_ui.lbl_icon->size()));
}
