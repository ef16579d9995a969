// Device administration against the simulated controller: the working mode
// behind its access code, the address and baud-rate change, the device
// clock, and the radios that write their choice (buzzer, display mode).
#include <QDateTime>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/Globals.h"
#include "console_window_fixture.h"
#include "expected_states.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"
#include "window_actions.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kWorkMode0 = {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x00, 0x5E, 0x2F};
const Bytes kWorkMode1 = {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x01, 0x9F, 0xEF};
const Bytes kWorkMode2 = {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x02, 0xDF, 0xEE};
const Bytes kBuzzerOff = {0x01, 0x06, 0x20, 0x04, 0x00, 0x01, 0x02, 0x0B};
const Bytes kBuzzerOn = {0x01, 0x06, 0x20, 0x04, 0x00, 0x00, 0xC3, 0xCB};
const Bytes kAddress17At38400 = {0x01, 0x10, 0x20, 0x0D, 0x00, 0x03, 0x06, 0x00,
                                 0x11, 0x00, 0x00, 0x96, 0x00, 0x4F, 0x19};
const Bytes kClock20261207210509 = {0x01, 0x10, 0x20, 0x05, 0x00, 0x04, 0x08, 0x20, 0x26,
                                    0x12, 0x07, 0x21, 0x05, 0x00, 0x09, 0xEC, 0x45};
const Bytes kClock2Write20150907080503 = {0x01, 0x10, 0x10, 0x33, 0x00, 0x04, 0x08, 0x20, 0x15,
                                          0x09, 0x07, 0x08, 0x05, 0x00, 0x03, 0x6D, 0x4E};
const Bytes kClock2Read = {0x01, 0x03, 0x10, 0x33, 0x00, 0x04, 0xB0, 0xC6};

const int kTimeStatics[] = {IDC_TIME_YEAR, IDC_TIME_MONTH,  IDC_TIME_DAY,
                            IDC_TIME_HOUR, IDC_TIME_MINUTE, IDC_TIME_SECOND};
const int kClockEdits[] = {IDC_CLOCK_YEAR, IDC_CLOCK_MONTH,  IDC_CLOCK_DAY,
                           IDC_CLOCK_HOUR, IDC_CLOCK_MINUTE, IDC_CLOCK_SECOND};

template <size_t N>
QStringList Texts(const CConsoleDlg& dlg, const int (&ids)[N]) {
  QStringList texts;
  for (int id : ids) texts << dlg.GetDlgItemText(id);
  return texts;
}

using AdminTest = ConsoleWindowTest;

TEST_F(AdminTest, RightCodeWritesFactoryModeOnceAndWidens) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    const std::map<int, bool> before = EnabledStates(dlg);
    EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_DISPLAY_VOLTAGE));
    bool masked = false;
    AnswerNextPassword(QStringLiteral("361752"), PasswordAnswer::Ok, &masked);
    Choose(dlg, IDC_WORK_MODE, 1);
    EXPECT_TRUE(masked);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kWorkMode1}));
    EXPECT_EQ(g_nWorkMode, 1);
    ExpectStates(dlg, kExpectedWorkMode, kFactoryMode, before);
    EXPECT_TRUE(dlg.IsWide());
    EXPECT_EQ(dlg.frameGeometry().width(), dlg.FullRect().width());
    EXPECT_TRUE(dlg.IsDlgButtonChecked(IDC_DISPLAY_VOLTAGE));
  });
  EXPECT_TRUE(m_messages.shown.empty());
}

