// The auto-calibration commands on the real window against the simulated
// controller: the voltage start, and the resistivity procedure through its
// confirmation and countdown windows with the port held open throughout.
#include <QAbstractButton>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "window/Globals.h"
#include "dialog/MessageService.h"
#include "dialogs/WaitDlg.h"
#include "console_window_fixture.h"
#include "modal_watcher.h"
#include "qt_print.h"
#include "window_actions.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kStartVoltageCalibration = {0x01, 0x06, 0x10, 0x1C, 0x00, 0x01, 0x8D, 0x0C};
const Bytes kResistivityOn = {0x01, 0x06, 0x20, 0x09, 0x00, 0x01, 0x93, 0xC8};
const Bytes kResistivityOff = {0x01, 0x06, 0x20, 0x09, 0x00, 0x00, 0x52, 0x08};
const Bytes kLength1234 = {0x01, 0x06, 0x20, 0x0A, 0x04, 0xD2, 0x20, 0x95};
const Bytes kLength229 = {0x01, 0x06, 0x20, 0x0A, 0x00, 0xE5, 0x63, 0x83};
const Bytes kLength28 = {0x01, 0x06, 0x20, 0x0A, 0x00, 0x1C, 0xA3, 0xC1};

constexpr int kTickMs = 10;  // the countdown's second, shortened

QStringList Countdown(int from, int to) {
  QStringList texts;
  for (int i = from; i >= to; --i) texts << QString::number(i);
  return texts;
}

class AutoCalibrationTest : public ConsoleWindowTest {
 protected:
  void SetUp() override {
    ConsoleWindowTest::SetUp();
    g_bCalibrationDone = false;
    CWaitDlg::SetTickPeriodForTest(kTickMs);
    m_watcher.WatchText("CWaitDlg", IDC_WAIT_SECONDS);
    m_watcher.CloseUnexpected("CConfirmDlg");
  }
  void TearDown() override {
    CWaitDlg::SetTickPeriodForTest(1000);
    g_bCalibrationDone = false;
    ConsoleWindowTest::TearDown();
  }

  // Answers the confirmation with its button `id` (IDOK "确认", IDCANCEL
  // "取消"), noting whether the port was open meanwhile.
  void AnswerConfirmation(int id) {
    m_watcher.OnShow("CConfirmDlg", [this, id](QDialog& confirm) {
      m_portOpenAtConfirmation = PortHandle != nullptr;
      confirm.findChild<QAbstractButton*>(QStringLiteral("id%1").arg(id))->click();
    });
  }

  // Types `length`, chooses "开"; returns which radio shows afterwards.
  // `fault` runs once the start-up exchange is over.
  QString RunResistivityOn(const QString& length, const std::function<void()>& fault = {}) {
    QString radio;
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      if (fault) fault();
      dlg.SetDlgItemText(IDC_LINE_LENGTH, length);
      Click(dlg, IDC_AUTORES_ON);
      radio = CheckedRadio(dlg);
    });
    return radio;
  }

  static QString CheckedRadio(const CConsoleDlg& dlg) {
    if (dlg.IsDlgButtonChecked(IDC_AUTORES_OFF)) return QStringLiteral("关");
    if (dlg.IsDlgButtonChecked(IDC_AUTORES_ON)) return QStringLiteral("开");
    return QString();
  }

  std::vector<QString> Messages() const {
    std::vector<QString> texts;
    for (const auto& shown : m_messages.shown) texts.push_back(shown.text);
    return texts;
  }

  bool ShownCountdown() const {
    return std::find(m_watcher.shown.begin(), m_watcher.shown.end(), "CWaitDlg") != m_watcher.shown.end();
  }

  CModalWatcher m_watcher;
  bool m_portOpenAtConfirmation = false;
};

// --- Voltage ---------------------------------------------------------------------------

