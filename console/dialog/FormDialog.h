// A dialog built on a designer form (the generated Ui:: class): the form's
// controls are set up at construction and reached by id like any other.
#pragma once

#include "dialog/Dialog.h"

template <class Form>
class CFormDialog : public CDialog {
 public:
  explicit CFormDialog(QWidget* parent = nullptr) : CDialog(parent) { m_ui.setupUi(this); }

 protected:
  Form m_ui;
};
