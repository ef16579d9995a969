#include "dialogs/PasswordDlg.h"

#include "resource.h"

void CPasswordDlg::DoDataExchange(bool save) { DDX_Text(save, IDC_PASSWORD_EDIT, m_strPassword); }