TEST_F(AutoCalibrationTest, VoltageStartAndItsTwoMessages) {
  struct Case {
    bool refused;
    const char* message;
  };
  for (const Case& c : {Case{false, "启动成功!"}, Case{true, "启动失败!"}}) {
    m_messages.shown.clear();
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      if (c.refused) m_server.InjectFault(sim::Fault::BadCrc);
      Click(dlg, IDC_AUTO_CALIBRATE_VOLTAGE);
    });
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kStartVoltageCalibration}));
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QString::fromUtf8(c.message));
    EXPECT_FALSE(m_messages.shown[0].application);
    EXPECT_TRUE(m_messages.shown[0].portOpen);
    EXPECT_EQ(PortHandle, nullptr);
  }
}

// --- Resistivity: the full procedure ------------------------------------------------

TEST_F(AutoCalibrationTest, FullRunWritesTheLengthThenSwitchesOff) {
  struct Case {
    const char* typed;
    Bytes lengthFrame;
    uint16_t stored;
  };
  // The length x 100 in double precision, truncated: 2.3 is 229.99... -> 229.
  const Case cases[] = {{"12.34", kLength1234, 1234}, {"2.3", kLength229, 229}, {"0.29", kLength28, 28}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    m_messages.shown.clear();
    m_watcher.texts.clear();
    AnswerConfirmation(IDOK);
    EXPECT_EQ(RunResistivityOn(QString::fromUtf8(c.typed)), QStringLiteral("关"));
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kResistivityOn, c.lengthFrame, kResistivityOff}));
    EXPECT_EQ(g_nCalibLineLength, c.stored);
    EXPECT_EQ(m_server.Device().Register(REG_LINE_LENGTH), c.stored);
    EXPECT_EQ(m_server.Device().Register(REG_RESISTIVITY_AUTOCAL), 0);
    EXPECT_TRUE(m_portOpenAtConfirmation);
    EXPECT_EQ(m_watcher.texts, Countdown(30, 0));
    ASSERT_EQ(Messages(), (std::vector<QString>{QStringLiteral("校准成功!")}));
    EXPECT_TRUE(m_messages.shown[0].portOpen);
    EXPECT_FALSE(m_messages.shown[0].application);
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_TRUE(g_bCalibrationDone);
    // Thirty ticks and the settling pause lie between switching on and the
    // length (the operator's confirmation adds to it).
    const std::vector<sim::ReceivedFrame> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_GE(requests[1].when - requests[0].when, std::chrono::milliseconds(30 * kTickMs + 500));
  }
}

TEST_F(AutoCalibrationTest, LengthsThatCannotBeWrittenAreRefusedBeforeAnything) {
  // 700 m would go out as its low 16 bits (44.64 m); letters and empty text
  // read as 0, 0.001 m as 0 hundredths.
  for (const char* typed : {"0", "-5", "abc", "", "700", "655.36", "0.001", "  "}) {
    SCOPED_TRACE(typed);
    m_messages.shown.clear();
    EXPECT_EQ(RunResistivityOn(QString::fromUtf8(typed)), QStringLiteral("关"));
    EXPECT_TRUE(Frames().empty());
    ASSERT_EQ(Messages(), (std::vector<QString>{QStringLiteral("请输入正确线长")}));
    EXPECT_EQ(m_messages.shown[0].detail, QStringLiteral("线长范围 0.01 到 655.35 米。"));
    EXPECT_TRUE(m_messages.shown[0].portOpen);
    EXPECT_EQ(PortHandle, nullptr);
  }
  EXPECT_FALSE(ShownCountdown());
}

TEST_F(AutoCalibrationTest, LongestLengthThatFitsIsTaken) {
  AnswerConfirmation(IDOK);
  EXPECT_EQ(RunResistivityOn(QStringLiteral("655.35")), QStringLiteral("关"));
  EXPECT_EQ(m_server.Device().Register(REG_LINE_LENGTH), 65535);
}

