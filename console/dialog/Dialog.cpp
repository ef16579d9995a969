#include "dialog/Dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimerEvent>
#include <QWindow>

#include <utility>

#include "dialog/MessageService.h"
#include "dialog/ReplyGate.h"
#include "resource.h"

namespace {

// How each kind of control holds "its text": one row per kind.
struct TextAccess {
  bool (*matches)(const QWidget*);
  QString (*get)(const QWidget*);
  void (*set)(QWidget*, const QString&);
};

template <class W, QString (W::*Get)() const, void (W::*Set)(const QString&)>
TextAccess Access() {
  return {
      [](const QWidget* w) { return qobject_cast<const W*>(w) != nullptr; },
      [](const QWidget* w) { return (static_cast<const W*>(w)->*Get)(); },
      [](QWidget* w, const QString& text) { (static_cast<W*>(w)->*Set)(text); },
  };
}

// The same with a free setter.
template <class W, QString (W::*Get)() const, void (*Set)(W&, const QString&)>
TextAccess Access() {
  return {
      [](const QWidget* w) { return qobject_cast<const W*>(w) != nullptr; },
      [](const QWidget* w) { return (static_cast<const W*>(w)->*Get)(); },
      [](QWidget* w, const QString& text) { Set(*static_cast<W*>(w), text); },
  };
}

// A text the program puts into an edit shows from its beginning, as on a
// Windows edit. Qt leaves the cursor at the end, and a value longer than the
// edit would show only its tail: 1000.000000 would read "00.000000".
void SetEditText(QLineEdit& edit, const QString& text) {
  edit.setText(text);
  edit.setCursorPosition(0);
}

const TextAccess kTextAccess[] = {
    Access<QLineEdit, &QLineEdit::text, &SetEditText>(),
    Access<QLabel, &QLabel::text, &QLabel::setText>(),
    Access<QAbstractButton, &QAbstractButton::text, &QAbstractButton::setText>(),
    Access<QGroupBox, &QGroupBox::title, &QGroupBox::setTitle>(),
    // A drop-down list's text is its selected entry.
    Access<QComboBox, &QComboBox::currentText, &QComboBox::setCurrentText>(),
};

const TextAccess* TextAccessFor(const QWidget* w) {
  if (!w) return nullptr;
  for (const TextAccess& access : kTextAccess)
    if (access.matches(w)) return &access;
  return nullptr;
}

// Shift+F10, or the Menu key alone (where the window system has not already
// turned it into a context-menu event).
bool IsContextMenuKey(const QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  return (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
         (event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier);
}

bool IsEnterKey(const QKeyEvent* event) {
  const int key = event->key();
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  return !event->modifiers() ||
         (key == Qt::Key_Enter && (event->modifiers() & Qt::KeypadModifier));
}

}  // namespace

// Qt never delivers a QObject timer again while its own timerEvent is on the
// stack, a nested loop opened from there included; a window timer's tick is
// an ordinary message that such a loop dispatches. So the Qt timer only posts
// a tick event, and OnTimer runs from that event.
struct DialogTimer {
  int qtId = 0;
  const QEvent* pending = nullptr;  // the tick posted and not yet delivered
};

namespace {

class TickEvent : public QEvent {
 public:
  TickEvent(int id, std::shared_ptr<DialogTimer> timer)
      : QEvent(Kind()), m_id(id), m_timer(std::move(timer)) {}
  // A tick that goes without being delivered (a filter ate it, the dialog
  // died) must not leave its timer waiting for it for ever.
  ~TickEvent() override {
    if (m_timer->pending == this) m_timer->pending = nullptr;
  }

  static QEvent::Type Kind() {
    static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kind;
  }
  int Id() const { return m_id; }
  const DialogTimer* Timer() const { return m_timer.get(); }

