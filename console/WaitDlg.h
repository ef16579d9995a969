// The countdown window of the resistivity auto-calibration: "请等待", the
// seconds left (static 1107) and "秒".
#pragma once

#include "dialog/FormDialog.h"
#include "ui_wait_dlg.h"

class CWaitDlg : public CFormDialog<Ui::WaitDlg> {
  Q_OBJECT

 public:
  using CFormDialog::CFormDialog;
};
