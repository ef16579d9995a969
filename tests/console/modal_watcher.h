// Watches the dialogs a command runs modally: acts on them from inside their
// own loops (a click on "确认", the close box) and records the texts a
// static of theirs showed, each change once, as seen at every event the
// dialog receives (its timer ticks among them) and when it hides.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QDialog;

class CModalWatcher : public QObject {
 public:
  using Action = std::function<void(QDialog&)>;

  CModalWatcher();  // filters the events of the whole application
  ~CModalWatcher() override;

  // `action` runs once, queued inside the dialog's loop, the first time a
  // dialog of class `className` shows.
  void OnShow(const char* className, Action action);
  // ... the first time the watched static shows `text`.
  void OnText(const QString& text, Action action);
  // Records the texts of static `id` of dialogs of class `className`.
  void WatchText(const char* className, int id);
  // A dialog of class `className` that shows with no action waiting for it
  // is closed at once: the test then fails on what follows, not by hanging.
  void CloseUnexpected(const char* className) { m_closeUnexpected = className; }

  QStringList texts;              // what the watched static showed, in order
  std::vector<std::string> shown;  // class names of the dialogs shown, in order

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Trigger {
    std::string className;  // on show; empty: on text
    QString text;
    Action action;
  };
  void Fire(std::vector<Trigger>::iterator trigger, QDialog& dlg);
  void NoteText(QDialog& dlg);

  std::vector<Trigger> m_triggers;
  std::string m_textClass;
  int m_textId = 0;
  std::string m_closeUnexpected;
};
