// Keeps the operator from starting a command while another one runs on
// across events (the paged log read returns to the event loop between its
// pages, so the window repaints): the given controls are disabled for the
// lock's life, then those it disabled are enabled again and the focus goes
// back where it was. Controls already disabled stay as they are.
#pragma once

#include <QPointer>
#include <QWidget>

#include <vector>

class CDialog;

class CCommandLock {
 public:
  CCommandLock(CDialog& dlg, const std::vector<int>& ids);
  ~CCommandLock();
  CCommandLock(const CCommandLock&) = delete;
  CCommandLock& operator=(const CCommandLock&) = delete;

 private:
  std::vector<QPointer<QWidget>> m_disabled;
  QPointer<QWidget> m_focus;
};
