#include "template_loader.h"

#include "resource.h"
#include "ui_about_dlg.h"
#include "ui_confirm_dlg.h"
#include "ui_console_dlg.h"
#include "ui_password_dlg.h"
#include "ui_wait_dlg.h"

namespace {

template <class Ui>
std::unique_ptr<QDialog> Build()
{
    auto dialog = std::make_unique<QDialog>();
    Ui ui;
    ui.setupUi(dialog.get());
    return dialog;
}

}  // namespace

std::unique_ptr<QDialog> LoadTemplate(int templateId)
{
    switch (templateId) {
    case IDD_ABOUTBOX: return Build<Ui::AboutDlg>();
    case IDD_CONSOLE_DIALOG: return Build<Ui::ConsoleDlg>();
    case IDD_PASSWORD: return Build<Ui::PasswordDlg>();
    case IDD_CONFIRM: return Build<Ui::ConfirmDlg>();
    case IDD_WAIT: return Build<Ui::WaitDlg>();
    default: return nullptr;
    }
}
