#include "console_fixture.h"

#include "resource.h"
#include "widget_probe.h"

std::unique_ptr<QDialog> ConsoleTemplate::dialog_;

void ConsoleTemplate::SetUpTestSuite()
{
    dialog_ = LoadTemplate(IDD_CONSOLE_DIALOG);
}

void ConsoleTemplate::TearDownTestSuite()
{
    dialog_.reset();
}

QWidget& ConsoleTemplate::ById(int id)
{
    QWidget* widget = FindById(*dialog_, id);
    if (widget == nullptr) {
        ADD_FAILURE() << "no control with id " << id;
        return *dialog_;
    }
    return *widget;
}