 private:
  int m_id;
  std::shared_ptr<DialogTimer> m_timer;
};

}  // namespace

CDialog::CDialog(QWidget* parent) : QDialog(parent), m_replies(new CReplyGate(this)) {}

CDialog::~CDialog() { CloseMessages(); }

int CDialog::DoModal() {
  m_ended = false;
  if (!m_standardBound) {
    // The framework's standard buttons, wherever a template has them.
    m_standardBound = true;
    if (qobject_cast<QAbstractButton*>(FindControl(IDOK)))
      BindCommand(IDOK, Notification::Clicked, [this] { OnOK(); });
    if (qobject_cast<QAbstractButton*>(FindControl(IDCANCEL)))
      BindCommand(IDCANCEL, Notification::Clicked, [this] { OnCancel(); });
  }
  OnInitDialog();
  if (m_ended) return result();  // ended from within OnInitDialog
  return exec();
}

void CDialog::EndDialog(int result) {
  m_ended = true;
  QDialog::done(result);
}

void CDialog::accept() { OnOK(); }
void CDialog::reject() { OnCancel(); }

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(bool) {}

void CDialog::OnOK() {
  UpdateData(true);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnTimer(int) {}

LRESULT CDialog::OnMessage(unsigned, WPARAM, LPARAM) { return 0; }

// --- Controls by id -----------------------------------------------------------

void CDialog::IndexControls() const {
  m_controls.clear();
  const QList<QWidget*> children = findChildren<QWidget*>();
  for (QWidget* w : children) {
    // A sub-dialog parented to this one keeps its own ids.
    if (w->window() != this) continue;
    const QString name = w->objectName();
    if (!name.startsWith(QLatin1String("id"))) continue;
    bool ok = false;
    const int id = name.mid(2).toInt(&ok);
    if (ok) m_controls.insert(id, w);
  }
}

QWidget* CDialog::FindControl(int id) const {
  auto it = m_controls.constFind(id);
  if (it == m_controls.constEnd()) {
    IndexControls();
    it = m_controls.constFind(id);
    if (it == m_controls.constEnd()) return nullptr;
  }
  return it.value();
}

QWidget* CDialog::GetDlgItem(int id) const {
  QWidget* control = FindControl(id);
  if (!control) qWarning("%s: no control with id %d", metaObject()->className(), id);
  return control;
}

QString CDialog::GetDlgItemText(int id) const {
  const QWidget* w = GetDlgItem(id);
  const TextAccess* access = TextAccessFor(w);
  return access ? access->get(w) : QString();
}

void CDialog::SetDlgItemText(int id, const QString& text) {
  QWidget* w = GetDlgItem(id);
  if (const TextAccess* access = TextAccessFor(w)) access->set(w, text);
}

void CDialog::EnableDlgItem(int id, bool enable) {
  if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

void CDialog::ShowDlgItem(int id, bool show) {
  if (QWidget* w = GetDlgItem(id)) w->setVisible(show);
}

bool CDialog::IsDlgButtonChecked(int id) const {
  const auto* button = qobject_cast<const QAbstractButton*>(GetDlgItem(id));
  return button && button->isChecked();
}

void CDialog::CheckDlgButton(int id, bool check) {
  if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id))) button->setChecked(check);
}

int CDialog::GetComboSel(int id) const {
  const auto* combo = qobject_cast<const QComboBox*>(GetDlgItem(id));
  return combo ? combo->currentIndex() : -1;
}

void CDialog::SetComboSel(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(GetDlgItem(id));
  if (!combo) return;
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

QString CDialog::GetComboItemText(int id, int index) const {
  const auto* combo = qobject_cast<const QComboBox*>(GetDlgItem(id));
  return combo ? combo->itemText(index) : QString();
}

bool CDialog::BindCommand(int id, Notification code, std::function<void()> handler) {
  QWidget* w = GetDlgItem(id);
  if (code == Notification::Clicked) {
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      connect(button, &QAbstractButton::clicked, this, [handler] { handler(); });
      return true;
    }
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    connect(combo, &QComboBox::activated, this, [handler] { handler(); });
    return true;
  }
  qWarning("%s: id %d cannot carry this command", metaObject()->className(), id);
  return false;
}

// --- Data exchange ---------------------------------------------------------------

void CDialog::UpdateData(bool save) { DoDataExchange(save); }

QButtonGroup* CDialog::RadioGroup(std::initializer_list<int> ids) {
  const int first = *ids.begin();
  auto it = m_radioGroups.find(first);
  if (it != m_radioGroups.end()) return it->second;
  auto* group = new QButtonGroup(this);
  int index = 0;
  for (int id : ids) {
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id))) group->addButton(button, index);
    ++index;
  }
  m_radioGroups.emplace(first, group);
  return group;
}

