// The dialog layer on its own, on a dialog built in code: controls by id,
// radio and text exchange, the message map, Enter and Esc, modal runs,
// timers, and the blocking message send from a worker thread.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "dialog/Dialog.h"
#include "dialog/MessageMap.h"
#include "recording_message_service.h"
#include "warning_collector.h"
#include "resource.h"

namespace {

// Ids of the probe dialog's controls.
enum : int {
  kEdit = 10,
  kStatic = 11,
  kButton = 12,
  kGroup = 13,
  kCombo = 14,
  kCheck = 15,
  kRadio0 = 20,
  kRadio1 = 21,
  kRadio2 = 22,
  kDefault = 30,
  kOther = 31,
};

class CProbeDlg : public CDialog {
 public:
  CProbeDlg() {
    Add(new QLineEdit(this), kEdit);
    Add(new QLabel(this), kStatic);
    Add(new QPushButton(this), kButton);
    Add(new QGroupBox(this), kGroup);
    auto* combo = new QComboBox(this);
    combo->addItems({QStringLiteral("A"), QStringLiteral("B"), QString()});
    combo->setCurrentIndex(-1);
    Add(combo, kCombo);
    Add(new QCheckBox(this), kCheck);
    auto* box = new QGroupBox(this);
    for (int id : {kRadio0, kRadio1, kRadio2}) Add(new QRadioButton(box), id);
    auto* defaultButton = new QPushButton(this);
    defaultButton->setDefault(true);
    defaultButton->hide();
    Add(defaultButton, kDefault);
    for (int id : {int{kOther}, IDOK}) Add(new QPushButton(this), id);
    // As in the templates: only the hidden default button is a default.
    for (int id : {int{kButton}, int{kOther}, IDOK}) static_cast<QPushButton*>(GetDlgItem(id))->setAutoDefault(false);
  }

  QWidget* Add(QWidget* w, int id) {
    w->setObjectName(QStringLiteral("id%1").arg(id));
    return w;
  }

  void OnDefault() { ++defaultClicks; }
  void OnOther() { ++otherClicks; }
  void OnComboChange() { ++comboChanges; }

  int m_nChoice = -1;
  QString m_strText;
  int defaultClicks = 0, otherClicks = 0, comboChanges = 0;
  int initCalls = 0;
  bool visibleAtInit = true;
  std::vector<int> ticks;
  int killOnTick = -1;  // a timer that kills itself on its first tick
  std::function<void(int)> onTick;  // runs inside OnTimer, after the record
  int depth = 0;                    // OnTimer calls on the stack
  std::vector<int> depths;          // of each tick, when it arrived
  QThread* messageThread = nullptr;
  std::atomic<bool> handled{false};
  std::function<void()> onMessage;  // runs inside OnMessage, after the record

