// Message boxes of the console, through one replaceable service. The window's
// commands report failures in boxes with fixed texts and an OK button: an
// application box (no owner; the port could not be opened) or a box owned by
// the window (a rejected reply). Tests install a service that records instead
// of blocking on a modal box.
#pragma once

#include <QString>

class QWidget;

class CMessageService {
 public:
  virtual ~CMessageService() = default;
  // Shows `text` and returns when the operator has dismissed it. `owner` is
  // the window the box belongs to, or null for an application message. Always
  // called on the GUI thread.
  virtual void Show(QWidget* owner, const QString& text) = 0;
  // The same with an informative text under the main one (which device,
  // what to do); by default both in one text.
  virtual void ShowDetailed(QWidget* owner, const QString& text, const QString& detail) {
    Show(owner, detail.isEmpty() ? text : text + QStringLiteral("\n\n") + detail);
  }
  // A success the operator is told of ("设置成功!"): a box of its own kind.
  virtual void ShowInformation(QWidget* owner, const QString& text) { Show(owner, text); }
  // Asks `text` with the buttons "是" and "否"; true for "是". Esc and the
  // close box answer "否". GUI thread only. A service that cannot ask
  // answers "否", so that nothing irreversible happens unasked.
  virtual bool Ask(QWidget* owner, const QString& text);
};

// Installs `service` (not owned; null restores the QMessageBox service) and
// returns the one it replaces (null when that was the default).
CMessageService* InstallMessageService(CMessageService* service);

// Shows a message through the installed service. From another thread it
// blocks until the box has been dismissed on the GUI thread.
void ShowMessage(QWidget* owner, const QString& text, const QString& detail = QString());

// A success through the installed service (GUI thread only).
void ShowInformation(QWidget* owner, const QString& text);

// A question through the installed service (GUI thread only); true for "是".
bool AskQuestion(QWidget* owner, const QString& text);

// A message of the application, owned by no window.
void AppMessage(const QString& text, const QString& detail = QString());