// Nothing is sent unless the code is right and the dialog confirmed; the
// list, the mode variable and the controls stay in the confirmed mode.
TEST_F(AdminTest, WrongOrCancelledCodeSendsNothing) {
  struct Case {
    const char* name;
    const char* typed;
    PasswordAnswer how;
    bool wrongCode;  // "密码错误!"
  };
  const Case cases[] = {
      {"WrongCode", "123456", PasswordAnswer::Ok, true},
      {"Empty", "", PasswordAnswer::Ok, true},
      {"OneDigitMore", "3617520", PasswordAnswer::Ok, true},
      {"Escape", "361752", PasswordAnswer::Escape, false},
      {"CloseBox", "361752", PasswordAnswer::CloseBox, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_messages.shown.clear();
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      const std::map<int, bool> before = EnabledStates(dlg);
      AnswerNextPassword(QString::fromUtf8(c.typed), c.how);
      Choose(dlg, IDC_WORK_MODE, 1);
      EXPECT_TRUE(Frames().empty());
      EXPECT_EQ(g_nWorkMode, 0);
      EXPECT_EQ(dlg.GetComboSel(IDC_WORK_MODE), 0);
      EXPECT_EQ(EnabledStates(dlg), before);
      EXPECT_FALSE(dlg.IsWide());
      // The members shown again: the buzzer still unknown, neither radio.
      EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_BUZZER_OFF));
      EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_BUZZER_ON));
    });
    if (c.wrongCode) {
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("密码错误!"));
      EXPECT_TRUE(m_messages.shown[0].application);
    } else {
      EXPECT_TRUE(m_messages.shown.empty());
    }
  }
}

// A factory selection the controller never took, followed by whatever once
// applied the list's mode: a monitoring start and stop, a search stopped, a
// search that finds. Each ends in measurement mode: the factory-only
// controls disabled, the window narrow, the measurement block polled.
TEST_F(AdminTest, UnconfirmedFactoryModeCannotBeWalkedAround) {
  enum class Then { Monitoring, SearchStopped, SearchFound };
  struct Case {
    const char* name;
    const char* typed;
    PasswordAnswer how;
    sim::Fault fault;  // on the mode write
    Then then;
  };
  const Case cases[] = {
      {"EscThenMonitoring", "361752", PasswordAnswer::Escape, sim::Fault::None, Then::Monitoring},
      {"CloseBoxThenMonitoring", "361752", PasswordAnswer::CloseBox, sim::Fault::None, Then::Monitoring},
      {"WrongCodeThenMonitoring", "123456", PasswordAnswer::Ok, sim::Fault::None, Then::Monitoring},
      {"RefusedWriteThenMonitoring", "361752", PasswordAnswer::Ok, sim::Fault::Silence, Then::Monitoring},
      {"SearchStoppedInMeasurementMode", "", PasswordAnswer::Ok, sim::Fault::None, Then::SearchStopped},
      {"EscThenSearchStopped", "361752", PasswordAnswer::Escape, sim::Fault::None, Then::SearchStopped},
      {"EscThenSearchFound", "361752", PasswordAnswer::Escape, sim::Fault::None, Then::SearchFound},
      {"WrongCodeThenSearchFound", "000000", PasswordAnswer::Ok, sim::Fault::None, Then::SearchFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_messages.shown.clear();
    g_nSuccessCount = g_nFailCount = 0;
    RunWindow([&](CConsoleDlg& dlg) {
      const std::map<int, bool> atStart = EnabledStates(dlg);
      if (c.typed[0]) {
        if (c.fault != sim::Fault::None) m_server.InjectFault(c.fault, 1);
        AnswerNextPassword(QString::fromUtf8(c.typed), c.how);
        Choose(dlg, IDC_WORK_MODE, 1);
      }
      m_server.ClearRequests();
      switch (c.then) {
        case Then::Monitoring:
          Click(dlg, IDC_START_DETECTION);
          ASSERT_TRUE(WaitForPolls(1));
          Click(dlg, IDC_START_DETECTION);
          EXPECT_EQ(Frames().front(), (Bytes{0x01, 0x03, 0x20, 0x00, 0x00, 0x09, 0x8E, 0x0C}));
          ExpectStates(dlg, kExpectedMonitoring, kStoppedMeasurement, atStart);
          break;
        case Then::SearchStopped:
          Click(dlg, IDC_SEARCH);
          Click(dlg, IDC_SEARCH);
          break;
        case Then::SearchFound:
          Click(dlg, IDC_SEARCH);
          ASSERT_TRUE(WaitUntil([&] { return dlg.GetDlgItemText(IDC_SEARCH) == QStringLiteral("搜索参数"); }));
          break;
      }
      ExpectStates(dlg, kExpectedWorkMode, kMeasurementMode, atStart);
      EXPECT_FALSE(dlg.IsWide());
      EXPECT_EQ(dlg.frameGeometry().width(), CConsoleDlg::NarrowWidth(dlg.FullRect().width()));
      EXPECT_EQ(dlg.GetComboSel(IDC_WORK_MODE), 0);
      EXPECT_EQ(g_nWorkMode, 0);
    });
  }
}

TEST_F(AdminTest, ConfirmedSwitchBackToMeasurementDisablesAndNarrows) {
  RunWindow([&](CConsoleDlg& dlg) {
    const std::map<int, bool> atStart = EnabledStates(dlg);
    EnterFactoryMode(dlg);
    m_server.ClearRequests();
    Choose(dlg, IDC_WORK_MODE, 0);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kWorkMode0}));
    EXPECT_EQ(g_nWorkMode, 0);
    ExpectStates(dlg, kExpectedWorkMode, kMeasurementMode, atStart);
    EXPECT_FALSE(dlg.IsWide());
    EXPECT_EQ(dlg.frameGeometry().width(), CConsoleDlg::NarrowWidth(dlg.FullRect().width()));
  });
  EXPECT_TRUE(m_messages.shown.empty());
}