TEST_F(AutoCalibrationTest, CancelAtTheConfirmationLeavesTheControllerOn) {
  for (bool earlierSuccess : {false, true}) {
    SCOPED_TRACE(earlierSuccess);
    g_bCalibrationDone = earlierSuccess;
    AnswerConfirmation(IDCANCEL);
    // The radio stays "开", unless an earlier run of this process succeeded.
    EXPECT_EQ(RunResistivityOn(QStringLiteral("12.34")),
              earlierSuccess ? QStringLiteral("关") : QStringLiteral("开"));
    EXPECT_TRUE(m_portOpenAtConfirmation);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kResistivityOn}));
    EXPECT_EQ(m_server.Device().Register(REG_RESISTIVITY_AUTOCAL), 1);
    EXPECT_FALSE(ShownCountdown());
    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_EQ(PortHandle, nullptr);
  }
}

TEST_F(AutoCalibrationTest, ClosingTheCountdownEarlySendsNothingMore) {
  AnswerConfirmation(IDOK);
  bool portOpenInCountdown = false;
  m_watcher.OnText(QStringLiteral("27"), [&](QDialog& countdown) {
    portOpenInCountdown = PortHandle != nullptr;
    countdown.reject();  // the close box
  });
  EXPECT_EQ(RunResistivityOn(QStringLiteral("12.34")), QStringLiteral("开"));
  EXPECT_TRUE(portOpenInCountdown);
  EXPECT_EQ(PortHandle, nullptr);
  QTest::qWait(40 * kTickMs + 600);  // past where the countdown would have ended
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kResistivityOn}));
  EXPECT_EQ(m_watcher.texts.last(), QStringLiteral("27"));
  EXPECT_TRUE(m_messages.shown.empty());
  EXPECT_FALSE(g_bCalibrationDone);
}

TEST_F(AutoCalibrationTest, RefusedClosingWrites) {
  struct Case {
    int goodReplies;  // before the refused one
    const char* message;
    std::vector<Bytes> frames;
    uint16_t autocal;  // 0x2009 on the controller afterwards
  };
  const Case cases[] = {
      {1, "设置线长失败!", {kResistivityOn, kLength1234}, 1},  // 0x2009 not written
      {2, "关闭自动校准电压出错!", {kResistivityOn, kLength1234, kResistivityOff}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    m_messages.shown.clear();
    m_watcher.texts.clear();
    m_server.Device().SetRegister(REG_RESISTIVITY_AUTOCAL, 0);
    AnswerConfirmation(IDOK);
    EXPECT_EQ(RunResistivityOn(QStringLiteral("12.34"),
                               [&] { m_server.InjectFault(sim::Fault::Silence, 1, 0, c.goodReplies); }),
              QStringLiteral("开"));
    EXPECT_EQ(Frames(), c.frames);
    ASSERT_EQ(Messages(), (std::vector<QString>{QString::fromUtf8(c.message)}));
    EXPECT_TRUE(m_messages.shown[0].portOpen);
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(m_watcher.texts, Countdown(30, 0));
    EXPECT_EQ(m_server.Device().Register(REG_RESISTIVITY_AUTOCAL), c.autocal);
    EXPECT_FALSE(g_bCalibrationDone);
  }
}

// A message box the operator leaves up for a while: a nested loop of its
// own, as a real box runs, in which the countdown's timer goes on ticking.
class CLingeringMessages : public CMessageService {
 public:
  explicit CLingeringMessages(int ms) : m_ms(ms), m_previous(InstallMessageService(this)) {}
  ~CLingeringMessages() override { InstallMessageService(m_previous); }
  void Show(QWidget*, const QString& text) override {
    texts << text;
    QEventLoop loop;
    QTimer::singleShot(m_ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
  QStringList texts;

 private:
  int m_ms;
  CMessageService* m_previous;
};

TEST_F(AutoCalibrationTest, TicksDuringTheFinalMessageCountOnAndSendNothing) {
  AnswerConfirmation(IDOK);
  CLingeringMessages lingering(20 * kTickMs);
  EXPECT_EQ(RunResistivityOn(QStringLiteral("12.34")), QStringLiteral("关"));
  EXPECT_EQ(lingering.texts, QStringList{QStringLiteral("校准成功!")});
  // 30 down to 0, then below 0 while the box was up.
  const QStringList& texts = m_watcher.texts;
  ASSERT_GT(texts.size(), 31);
  EXPECT_EQ(texts.mid(0, 31), Countdown(30, 0));
  EXPECT_EQ(texts.mid(31), Countdown(-1, -static_cast<int>(texts.size() - 31)));
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kResistivityOn, kLength1234, kResistivityOff}));
  EXPECT_EQ(PortHandle, nullptr);
  EXPECT_TRUE(g_bCalibrationDone);
}

