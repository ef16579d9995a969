// The dialog base of the console's windows, on Qt Widgets: controls reached
// by their numeric id (object name "id<N>"), radio-group and text data
// exchange, timers with ids, modal runs with a one-time initialisation, a
// message send from worker threads that waits for its typed reply, the Enter/Esc behaviour of a
// dialog with a default button, Shift+F10 and the Menu key for the context
// menu, and a caption left empty that stays empty.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

#include "dialog/MessageMap.h"
#include "dialog/WindowMessages.h"

class CReplyGate;
class QButtonGroup;
struct DialogTimer;  // one timer's state, private to Dialog.cpp

class CDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CDialog(QWidget* parent = nullptr);
  ~CDialog() override;

  // Runs OnInitDialog, then the dialog modally; IDOK or IDCANCEL (or what
  // EndDialog was given).
  int DoModal();
  void EndDialog(int result);

  // --- Controls by id ------------------------------------------------------
  QWidget* GetDlgItem(int id) const;
  // The text of an edit, static, button or group box; of a combo, the text
  // of its selected entry ("" with none).
  QString GetDlgItemText(int id) const;
  void SetDlgItemText(int id, const QString& text);
  void EnableDlgItem(int id, bool enable);
  void ShowDlgItem(int id, bool show);
  bool IsDlgButtonChecked(int id) const;
  void CheckDlgButton(int id, bool check);
  // Combo selection: -1 is none; an index past the end selects none.
  int GetComboSel(int id) const;
  void SetComboSel(int id, int index);
  QString GetComboItemText(int id, int index) const;

  // --- Data exchange -------------------------------------------------------
  // save = true: controls -> members; false: members -> controls.
  void UpdateData(bool save = true);

  // --- Timers: OnTimer(id) every `ms` until KillTimer(id) -----------------
  // A tick is an event like any other: it also arrives in a nested loop (a
  // message box) opened by an earlier OnTimer still on the stack. Ticks do
  // not pile up: at most one per id waits to be delivered, and KillTimer
  // drops it. Setting an id again replaces its timer.
  void SetTimer(int id, int ms);
  void KillTimer(int id);

  // Runs OnMessage on the dialog's thread and returns its result. From
  // another thread the call is queued there and the sender waits on its own
  // side for the result (a message box the handler shows included), or
  // until the dialog stops taking messages (0 then).
  LRESULT SendMessage(unsigned message, WPARAM wParam = 0, LPARAM lParam = 0);
  // From now on no worker's send is handled: a sender waiting for its
  // handler returns 0 at once, and a later send returns 0 without waiting.
  // A closing window calls it before it waits for its workers to end, so
  // that neither waits for the other.
  void CloseMessages();

  // A message box owned by this window.
  void WindowMessage(const QString& text);
  // A question box owned by this window: true for "是".
  bool WindowQuestion(const QString& text);

  // Connects one message-map row; false (with a warning) when the id names
  // no control of the kind the notification needs.
  bool BindCommand(int id, Notification code, std::function<void()> handler);

  // QDialog's ends, routed to the overridable handlers.
  void accept() override;
  void reject() override;

 protected:
  // Once per DoModal, before the dialog shows. The base copies the members
  // to the controls.
  virtual bool OnInitDialog();
  virtual void DoDataExchange(bool save);
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnTimer(int id);
  virtual LRESULT OnMessage(unsigned message, WPARAM wParam, LPARAM lParam);

  // Exchange helpers for DoDataExchange. A radio group is the list of its
  // buttons' ids; the value is the index of the checked one, -1 for none.
  void DDX_Radio(bool save, std::initializer_list<int> ids, int& value);
  void DDX_Text(bool save, int id, QString& value);

  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void customEvent(QEvent* event) override;

 private:
  QButtonGroup* RadioGroup(std::initializer_list<int> ids);
  QWidget* FindControl(int id) const;  // GetDlgItem without the warning
  void IndexControls() const;
  void ClickDefaultButton();
  void OpenContextMenuFromKeyboard();

  CReplyGate* m_replies;  // the workers' sends waiting for their replies

  mutable QHash<int, QWidget*> m_controls;
  std::map<int, QButtonGroup*> m_radioGroups;  // by the group's first id
  std::map<int, std::shared_ptr<DialogTimer>> m_timers;  // by our id
  bool m_standardBound = false;  // IDOK/IDCANCEL bound to OnOK/OnCancel
  bool m_ended = false;          // EndDialog ran during this DoModal
};