// A refused mode write returns the list to the last confirmed factory
// position, or to "测量模式" when there has been none; the controls and the
// layout stay as they were.
TEST_F(AdminTest, RefusedModeWriteFallsBackToTheConfirmedMode) {
  struct Case {
    const char* name;
    std::vector<int> confirmed;  // positions confirmed first
    int attempt;
    int listAfter;
  };
  const Case cases[] = {
      {"FactoryBeforeAnyConfirmation", {}, 1, 0},
      // The confirmed measurement mode is the one to return to.
      {"FactoryAfterFactoryAndMeasurement", {1, 0}, 1, 0},
      {"MeasurementAfterFactory", {1}, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_messages.shown.clear();
    RunWindow([&](CConsoleDlg& dlg) {
      for (int position : c.confirmed) {
        if (position > 0)
          EnterFactoryMode(dlg);
        else
          Choose(dlg, IDC_WORK_MODE, 0);
      }
      const std::map<int, bool> before = EnabledStates(dlg);
      const bool wide = dlg.IsWide();
      m_server.ClearRequests();
      m_server.InjectFault(sim::Fault::Silence, 1);
      if (c.attempt > 0) AnswerNextPassword(QStringLiteral("361752"), PasswordAnswer::Ok);
      Choose(dlg, IDC_WORK_MODE, c.attempt);
      EXPECT_EQ(Frames(), (std::vector<Bytes>{c.attempt > 0 ? kWorkMode1 : kWorkMode0}));
      EXPECT_EQ(dlg.GetComboSel(IDC_WORK_MODE), c.listAfter);
      EXPECT_EQ(g_nWorkMode, c.listAfter);
      EXPECT_EQ(EnabledStates(dlg), before);
      EXPECT_EQ(dlg.IsWide(), wide);
    });
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("设置模式失败!"));
    EXPECT_FALSE(m_messages.shown[0].application);
    EXPECT_TRUE(m_messages.shown[0].portOpen);
  }
}

// The request goes to the current address; once the controller has taken
// the new settings, the top row follows them, so that the next command
// ("读取" here) reaches the controller where it now answers.
TEST_F(AdminTest, NewAddressAndBaudGoToTheCurrentAddressAndTheTopRowFollows) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    dlg.SetDlgItemText(IDC_NEW_ADDRESS, QStringLiteral("17"));
    dlg.SetComboSel(IDC_NEW_BAUD, 5);  // "38400"
    Click(dlg, IDC_CHANGE_ADDRESS_BAUD);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kAddress17At38400}));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("17"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BAUD), QStringLiteral("38400"));
    EXPECT_EQ(dlg.GetComboSel(IDC_BAUD), 5);

    m_server.ClearRequests();
    Click(dlg, IDC_READ_LINE_LENGTH);
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0].bytes.at(0), 17);
    EXPECT_EQ(m_server.Requests()[0].lineBaud, 38400);
  });
  EXPECT_TRUE(m_messages.shown.empty());
  EXPECT_EQ(m_server.Device().Address(), 17);
  EXPECT_EQ(m_server.Device().Baud(), 38400);
}

