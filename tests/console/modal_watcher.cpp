#include "modal_watcher.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <algorithm>

CModalWatcher::CModalWatcher() { qApp->installEventFilter(this); }

CModalWatcher::~CModalWatcher() { qApp->removeEventFilter(this); }

void CModalWatcher::OnShow(const char* className, Action action) {
  m_triggers.push_back({className, QString(), std::move(action)});
}

void CModalWatcher::OnText(const QString& text, Action action) {
  m_triggers.push_back({std::string(), text, std::move(action)});
}

void CModalWatcher::WatchText(const char* className, int id) {
  m_textClass = className;
  m_textId = id;
}

void CModalWatcher::Fire(std::vector<Trigger>::iterator trigger, QDialog& dlg) {
  Action action = std::move(trigger->action);
  m_triggers.erase(trigger);
  // Queued: from the Show event the dialog's loop has not started yet.
  QPointer<QDialog> target(&dlg);
  QTimer::singleShot(0, &dlg, [target, action] {
    if (target) action(*target);
  });
}

void CModalWatcher::NoteText(QDialog& dlg) {
  const auto* label = dlg.findChild<QLabel*>(QStringLiteral("id%1").arg(m_textId));
  if (!label || (!texts.isEmpty() && texts.last() == label->text())) return;
  texts << label->text();
  for (auto it = m_triggers.begin(); it != m_triggers.end(); ++it)
    if (it->className.empty() && it->text == label->text()) return Fire(it, dlg);
}

bool CModalWatcher::eventFilter(QObject* watched, QEvent* event) {
  auto* dlg = qobject_cast<QDialog*>(watched);
  if (!dlg || !dlg->isWindow()) return false;
  if (event->type() == QEvent::Show) {
    shown.push_back(dlg->metaObject()->className());
    auto it = std::find_if(m_triggers.begin(), m_triggers.end(), [dlg](const Trigger& t) {
      return !t.className.empty() && dlg->inherits(t.className.c_str());
    });
    if (it != m_triggers.end())
      Fire(it, *dlg);
    else if (!m_closeUnexpected.empty() && dlg->inherits(m_closeUnexpected.c_str()))
      QTimer::singleShot(0, dlg, &QDialog::reject);
  }
  if (m_textId && dlg->inherits(m_textClass.c_str())) NoteText(*dlg);
  return false;
}