void CDialog::DDX_Radio(bool save, std::initializer_list<int> ids, int& value) {
  QButtonGroup* group = RadioGroup(ids);
  if (save) {
    value = group->checkedId();
    return;
  }
  if (QAbstractButton* button = value >= 0 ? group->button(value) : nullptr) {
    button->setChecked(true);
    return;
  }
  // None checked: an exclusive group refuses to uncheck its last checked
  // button, so lift the exclusivity for the moment.
  group->setExclusive(false);
  for (QAbstractButton* button : group->buttons()) button->setChecked(false);
  group->setExclusive(true);
}

void CDialog::DDX_Text(bool save, int id, QString& value) {
  if (save)
    value = GetDlgItemText(id);
  else
    SetDlgItemText(id, value);
}

// --- Keys -----------------------------------------------------------------------

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (IsContextMenuKey(event)) {
    OpenContextMenuFromKeyboard();
    event->accept();
    return;
  }
  if (!IsEnterKey(event)) {
    QDialog::keyPressEvent(event);  // Esc ends the dialog through reject()
    return;
  }
  // Enter presses the focused push button; anywhere else it is the default
  // button's command (in the main window a hidden button that does nothing).
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  if (focused && focused->isEnabled())
    focused->click();
  else
    ClickDefaultButton();
  event->accept();
}

// The focused control's menu (an edit's own), or, where it has none, its
// window's: the event goes up the parents as a right click's does.
void CDialog::OpenContextMenuFromKeyboard() {
  QWidget* target = focusWidget() ? focusWidget() : this;
  const QPoint where = target->rect().center();
  QContextMenuEvent menu(QContextMenuEvent::Keyboard, where, target->mapToGlobal(where));
  QApplication::sendEvent(target, &menu);
}

void CDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Qt hands the window system the program's name for an empty caption; a
  // blank one shows nothing, as the template means. The dialog's own
  // windowTitle() stays empty.
  if (windowTitle().isEmpty() && windowHandle()) windowHandle()->setTitle(QStringLiteral(" "));
}

void CDialog::ClickDefaultButton() {
  const QList<QPushButton*> buttons = findChildren<QPushButton*>();
  for (QPushButton* button : buttons) {
    if (button->window() == this && button->isDefault()) {
      button->click();  // a hidden default button still carries its command
      return;
    }
  }
}

// --- Timers and messages ----------------------------------------------------------

void CDialog::SetTimer(int id, int ms) {
  KillTimer(id);
  auto timer = std::make_shared<DialogTimer>();
  timer->qtId = startTimer(ms, Qt::PreciseTimer);
  m_timers.emplace(id, std::move(timer));
}

void CDialog::KillTimer(int id) {
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return;
  killTimer(it->second->qtId);
  m_timers.erase(it);  // a tick still queued no longer finds its timer
}

void CDialog::timerEvent(QTimerEvent* event) {
  for (const auto& [id, timer] : m_timers) {
    if (timer->qtId != event->timerId()) continue;
    if (!timer->pending) {
      auto* tick = new TickEvent(id, timer);
      timer->pending = tick;
      QCoreApplication::postEvent(this, tick);
    }
    return;
  }
  QDialog::timerEvent(event);
}

void CDialog::customEvent(QEvent* event) {
  if (event->type() != TickEvent::Kind()) {
    QDialog::customEvent(event);
    return;
  }
  const auto* tick = static_cast<const TickEvent*>(event);
  const auto it = m_timers.find(tick->Id());
  // Killed, or set anew, since the tick was posted.
  if (it == m_timers.end() || it->second.get() != tick->Timer() || it->second->pending != tick) return;
  it->second->pending = nullptr;  // the next period may post again
  OnTimer(tick->Id());
}

LRESULT CDialog::SendMessage(unsigned message, WPARAM wParam, LPARAM lParam) {
  return m_replies
      ->Ask<LRESULT>([this, message, wParam, lParam] { return OnMessage(message, wParam, lParam); })
      .value_or(0);
}

void CDialog::CloseMessages() { m_replies->Close(); }

void CDialog::WindowMessage(const QString& text) { ShowMessage(this, text); }

bool CDialog::WindowQuestion(const QString& text) { return AskQuestion(this, text); }
