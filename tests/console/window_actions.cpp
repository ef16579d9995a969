#include "window_actions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

#include "window/CommandRows.h"
#include "window/ConsoleDlg.h"
#include "window/Globals.h"
#include "dialogs/PasswordDlg.h"
#include "expected_states.h"
#include "resource.h"

namespace {

void Answer(const QString& text, PasswordAnswer how, bool* seen, int triesLeft) {
  auto* dlg = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
  if (!dlg) {
    if (triesLeft == 0) return ADD_FAILURE() << "no password dialog";
    QTimer::singleShot(10, [=] { Answer(text, how, seen, triesLeft - 1); });
    return;
  }
  auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("id1090"));
  if (seen) *seen = edit && edit->echoMode() == QLineEdit::Password;
  if (edit) QTest::keyClicks(edit, text);
  switch (how) {
    case PasswordAnswer::Ok:
      if (auto* ok = dlg->findChild<QAbstractButton*>(QStringLiteral("id1"))) ok->click();
      break;
    case PasswordAnswer::Escape:
      QTest::keyClick(dlg, Qt::Key_Escape);
      break;
    case PasswordAnswer::CloseBox:
      dlg->close();
      break;
  }
}

}  // namespace

void Click(CConsoleDlg& dlg, int id) {
  auto* button = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id));
  ASSERT_NE(button, nullptr) << id;
  button->click();  // does nothing when disabled
}

int CommandId(const char* handler) {
  for (const auto& rows : {ParameterCommands(), RadioCommands()})
    for (const CommandName& row : rows)
      if (std::strcmp(row.handler, handler) == 0) return row.id;
  return -1;
}

void Choose(CConsoleDlg& dlg, int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(id));
  ASSERT_NE(combo, nullptr) << id;
  if (!combo->isEnabled()) return;
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

void AnswerNextPassword(const QString& text, PasswordAnswer how, bool* seen) {
  QTimer::singleShot(0, [=] { Answer(text, how, seen, 500); });
}

void EnterFactoryMode(CConsoleDlg& dlg) {
  AnswerNextPassword(QStringLiteral("361752"), PasswordAnswer::Ok);
  Choose(dlg, IDC_WORK_MODE, 1);
  ASSERT_TRUE(dlg.IsWide()) << "factory mode was not confirmed";
}

bool WaitUntil(const std::function<bool()>& done, int limitMs) {
  return QTest::qWaitFor(done, limitMs);
}

bool WaitForPolls(int polls) {
  return WaitUntil([polls] { return g_nSuccessCount + g_nFailCount >= polls; });
}

std::map<int, bool> EnabledStates(const CConsoleDlg& dlg) {
  std::map<int, bool> states;
  for (const QWidget* w : dlg.findChildren<QWidget*>()) {
    const QString name = w->objectName();
    if (!name.startsWith(QLatin1String("id")) || w->window() != &dlg) continue;
    states[name.mid(2).toInt()] = w->isEnabled();
  }
  return states;
}