 protected:
  bool OnInitDialog() override {
    ++initCalls;
    visibleAtInit = isVisible();
    return CDialog::OnInitDialog();
  }
  void DoDataExchange(bool save) override {
    DDX_Radio(save, {kRadio0, kRadio1, kRadio2}, m_nChoice);
    DDX_Text(save, kEdit, m_strText);
  }
  void OnTimer(int id) override {
    ticks.push_back(id);
    depths.push_back(++depth);
    if (id == killOnTick) KillTimer(id);
    if (onTick) onTick(id);
    --depth;
  }
  LRESULT OnMessage(unsigned message, WPARAM wParam, LPARAM lParam) override {
    messageThread = QThread::currentThread();
    handled = true;
    if (onMessage) onMessage();
    return static_cast<LRESULT>(message + wParam) + lParam;
  }
};

const CommandEntry<CProbeDlg> kProbeMap[] = {
    {kDefault, Notification::Clicked, &CProbeDlg::OnDefault},
    {kOther, Notification::Clicked, &CProbeDlg::OnOther},
    {kCombo, Notification::SelChange, &CProbeDlg::OnComboChange},
};

const CommandEntry<CProbeDlg> kBadRow[] = {
    {kStatic, Notification::Clicked, &CProbeDlg::OnOther},  // a static cannot be clicked
};

// Pumps events until `done` holds or five seconds pass.
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 5000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

TEST(DialogLayer, TextByIdForEveryKind) {
  CProbeDlg dlg;
  struct Case {
    int id;
    const char* set;
    const char* expected;                 // what GetDlgItemText gives back
    std::function<QString(QWidget*)> own;  // the control's own idea of it
  };
  const Case cases[] = {
      {kEdit, "编辑", "编辑", [](QWidget* w) { return static_cast<QLineEdit*>(w)->text(); }},
      {kStatic, "静态", "静态", [](QWidget* w) { return static_cast<QLabel*>(w)->text(); }},
      {kButton, "读取", "读取", [](QWidget* w) { return static_cast<QPushButton*>(w)->text(); }},
      {kCheck, "9600", "9600", [](QWidget* w) { return static_cast<QCheckBox*>(w)->text(); }},
      {kGroup, "蜂鸣器", "蜂鸣器", [](QWidget* w) { return static_cast<QGroupBox*>(w)->title(); }},
      // A drop-down list: setting a text selects that entry; unknown text
      // leaves the selection.
      {kCombo, "B", "B", [](QWidget* w) { return static_cast<QComboBox*>(w)->currentText(); }},
      {kCombo, "Z", "B", [](QWidget* w) { return static_cast<QComboBox*>(w)->currentText(); }},
  };
  for (const Case& c : cases) {
    dlg.SetDlgItemText(c.id, QString::fromUtf8(c.set));
    EXPECT_EQ(dlg.GetDlgItemText(c.id), QString::fromUtf8(c.expected)) << "id " << c.id;
    EXPECT_EQ(c.own(dlg.GetDlgItem(c.id)), QString::fromUtf8(c.expected)) << "id " << c.id;
  }
}

// A long value put into a narrow edit shows its beginning, not its tail.
TEST(DialogLayer, ProgramSetEditTextShowsFromTheStart) {
  CProbeDlg dlg;
  dlg.SetDlgItemText(kEdit, QStringLiteral("1000.000000"));
  EXPECT_EQ(static_cast<QLineEdit*>(dlg.GetDlgItem(kEdit))->cursorPosition(), 0);
}

TEST(DialogLayer, ComboSelectionAndEntries) {
  CProbeDlg dlg;
  EXPECT_EQ(dlg.GetComboSel(kCombo), -1);
  EXPECT_EQ(dlg.GetDlgItemText(kCombo), QString());
  struct Case {
    int select, expectedSel;
    const char* expectedText;
  };
  const Case cases[] = {{1, 1, "B"}, {0, 0, "A"}, {2, 2, ""}, {3, -1, ""}, {-1, -1, ""}, {0, 0, "A"}};
  for (const Case& c : cases) {
    dlg.SetComboSel(kCombo, c.select);
    EXPECT_EQ(dlg.GetComboSel(kCombo), c.expectedSel) << "select " << c.select;
    EXPECT_EQ(dlg.GetDlgItemText(kCombo), QString::fromUtf8(c.expectedText)) << "select " << c.select;
  }
  EXPECT_EQ(dlg.GetComboItemText(kCombo, 1), QStringLiteral("B"));
  EXPECT_EQ(dlg.GetComboItemText(kCombo, 7), QString());
}

TEST(DialogLayer, EnableShowAndCheckById) {
  CProbeDlg dlg;
  for (int id : {kEdit, kButton, kCombo, kCheck}) {
    dlg.EnableDlgItem(id, false);
    EXPECT_FALSE(dlg.GetDlgItem(id)->isEnabled()) << id;
    dlg.EnableDlgItem(id, true);
    EXPECT_TRUE(dlg.GetDlgItem(id)->isEnabled()) << id;
    dlg.ShowDlgItem(id, false);
    EXPECT_TRUE(dlg.GetDlgItem(id)->isHidden()) << id;
    dlg.ShowDlgItem(id, true);
    EXPECT_FALSE(dlg.GetDlgItem(id)->isHidden()) << id;
  }
  dlg.CheckDlgButton(kCheck, true);
  EXPECT_TRUE(dlg.IsDlgButtonChecked(kCheck));
  dlg.CheckDlgButton(kCheck, false);
  EXPECT_FALSE(dlg.IsDlgButtonChecked(kCheck));
}

TEST(DialogLayer, UnknownIdsAndWrongKindsAreHarmless) {
  CProbeDlg dlg;
  WarningCollector warnings;
  EXPECT_EQ(dlg.GetDlgItem(999), nullptr);
  EXPECT_EQ(dlg.GetDlgItemText(999), QString());
  dlg.SetDlgItemText(999, QStringLiteral("x"));
  dlg.EnableDlgItem(999, false);
  dlg.CheckDlgButton(999, true);
  EXPECT_FALSE(dlg.IsDlgButtonChecked(999));
  EXPECT_EQ(dlg.GetComboSel(kEdit), -1);  // an edit has no selection
  dlg.SetComboSel(kEdit, 1);
  EXPECT_TRUE(warnings.Messages().join('\n').contains(QStringLiteral("999")));
}

TEST(DialogLayer, RadioExchangeBothWaysIncludingNone) {
  CProbeDlg dlg;
  auto checked = [&] {
    std::array<bool, 3> state{};
    for (int i = 0; i < 3; ++i) state[i] = dlg.IsDlgButtonChecked(kRadio0 + i);
    return state;
  };
  struct Case {
    int value;
    std::array<bool, 3> shown;
    int savedBack;
  };
  // In sequence: each step starts from the state the previous one left.
  const Case cases[] = {
      {-1, {false, false, false}, -1}, {0, {true, false, false}, 0},
      {2, {false, false, true}, 2},    {-1, {false, false, false}, -1},
      {1, {false, true, false}, 1},    {5, {false, false, false}, -1},
  };
  for (const Case& c : cases) {
    dlg.m_nChoice = c.value;
    dlg.UpdateData(false);
    EXPECT_EQ(checked(), c.shown) << "value " << c.value;
    dlg.m_nChoice = 99;
    dlg.UpdateData(true);
    EXPECT_EQ(dlg.m_nChoice, c.savedBack) << "value " << c.value;
  }
  // After "none" the group is exclusive again: the user's clicks move the check.
  static_cast<QRadioButton*>(dlg.GetDlgItem(kRadio0))->click();
  static_cast<QRadioButton*>(dlg.GetDlgItem(kRadio2))->click();
  EXPECT_EQ(checked(), (std::array<bool, 3>{false, false, true}));
  dlg.UpdateData(true);
  EXPECT_EQ(dlg.m_nChoice, 2);
}

TEST(DialogLayer, TextExchange) {
  CProbeDlg dlg;
  dlg.m_strText = QStringLiteral("361752");
  dlg.UpdateData(false);
  EXPECT_EQ(dlg.GetDlgItemText(kEdit), QStringLiteral("361752"));
  dlg.SetDlgItemText(kEdit, QStringLiteral("typed"));
  dlg.UpdateData(true);
  EXPECT_EQ(dlg.m_strText, QStringLiteral("typed"));
}

TEST(DialogLayer, MessageMapBindsUserActionsOnly) {
  CProbeDlg dlg;
  WarningCollector warnings;
  EXPECT_EQ(BindCommands(&dlg, kProbeMap), 3);
  EXPECT_TRUE(warnings.Messages().isEmpty());
  EXPECT_EQ(BindCommands(&dlg, kBadRow), 0);  // refused...
  EXPECT_TRUE(warnings.Messages().join('\n').contains(QStringLiteral("11")));  // ...and said so

  static_cast<QPushButton*>(dlg.GetDlgItem(kOther))->click();
  EXPECT_EQ(dlg.otherClicks, 1);
  dlg.SetComboSel(kCombo, 1);  // the program's selection is no command
  EXPECT_EQ(dlg.comboChanges, 0);
  QTest::keyClick(dlg.GetDlgItem(kCombo), Qt::Key_Down);  // the user's is
  EXPECT_EQ(dlg.comboChanges, 1);
  EXPECT_EQ(dlg.GetComboSel(kCombo), 2);
}

TEST(DialogLayer, EnterPressesTheFocusedButtonOrTheDefaultCommand) {
  struct Case {
    int focus;
    int defaultClicks, otherClicks;
  };
  const Case cases[] = {
      {kEdit, 1, 0}, {kCheck, 1, 0}, {kCombo, 1, 0}, {kRadio1, 1, 0}, {kOther, 0, 1},
  };
  for (const Case& c : cases) {
    CProbeDlg dlg;
    BindCommands(&dlg, kProbeMap);
    dlg.show();
    QWidget* focus = dlg.GetDlgItem(c.focus);
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Return);
    EXPECT_EQ(dlg.defaultClicks, c.defaultClicks) << "focus on " << c.focus;
    EXPECT_EQ(dlg.otherClicks, c.otherClicks) << "focus on " << c.focus;
    EXPECT_TRUE(dlg.isVisible()) << "focus on " << c.focus;
  }
}