// An address or baud rate that would leave the controller unreachable is
// refused before anything is sent, while the port is open.
TEST_F(AdminTest, UnreachableAddressOrBaudIsRefused) {
  struct Case {
    const char* name;
    const char* address;
    int baudEntry;  // -1: no selection; 6: the empty seventh entry
    const char* message;
  };
  const Case cases[] = {
      {"AddressZero", "0", 5, "不能为空，地址范围在1--255"},
      {"Address256", "256", 5, "不能为空，地址范围在1--255"},
      {"Letters", "abc", 5, "不能为空，地址范围在1--255"},
      {"Empty", "", 5, "不能为空，地址范围在1--255"},
      {"Negative", "-3", 5, "不能为空，地址范围在1--255"},
      {"EmptyBaudEntry", "17", 6, "请选择波特率"},
      {"NoBaudSelected", "17", -1, "请选择波特率"},
  };
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      m_messages.shown.clear();
      dlg.SetDlgItemText(IDC_NEW_ADDRESS, QString::fromUtf8(c.address));
      dlg.SetComboSel(IDC_NEW_BAUD, c.baudEntry);
      Click(dlg, IDC_CHANGE_ADDRESS_BAUD);
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QString::fromUtf8(c.message));
      if (c.baudEntry == 5) {  // a refused address names the range
        EXPECT_EQ(m_messages.shown[0].detail, QStringLiteral("新地址范围 1 到 255。"));
      }
      EXPECT_FALSE(m_messages.shown[0].application);
      EXPECT_TRUE(m_messages.shown[0].portOpen);
      EXPECT_EQ(PortHandle, nullptr);
    }
    EXPECT_TRUE(Frames().empty());
  });
}

TEST_F(AdminTest, RefusedAddressChangeSaysSo) {
  m_server.InjectFault(sim::Fault::BadCrc, 1, 0, /*after=*/2);  // past the start-up
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetDlgItemText(IDC_NEW_ADDRESS, QStringLiteral("17"));
    dlg.SetComboSel(IDC_NEW_BAUD, 5);
    Click(dlg, IDC_CHANGE_ADDRESS_BAUD);
    // Refused: the top row keeps the settings the controller still has.
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("1"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BAUD), QStringLiteral("9600"));
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("修改失败!"));
  EXPECT_FALSE(m_messages.shown[0].application);
}

TEST_F(AdminTest, SystemTimeSendsTheBcdClockAndShowsIt) {
  const QDateTime fixed(QDate(2026, 12, 7), QTime(21, 5, 9));
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetTimeSource([&] { return fixed; });
    m_server.ClearRequests();
    const QStringList shownBefore = Texts(dlg, kTimeStatics);

    m_server.InjectFault(sim::Fault::Silence, 1);
    Click(dlg, IDC_SET_SYSTEM_TIME);
    EXPECT_EQ(Texts(dlg, kTimeStatics), shownBefore);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("设置失败"));  // no "!"
    EXPECT_FALSE(m_messages.shown[0].application);

    Click(dlg, IDC_SET_SYSTEM_TIME);
    EXPECT_EQ(Texts(dlg, kTimeStatics), (QStringList{"2026", "12", "7", "21", "5", "9"}));
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kClock20261207210509, kClock20261207210509}));
  });
  EXPECT_EQ(m_messages.shown.size(), 1u);
}

TEST_F(AdminTest, HiddenClockButtonsReadAndWriteTheSecondClock) {
  sim::Controller& device = m_server.Device();
  const uint16_t clock[4] = {0x2015, 0x0907, 0x0805, 0x0003};
  for (uint16_t i = 0; i < 4; ++i) device.SetRegister(REG_CLOCK_2 + i, clock[i]);
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    Click(dlg, IDC_READ_CLOCK);
    EXPECT_EQ(Texts(dlg, kClockEdits), (QStringList{"2015", "9", "7", "8", "5", "3"}));
    Click(dlg, IDC_WRITE_CLOCK);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kClock2Read, kClock2Write20150907080503}));
  });
  EXPECT_TRUE(m_messages.shown.empty());
}

