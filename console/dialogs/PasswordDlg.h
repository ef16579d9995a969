// The access-code dialog of the factory mode: one masked edit (1090) and
// "确认". Esc and the close box cancel it.
#pragma once

#include <QString>

#include "dialog/FormDialog.h"
#include "ui_password_dlg.h"

class CPasswordDlg : public CFormDialog<Ui::PasswordDlg> {
  Q_OBJECT

 public:
  using CFormDialog::CFormDialog;

  // Fills the edit when the dialog opens; holds the typed text after OK.
  QString m_strPassword;

 protected:
  void DoDataExchange(bool save) override;
};
