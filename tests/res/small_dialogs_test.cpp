// The small dialogs: About (100), password (130), confirmation (131) and
// countdown (132).
#include "template_loader.h"
#include "template_tables.h"
#include "widget_probe.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <ostream>

using namespace templates;

namespace templates {
// Names the template in test output instead of dumping its bytes.
void PrintTo(const DialogTemplate& tmpl, std::ostream* out)
{
    *out << "template " << tmpl.templateId;
}
}  // namespace templates

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// A control of a small dialog: by id, or a label by its text.
QWidget* Find(const QDialog& dialog, const DialogControl& control)
{
    if (control.id != 0)
        return FindById(dialog, control.id);
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == U(control.text))
            return label;
    }
    return nullptr;
}

class SmallDialog : public ::testing::TestWithParam<DialogTemplate> {};

std::string DialogName(const ::testing::TestParamInfo<DialogTemplate>& info)
{
    return "Template" + std::to_string(info.param.templateId);
}

}  // namespace

TEST_P(SmallDialog, CaptionSizeAndFont)
{
    const DialogTemplate& tmpl = GetParam();
    auto dialog = LoadTemplate(tmpl.templateId);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), U(tmpl.caption));
    if (tmpl.duWidth > 0) {
        EXPECT_EQ(dialog->size(), QSize(DuToPx(tmpl.duWidth), DuToPx(tmpl.duHeight)));
    }
    EXPECT_EQ(dialog->font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(dialog->font().pointSize(), tmpl.pointSize);
    // A dialog frame: the window manager offers no resizing.
    EXPECT_EQ(dialog->minimumSize(), dialog->size());
    EXPECT_EQ(dialog->maximumSize(), dialog->size());
}

TEST_P(SmallDialog, ControlsHaveTheirKindTextAndState)
{
    const DialogTemplate& tmpl = GetParam();
    auto dialog = LoadTemplate(tmpl.templateId);
    ASSERT_NE(dialog, nullptr);
    for (const DialogControl& control : tmpl.controls) {
        SCOPED_TRACE(control.id != 0 ? std::to_string(control.id) : std::string(control.text));
        QWidget* widget = Find(*dialog, control);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(IsKind(*widget, control.kind)) << widget->metaObject()->className();
        if (control.kind != Kind::Edit && control.kind != Kind::Progress) {
            EXPECT_EQ(Caption(*widget), U(control.text));
        }
        EXPECT_EQ(!widget->isVisibleTo(dialog.get()), (control.flags & kHidden) != 0);
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->isDefault(), (control.flags & kDefault) != 0);
        }
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            EXPECT_EQ(edit->echoMode() == QLineEdit::Password, (control.flags & kPassword) != 0);
        }
    }
}

// Where the template places a control, it stays there; its size may only grow
// (to hold its text in the wider CJK font).
TEST_P(SmallDialog, PlacedControlsKeepTheirPositions)
{
    const DialogTemplate& tmpl = GetParam();
    auto dialog = LoadTemplate(tmpl.templateId);
    ASSERT_NE(dialog, nullptr);
    for (const DialogControl& control : tmpl.controls) {
        if (control.rect.x < 0)
            continue;
        SCOPED_TRACE(control.id != 0 ? std::to_string(control.id) : std::string(control.text));
        QWidget* widget = Find(*dialog, control);
        ASSERT_NE(widget, nullptr);
        const QRect expected = ToPixels(control.rect);
        EXPECT_EQ(widget->pos(), expected.topLeft());
        EXPECT_GE(widget->width(), expected.width());
        EXPECT_GE(widget->height(), expected.height());
        EXPECT_TRUE(dialog->rect().contains(widget->geometry()));
    }
}

TEST_P(SmallDialog, HasNoOtherControlsWithIds)
{
    const DialogTemplate& tmpl = GetParam();
    auto dialog = LoadTemplate(tmpl.templateId);
    ASSERT_NE(dialog, nullptr);
    int withIds = 0;
    for (const DialogControl& control : tmpl.controls)
        withIds += control.id != 0;
    EXPECT_EQ(ControlsWithIds(*dialog).size(), withIds);
}

INSTANTIATE_TEST_SUITE_P(Templates, SmallDialog, ::testing::ValuesIn(kSmallDialogs), DialogName);

TEST(AboutDialog, HasAnIconPlaceForTheConsole)
{
    auto dialog = LoadTemplate(100);
    auto* icon = dialog->findChild<QLabel*>(QStringLiteral("lbl_icon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_GE(icon->width(), 32);
    EXPECT_GE(icon->height(), 32);
}

TEST(PasswordDialog, LabelNamesTheEditAndFocusGoesFromEditToButton)
{
    auto dialog = LoadTemplate(130);
    QWidget* edit = FindById(*dialog, 1090);
    QWidget* ok = FindById(*dialog, 1);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(ok, nullptr);
    QLabel* label = CaptionLabelFor(*dialog, *edit);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("密码："));
    QWidget* first = dialog->nextInFocusChain();
    while (!(first->focusPolicy() & Qt::TabFocus))
        first = first->nextInFocusChain();
    EXPECT_EQ(first, edit);
    QWidget* next = edit->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, ok);
}

TEST(WaitDialog, ProgressBarIsHiddenAndShowsNoText)
{
    auto dialog = LoadTemplate(132);
    auto* progress = qobject_cast<QProgressBar*>(FindById(*dialog, 1105));
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isHidden());
    EXPECT_EQ(FindById(*dialog, 1), nullptr);  // no buttons
    EXPECT_EQ(FindById(*dialog, 2), nullptr);
}
