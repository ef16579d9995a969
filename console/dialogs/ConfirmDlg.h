// The confirmation before a resistivity auto-calibration: "确认" or "取消".
#pragma once

#include "dialog/FormDialog.h"
#include "ui_confirm_dlg.h"

class CConfirmDlg : public CFormDialog<Ui::ConfirmDlg> {
  Q_OBJECT

 public:
  using CFormDialog::CFormDialog;
};
