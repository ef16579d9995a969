// Qt's own texts in Chinese, the small dialogs' fixed frames and empty
// countdown caption, and the context menu from the keyboard.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "dialogs/AboutDlg.h"
#include "dialogs/ConfirmDlg.h"
#include "dialog/MessageService.h"
#include "dialogs/PasswordDlg.h"
#include "app/Translations.h"
#include "dialogs/WaitDlg.h"
#include "console_window_fixture.h"
#include "window_actions.h"
#include "resource.h"

namespace {

bool HasChinese(const QString& text) {
  for (const QChar c : text)
    if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
  return false;
}

// The entries of a menu, separators left out.
QStringList Entries(const QMenu& menu) {
  QStringList texts;
  for (const QAction* action : menu.actions())
    if (!action->isSeparator()) texts << action->text();
  return texts;
}

TEST(QtTexts, MessageBoxButtonReadsQueDing) {
  ASSERT_TRUE(InstallQtTranslations()) << "qt6-translations-l10n is not installed";
  CMessageService* recording = InstallMessageService(nullptr);  // the real boxes
  QStringList buttons;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return ADD_FAILURE() << "no message box";
    for (const QAbstractButton* button : box->buttons()) buttons << button->text();
    box->accept();
  });
  AppMessage(QStringLiteral("没有发现此串口或此串口被占用"));
  InstallMessageService(recording);
  EXPECT_EQ(buttons, QStringList{QStringLiteral("确定")});
}

// The question box: "是" and "否", with Esc (and the close box) for "否".
TEST(QtTexts, QuestionBoxAsksYesOrNoAndEscSaysNo) {
  struct Case {
    const char* press;  // a button's text, or null for Esc
    bool answer;
  };
  const Case cases[] = {{"是", true}, {"否", false}, {nullptr, false}};
  CMessageService* recording = InstallMessageService(nullptr);  // the real boxes
  for (const Case& c : cases) {
    SCOPED_TRACE(c.press ? c.press : "Esc");
    QStringList buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return ADD_FAILURE() << "no question box";
      QAbstractButton* pressed = nullptr;
      for (QAbstractButton* button : box->buttons()) {
        buttons << button->text();
        if (c.press && button->text() == QString::fromUtf8(c.press)) pressed = button;
      }
      if (pressed) pressed->click();
      if (!c.press) QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(AskQuestion(nullptr, QStringLiteral("确定要清除控制器中的全部告警日志吗？")), c.answer);
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("否"), QStringLiteral("是")}));
  }
  InstallMessageService(recording);
}

TEST(QtTexts, EditContextMenuIsChinese) {
  ASSERT_TRUE(InstallQtTranslations());
  QLineEdit edit(QStringLiteral("12.50"));
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  ASSERT_NE(menu, nullptr);
  const QStringList entries = Entries(*menu);
  ASSERT_FALSE(entries.isEmpty());
  for (const QString& entry : entries) EXPECT_TRUE(HasChinese(entry)) << qPrintable(entry);
}

struct SmallDialog {
  const char* name;
  std::function<std::unique_ptr<QDialog>()> make;
};

// A dialog frame as the templates have it: the window system is told the
// size is fixed, and nothing resizes it.
TEST(SmallDialogs, RefuseToResize) {
  const SmallDialog dialogs[] = {
      {"About", [] { return std::make_unique<CAboutDlg>(); }},
      {"Password", [] { return std::make_unique<CPasswordDlg>(); }},
      {"Confirm", [] { return std::make_unique<CConfirmDlg>(); }},
      {"Countdown", [] { return std::make_unique<CWaitDlg>(); }},
  };
  for (const SmallDialog& d : dialogs) {
    SCOPED_TRACE(d.name);
    std::unique_ptr<QDialog> dialog = d.make();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    const QSize size = dialog->size();
    EXPECT_EQ(dialog->windowHandle()->minimumSize(), size);
    EXPECT_EQ(dialog->windowHandle()->maximumSize(), size);
    dialog->resize(size + QSize(80, 40));
    EXPECT_EQ(dialog->size(), size);
    dialog->hide();
  }
}

// Qt would hand the window system the program's name for an empty caption.
TEST(SmallDialogs, CountdownCaptionShowsNothing) {
  CWaitDlg countdown;
  countdown.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&countdown));
  EXPECT_TRUE(countdown.windowTitle().isEmpty());
  const QString shown = countdown.windowHandle()->title();
  EXPECT_TRUE(shown.trimmed().isEmpty()) << qPrintable(shown);
  EXPECT_FALSE(shown.isEmpty()) << "an empty title is replaced by the program's name";
  countdown.hide();
}

struct MenuKey {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
};

const MenuKey kMenuKeys[] = {
    {"ShiftF10", Qt::Key_F10, Qt::ShiftModifier},
    {"MenuKey", Qt::Key_Menu, Qt::NoModifier},
};

// About is reachable without a mouse: on a button the window's own menu
// opens; in an edit, the edit's (Chinese) menu, as a right click would.
TEST_F(ConsoleWindowTest, ContextMenuFromTheKeyboard) {
  InstallQtTranslations();
  RunWindow([&](CConsoleDlg& dlg) {
    QMenu* windowMenu = dlg.SystemMenu();
    ASSERT_NE(windowMenu, nullptr);
    const QStringList before = Snapshot(dlg);
    const size_t frames = Frames().size();
    for (const MenuKey& k : kMenuKeys) {
      SCOPED_TRACE(k.name);
      QWidget* button = dlg.GetDlgItem(IDC_READ_LINE_LENGTH);
      button->setFocus();
      QTest::keyClick(button, k.key, k.modifiers);
      EXPECT_TRUE(windowMenu->isVisible());
      EXPECT_EQ(Entries(*windowMenu), WindowMenuEntries());
      windowMenu->hide();

      QWidget* edit = dlg.GetDlgItem(IDC_LINE_LENGTH);
      edit->setFocus();
      QTest::keyClick(edit, k.key, k.modifiers);
      auto* editMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(editMenu, nullptr);
      EXPECT_NE(editMenu, windowMenu);
      for (const QString& entry : Entries(*editMenu)) EXPECT_TRUE(HasChinese(entry)) << qPrintable(entry);
      editMenu->close();
    }
    EXPECT_EQ(Snapshot(dlg), before);
    EXPECT_EQ(Frames().size(), frames) << "a key sent something to the controller";
  });
}

}  // namespace
