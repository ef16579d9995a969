#include "window/CommandLock.h"

#include "dialog/Dialog.h"

CCommandLock::CCommandLock(CDialog& dlg, const std::vector<int>& ids) : m_focus(dlg.focusWidget()) {
  for (int id : ids) {
    QWidget* control = dlg.GetDlgItem(id);
    // Its own state, not its parent's: it gets back exactly what it had.
    if (!control || control->testAttribute(Qt::WA_ForceDisabled)) continue;
    control->setEnabled(false);
    m_disabled.emplace_back(control);
  }
}

CCommandLock::~CCommandLock() {
  for (const QPointer<QWidget>& control : m_disabled)
    if (control) control->setEnabled(true);
  // Disabling the focused button moved the focus on; the operator's place
  // in the window is where it was before the command.
  if (m_focus && m_focus->isEnabled()) m_focus->setFocus();
}