// A typed field beyond its digits would go out wrapped (100 as 0xA0, an
// int overflow for 9999999999): "设置失败" instead, and nothing on the line.
TEST_F(AdminTest, HiddenClockWriteRefusesAFieldBeyondItsDigits) {
  struct Case {
    int field;
    const char* text;
  };
  const Case cases[] = {{0, "10000"}, {0, "-1"}, {0, "9999999999"}, {1, "100"},
                        {2, "-1"},    {3, "100"}, {4, "9999999999"}, {5, "100"}};
  RunWindow([&](CConsoleDlg& dlg) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.field) + " = " + c.text);
      const char* const fields[6] = {"2015", "9", "7", "8", "5", "3"};
      for (int i = 0; i < 6; ++i)
        dlg.SetDlgItemText(kClockEdits[i], QString::fromUtf8(i == c.field ? c.text : fields[i]));
      m_server.ClearRequests();
      m_messages.shown.clear();
      Click(dlg, IDC_WRITE_CLOCK);
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("设置失败"));
      EXPECT_TRUE(Frames().empty());
      EXPECT_EQ(PortHandle, nullptr);
    }
    // The widest values that fit go out as their digits.
    const char* const widest[6] = {"9999", "99", "99", "99", "99", "99"};
    for (int i = 0; i < 6; ++i) dlg.SetDlgItemText(kClockEdits[i], QString::fromUtf8(widest[i]));
    m_server.ClearRequests();
    m_messages.shown.clear();
    Click(dlg, IDC_WRITE_CLOCK);
    const std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Bytes(frames[0].begin() + 7, frames[0].begin() + 15),
              (Bytes{0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x00, 0x99}));
  });
}

// The buzzer and display-mode radios: each click one write. A refused one
// says so and the group shows the choice it had before the click at once,
// not at some later copy of the members to the screen.
TEST_F(AdminTest, RadiosWriteTheirChoiceAndShowThePreviousOneOnRefusal) {
  struct Case {
    int from;  // accepted first
    int to;    // then refused
    const Bytes* fromFrame;
    const Bytes* toFrame;
    const char* failure;
  };
  const Case cases[] = {
      {IDC_BUZZER_OFF, IDC_BUZZER_ON, &kBuzzerOff, &kBuzzerOn, "校验出错!"},
      {IDC_BUZZER_ON, IDC_BUZZER_OFF, &kBuzzerOn, &kBuzzerOff, "校验出错!"},
      {IDC_DISPLAY_VOLTAGE, IDC_DISPLAY_ADC, &kWorkMode1, &kWorkMode2, "设置失败"},
      {IDC_DISPLAY_ADC, IDC_DISPLAY_VOLTAGE, &kWorkMode2, &kWorkMode1, "设置失败"},
  };
  RunWindow([&](CConsoleDlg& dlg) {
    EnterFactoryMode(dlg);  // the display radios are usable in factory mode
    for (const Case& c : cases) {
      SCOPED_TRACE(c.to);
      m_server.ClearRequests();
      m_messages.shown.clear();
      Click(dlg, c.from);
      EXPECT_TRUE(dlg.IsDlgButtonChecked(c.from));
      EXPECT_TRUE(m_messages.shown.empty());

      m_server.InjectFault(sim::Fault::Silence, 1);
      Click(dlg, c.to);
      EXPECT_EQ(Frames(), (std::vector<Bytes>{*c.fromFrame, *c.toFrame}));
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QString::fromUtf8(c.failure));
      EXPECT_FALSE(m_messages.shown[0].application);
      EXPECT_TRUE(m_messages.shown[0].portOpen);
      EXPECT_TRUE(dlg.IsDlgButtonChecked(c.from));
      EXPECT_FALSE(dlg.IsDlgButtonChecked(c.to));
    }
  });
}

// A radio whose write cannot even be sent (no port) does not keep its look.
TEST_F(AdminTest, RadioWithoutAPortShowsThePreviousChoice) {
  RunWindow([&](CConsoleDlg& dlg) {
    SetPortPath(1, "/dev/qd7420-no-such-port");
    Click(dlg, IDC_BUZZER_ON);
    // Back to what was known before the click: nothing, neither radio.
    EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_BUZZER_OFF));
    EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_BUZZER_ON));
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("没有发现此串口或此串口被占用"));
}

}  // namespace