// --- Resistivity: the switches refused -----------------------------------------------

TEST_F(AutoCalibrationTest, RefusedSwitchOnShowsNoDialogAndLeavesTheScreen) {
  QString radioAfter, radioOnRefresh;
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    m_server.InjectFault(sim::Fault::ShortReply);
    dlg.SetDlgItemText(IDC_LINE_LENGTH, QStringLiteral("12.34"));
    Click(dlg, IDC_AUTORES_ON);
    radioAfter = CheckedRadio(dlg);
    dlg.UpdateData(false);  // the member is back at 0
    radioOnRefresh = CheckedRadio(dlg);
  });
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kResistivityOn}));
  EXPECT_EQ(Messages(), (std::vector<QString>{QStringLiteral("校验出错!")}));
  EXPECT_EQ(radioAfter, QStringLiteral("开"));
  EXPECT_EQ(radioOnRefresh, QStringLiteral("关"));
  EXPECT_EQ(PortHandle, nullptr);
  EXPECT_EQ(std::count(m_watcher.shown.begin(), m_watcher.shown.end(), "CConfirmDlg"), 0);
}

TEST_F(AutoCalibrationTest, SwitchOff) {
  for (bool refused : {false, true}) {
    SCOPED_TRACE(refused);
    m_messages.shown.clear();
    QString radioAfter, radioOnRefresh;
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      if (refused) m_server.InjectFault(sim::Fault::Silence);
      dlg.CheckDlgButton(IDC_AUTORES_ON, true);  // on, as a command would leave it
      Click(dlg, IDC_AUTORES_OFF);
      radioAfter = CheckedRadio(dlg);
      dlg.UpdateData(false);
      radioOnRefresh = CheckedRadio(dlg);
    });
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kResistivityOff}));
    EXPECT_EQ(radioAfter, QStringLiteral("关"));
    if (refused) {
      // Still on as far as anyone knows: the member is back at 1.
      EXPECT_EQ(Messages(), (std::vector<QString>{QStringLiteral("校验出错!")}));
      EXPECT_EQ(radioOnRefresh, QStringLiteral("开"));
    } else {
      EXPECT_TRUE(m_messages.shown.empty());
      EXPECT_EQ(radioOnRefresh, QStringLiteral("关"));
    }
    EXPECT_EQ(PortHandle, nullptr);
  }
}

TEST_F(AutoCalibrationTest, PortMissing) {
  struct Case {
    int button;
    const char* radio;  // shown afterwards
  };
  for (const Case& c : {Case{IDC_AUTORES_ON, "关"}, Case{IDC_AUTORES_OFF, "关"},
                        Case{IDC_AUTO_CALIBRATE_VOLTAGE, "关"}}) {
    SCOPED_TRACE(c.button);
    m_messages.shown.clear();
    QString radio;
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      SetPortPath(1, "/dev/qd7420-test-no-such-device");
      dlg.SetDlgItemText(IDC_LINE_LENGTH, QStringLiteral("12.34"));
      Click(dlg, c.button);
      radio = CheckedRadio(dlg);
      SetPortPath(1, m_server.DevicePath());
    });
    EXPECT_TRUE(Frames().empty());
    ASSERT_EQ(Messages(), (std::vector<QString>{QStringLiteral("没有发现此串口或此串口被占用")}));
    EXPECT_TRUE(m_messages.shown[0].application);
    EXPECT_EQ(radio, QString::fromUtf8(c.radio));
  }
}

}  // namespace