TEST(DialogLayer, DoModalInitialisesOnceAndReportsHowItEnded) {
  struct Case {
    const char* how;
    std::function<void(CProbeDlg&)> end;
    int result;
  };
  const Case cases[] = {
      {"Esc", [](CProbeDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, IDCANCEL},
      {"close box", [](CProbeDlg& d) { d.close(); }, IDCANCEL},
      {"OK button", [](CProbeDlg& d) { static_cast<QPushButton*>(d.GetDlgItem(IDOK))->click(); },
       IDOK},
      {"EndDialog", [](CProbeDlg& d) { d.EndDialog(7); }, 7},
  };
  for (const Case& c : cases) {
    CProbeDlg dlg;
    dlg.m_nChoice = 1;
    bool visibleWhileRunning = false;
    QTimer::singleShot(0, &dlg, [&] {
      visibleWhileRunning = dlg.isVisible();
      static_cast<QRadioButton*>(dlg.GetDlgItem(kRadio2))->click();
      c.end(dlg);
    });
    EXPECT_EQ(dlg.DoModal(), c.result) << c.how;
    EXPECT_EQ(dlg.initCalls, 1) << c.how;
    EXPECT_FALSE(dlg.visibleAtInit) << c.how;
    EXPECT_TRUE(visibleWhileRunning) << c.how;
    // Only OK copies the controls back into the members.
    EXPECT_EQ(dlg.m_nChoice, c.result == IDOK ? 2 : 1) << c.how;
  }
}

TEST(DialogLayer, TimersDeliverTheirIdsUntilKilled) {
  CProbeDlg dlg;
  auto count = [&](int id) { return std::count(dlg.ticks.begin(), dlg.ticks.end(), id); };
  QElapsedTimer clock;
  clock.start();
  dlg.killOnTick = 5;
  dlg.SetTimer(7, 20);
  dlg.SetTimer(9, 5);
  dlg.SetTimer(5, 5);
  ASSERT_TRUE(WaitFor([&] { return count(7) >= 2 && count(9) >= 2; }));
  EXPECT_GE(clock.elapsed(), 39);  // two periods of timer 7 at the least
  EXPECT_EQ(count(5), 1);          // killed from its own tick

  dlg.KillTimer(7);
  dlg.SetTimer(9, 5);  // setting again replaces, it does not add a second timer
  dlg.ticks.clear();
  ASSERT_TRUE(WaitFor([&] { return count(9) >= 4; }));
  EXPECT_EQ(count(7), 0);
  dlg.KillTimer(9);
  dlg.KillTimer(9);  // twice is harmless
}

// A handler that opens a modal box (here its loop alone) still gets the
// ticks of its own timer meanwhile, and can kill the timer from one of them.
TEST(DialogLayer, TicksReachANestedLoopOpenedByTheirOwnHandler) {
  CProbeDlg dlg;
  constexpr int kId = 1;
  constexpr int kPeriodMs = 10;
  QEventLoop box;
  bool gaveUp = false;
  dlg.onTick = [&](int) {
    if (dlg.ticks.size() == 1) {
      // Ends the box if the ticks never come, so a failure does not hang.
      QTimer::singleShot(5000, &box, [&] {
        gaveUp = true;
        box.quit();
      });
      box.exec();
    } else if (dlg.ticks.size() == 4) {
      dlg.KillTimer(kId);
      // Five more periods in the box: a killed timer stays quiet.
      QTimer::singleShot(5 * kPeriodMs, &box, &QEventLoop::quit);
    }
  };
  dlg.SetTimer(kId, kPeriodMs);
  ASSERT_TRUE(WaitFor([&] { return !dlg.ticks.empty() && dlg.depth == 0; }));
  EXPECT_FALSE(gaveUp) << "no tick while the first handler's box was open";
  EXPECT_EQ(dlg.ticks, (std::vector<int>{kId, kId, kId, kId}));
  // The three later ticks each came while the first was still on the stack.
  EXPECT_EQ(dlg.depths, (std::vector<int>{1, 2, 2, 2}));
}

// Expiries of a timer whose tick has not been delivered yet (its handler is
// busy elsewhere) add nothing: one tick per id waits, and KillTimer drops it.
TEST(DialogLayer, AtMostOneTickWaitsPerTimer) {
  CProbeDlg dlg;
  // Periods far beyond the test: every expiry below is one the test sends.
  dlg.SetTimer(3, 1000000);
  dlg.SetTimer(4, 2000000);
  std::map<int, int> qtIds;  // our id -> Qt's, found by period
  for (const auto& info : QAbstractEventDispatcher::instance()->registeredTimers(&dlg)) {
    if (info.interval == 1000000) qtIds[3] = info.timerId;
    if (info.interval == 2000000) qtIds[4] = info.timerId;
  }
  ASSERT_EQ(qtIds.size(), 2u);
  const auto expire = [&](int id, int times) {
    for (int i = 0; i < times; ++i) {
      QTimerEvent expiry(qtIds[id]);
      QCoreApplication::sendEvent(&dlg, &expiry);
    }
  };

  expire(3, 3);
  expire(4, 2);
  EXPECT_TRUE(dlg.ticks.empty());  // posted, not called in place
  QCoreApplication::sendPostedEvents(&dlg);
  std::vector<int> ticks = dlg.ticks;
  std::sort(ticks.begin(), ticks.end());
  EXPECT_EQ(ticks, (std::vector<int>{3, 4}));

  dlg.ticks.clear();
  expire(3, 1);
  expire(4, 1);
  dlg.KillTimer(3);
  QCoreApplication::sendPostedEvents(&dlg);
  EXPECT_EQ(dlg.ticks, std::vector<int>{4});

  // Set again while a tick of the old timer waits: the old tick is dropped.
  dlg.ticks.clear();
  expire(4, 1);
  dlg.SetTimer(4, 2000000);
  QCoreApplication::sendPostedEvents(&dlg);
  EXPECT_TRUE(dlg.ticks.empty());
  dlg.KillTimer(4);
}

TEST(DialogLayer, SendMessageFromAWorkerBlocksUntilHandledOnTheWindowThread) {
  CProbeDlg dlg;
  std::atomic<bool> returned{false};
  LRESULT result = 0;
  bool handledBeforeReturn = false;
  std::thread worker([&] {
    result = dlg.SendMessage(WM_SEARCH_FOUND, 2, 3);
    handledBeforeReturn = dlg.handled;
    returned = true;
  });
  const bool done = WaitFor([&] { return returned.load(); });
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_TRUE(handledBeforeReturn);
  EXPECT_EQ(result, static_cast<LRESULT>(WM_SEARCH_FOUND + 5));
  EXPECT_EQ(dlg.messageThread, QThread::currentThread());

  dlg.messageThread = nullptr;  // on the window's own thread: a direct call
  EXPECT_EQ(dlg.SendMessage(WM_SEARCH_PROGRESS), static_cast<LRESULT>(WM_SEARCH_PROGRESS));
  EXPECT_EQ(dlg.messageThread, QThread::currentThread());
}

// A window that stops taking messages (it is closing, and will wait for its
// workers) releases a worker's send at once and without the reply, however
// far the send has got; a send it answered still has its reply.
TEST(DialogLayer, SendMessageOfAClosingWindowReturnsAtOnceWithoutItsReply) {
  enum class Close { Never, BeforeTheSend, WithoutRunningIt, InsideTheHandler };
  const struct {
    const char* what;
    Close close;
    bool handled;
    LRESULT result;
  } cases[] = {
      {"answered", Close::Never, true, static_cast<LRESULT>(WM_SEARCH_FOUND + 5)},
      {"closed before the send", Close::BeforeTheSend, false, 0},
      // The window waits for its worker without running the send: no wait
      // on both sides, and the send never runs afterwards.
      {"closed while the send waits", Close::WithoutRunningIt, false, 0},
      // A box of the handler is up when the window closes.
      {"closed inside the handler", Close::InsideTheHandler, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CProbeDlg dlg;
    if (c.close == Close::BeforeTheSend) dlg.CloseMessages();
    if (c.close == Close::InsideTheHandler) dlg.onMessage = [&dlg] { dlg.CloseMessages(); };
    std::atomic<bool> returned{false};
    LRESULT result = -1;
    std::thread worker([&] {
      result = dlg.SendMessage(WM_SEARCH_FOUND, 2, 3);
      returned = true;
    });
    if (c.close == Close::WithoutRunningIt) {
      dlg.CloseMessages();
      worker.join();
    }
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    if (worker.joinable()) worker.join();
    QCoreApplication::processEvents();  // a send still queued stays unhandled
    EXPECT_EQ(dlg.handled.load(), c.handled);
    EXPECT_EQ(result, c.result);
  }
}

TEST(DialogLayer, MessagesFromAWorkerAreShownOnTheGuiThread) {
  CRecordingMessageService messages;
  CProbeDlg dlg;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    AppMessage(QStringLiteral("没有发现此串口或此串口被占用"));
    returned = true;
  });
  const bool done = WaitFor([&] { return returned.load(); });
  worker.join();
  ASSERT_TRUE(done);
  dlg.WindowMessage(QStringLiteral("读取失败!"));
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, QStringLiteral("没有发现此串口或此串口被占用"));
  EXPECT_TRUE(messages.shown[0].application);
  EXPECT_TRUE(messages.shown[0].onGuiThread);
  EXPECT_EQ(messages.shown[1].text, QStringLiteral("读取失败!"));
  EXPECT_FALSE(messages.shown[1].application);
}

}  // namespace
