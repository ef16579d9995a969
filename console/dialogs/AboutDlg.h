// The About box: the application's icon, name and version; "确定" closes it.
#pragma once

#include "dialog/FormDialog.h"
#include "ui_about_dlg.h"

class CAboutDlg : public CFormDialog<Ui::AboutDlg> {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
