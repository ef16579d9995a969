// Live monitoring against the simulated controller, with the real one-second
// poll timer: start and stop with their control states, the counters, every
// display rule, the working-mode follow, the address read each tick, a
// refused start, an unplugged adapter, a remote server that goes away and
// comes back, and ticks that never overlap.
#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Globals.h"
#include "console_window_fixture.h"
#include "exchange.h"
#include "expected_states.h"
#include "line_servers.h"
#include "registers.h"
#include "resource.h"
#include "port_lock.h"
#include "serial_port.h"
#include "window_actions.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kMeasurementPoll = {0x01, 0x03, 0x20, 0x00, 0x00, 0x09, 0x8E, 0x0C};
const Bytes kMeasurementPollAt2 = {0x02, 0x03, 0x20, 0x00, 0x00, 0x09, 0x8E, 0x3F};
const Bytes kFactoryPoll = {0x01, 0x03, 0x1F, 0xF9, 0x00, 0x0F, 0xD2, 0x2B};

const char kStart[] = "开始检测";
const char kStop[] = "停止读取";

class MonitoringTest : public ConsoleWindowTest {
 protected:
  void SetUp() override {
    ConsoleWindowTest::SetUp();
    g_nSuccessCount = g_nFailCount = 0;
  }

  static QString Text(const CConsoleDlg& dlg, int id) { return dlg.GetDlgItemText(id); }
  static QString Caption(const CConsoleDlg& dlg) { return Text(dlg, IDC_START_DETECTION); }

  // Waits for the next poll to end, accepted or not.
  static bool NextPoll() { return WaitForPolls(g_nSuccessCount + g_nFailCount + 1); }

  Bytes LastFrame() const {
    const auto frames = Frames();
    return frames.empty() ? Bytes{} : frames.back();
  }
};

TEST_F(MonitoringTest, StartAndStopSetTheTableAndTheCountersRestartFromZero) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    const std::map<int, bool> before = EnabledStates(dlg);
    Click(dlg, IDC_START_DETECTION);
    EXPECT_EQ(Caption(dlg), QString::fromUtf8(kStop));
    EXPECT_NE(PortHandle, nullptr);  // held from start to stop
    ExpectStates(dlg, kExpectedMonitoring, kRunning, before);

    ASSERT_TRUE(WaitForPolls(1));
    m_server.InjectFault(sim::Fault::BadCrc, 1);
    ASSERT_TRUE(WaitForPolls(3));
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kMeasurementPoll, kMeasurementPoll, kMeasurementPoll}));
    EXPECT_EQ(g_nSuccessCount, 2);
    EXPECT_EQ(g_nFailCount, 1);

    Click(dlg, IDC_START_DETECTION);
    EXPECT_EQ(Caption(dlg), QString::fromUtf8(kStart));
    EXPECT_EQ(PortHandle, nullptr);
    ExpectStates(dlg, kExpectedMonitoring, kStoppedMeasurement, before);
    EXPECT_FALSE(dlg.IsWide());
    // Stopping keeps the counts shown; no tick comes any more.
    QTest::qWait(1500);
    EXPECT_EQ(Frames().size(), 3u);
    EXPECT_EQ(Text(dlg, IDC_GOOD_COUNT), QStringLiteral("2"));
    EXPECT_EQ(Text(dlg, IDC_FAIL_COUNT), QStringLiteral("1"));

    Click(dlg, IDC_START_DETECTION);
    EXPECT_EQ(Text(dlg, IDC_GOOD_COUNT), QStringLiteral("0"));
    EXPECT_EQ(Text(dlg, IDC_FAIL_COUNT), QStringLiteral("0"));
    EXPECT_EQ(g_nSuccessCount + g_nFailCount, 0);
    Click(dlg, IDC_START_DETECTION);
  });
  EXPECT_TRUE(m_messages.shown.empty());
}

// Other programs see the line taken while monitoring holds it, and free
// again after "停止读取".
TEST_F(MonitoringTest, LockFileLastsFromStartToStop) {
  char folder[] = "/tmp/qd7420-locks-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  SetLockFolders({folder});
  const std::string lock =
      std::string(folder) + "/" + LockFileName(m_server.DevicePath());
  RunWindow([&](CConsoleDlg& dlg) {
    EXPECT_FALSE(std::filesystem::exists(lock));  // the start-up closed its port
    Click(dlg, IDC_START_DETECTION);
    ASSERT_TRUE(WaitForPolls(2));
    EXPECT_TRUE(std::filesystem::exists(lock));
    Click(dlg, IDC_START_DETECTION);
    EXPECT_FALSE(std::filesystem::exists(lock));
  });
  ResetLockFolders();
  std::filesystem::remove_all(folder);
}

TEST_F(MonitoringTest, StopInFactoryModeEnablesTheWholeTableAndStaysWide) {
  RunWindow([&](CConsoleDlg& dlg) {
    EnterFactoryMode(dlg);
    m_server.ClearRequests();
    const std::map<int, bool> before = EnabledStates(dlg);
    Click(dlg, IDC_START_DETECTION);
    ExpectStates(dlg, kExpectedMonitoring, kRunning, before);
    ASSERT_TRUE(WaitForPolls(1));
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kFactoryPoll}));
    Click(dlg, IDC_START_DETECTION);
    ExpectStates(dlg, kExpectedMonitoring, kStoppedFactory, before);
    EXPECT_TRUE(dlg.IsWide());
    EXPECT_EQ(g_nWorkMode, 1);
  });
}

// The cable's state in measurement mode: the alarm text and the position,
// which only a leak shows. An unknown status leaves both as they were.
TEST_F(MonitoringTest, MeasurementDisplayFollowsTheCable) {
  struct Case {
    const char* name;
    void (*apply)(sim::Controller&);
    const char* state;     // null: left as it was
    const char* position;  // null: left as it was
  };
  const Case cases[] = {
      {"Leak", [](sim::Controller& c) { c.SetScenario(sim::Scenario::Leak, 123.45); }, "水浸", "123.45米"},
      {"NoAlarm", [](sim::Controller& c) { c.SetScenario(sim::Scenario::NoAlarm); }, "无告警", ""},
      {"Broken", [](sim::Controller& c) { c.SetScenario(sim::Scenario::Broken, 50); }, "断线", ""},
      {"Status9", [](sim::Controller& c) { c.SetRegister(REG_ALARM_STATUS, 9); }, nullptr, nullptr},
  };
  // A locale with a decimal comma must not reach the display.
  const QLocale locale;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  RunWindow([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_START_DETECTION);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      dlg.SetDlgItemText(IDC_ALARM_STATE, QStringLiteral("state before"));
      dlg.SetDlgItemText(IDC_LEAK_POSITION, QStringLiteral("position before"));
      c.apply(m_server.Device());
      const int accepted = g_nSuccessCount;
      ASSERT_TRUE(WaitUntil([&] { return g_nSuccessCount > accepted; }));
      EXPECT_EQ(Text(dlg, IDC_ALARM_STATE),
                c.state ? QString::fromUtf8(c.state) : QStringLiteral("state before"));
      EXPECT_EQ(Text(dlg, IDC_LEAK_POSITION),
                c.position ? QString::fromUtf8(c.position) : QStringLiteral("position before"));
      EXPECT_EQ(LastFrame(), kMeasurementPoll);
    }
    Click(dlg, IDC_START_DETECTION);
  });
  QLocale::setDefault(locale);
}

// Log count, buzzer and clock, as the measurement block carries them.
TEST_F(MonitoringTest, MeasurementDisplayShowsLogBuzzerAndClock) {
  sim::Controller& device = m_server.Device();
  device.SetRegister(REG_LOG_COUNT, 42);
  device.SetRegister(REG_CLOCK, 0x2015);
  device.SetRegister(REG_CLOCK + 1, 0x0907);
  device.SetRegister(REG_CLOCK + 2, 0x0805);
  device.SetRegister(REG_CLOCK + 3, 0x0003);
  struct Step {
    uint16_t buzzer;
    int checked;  // the radio checked afterwards
  };
  // 0 is on ("开"), 1 off ("关"); any other value leaves the radios.
  const Step steps[] = {{0, IDC_BUZZER_ON}, {7, IDC_BUZZER_ON}, {1, IDC_BUZZER_OFF}};
  RunWindow([&](CConsoleDlg& dlg) {
    EXPECT_TRUE(dlg.IsDlgButtonChecked(IDC_BUZZER_OFF));
    Click(dlg, IDC_START_DETECTION);
    for (const Step& step : steps) {
      SCOPED_TRACE(step.buzzer);
      device.SetRegister(REG_BUZZER, step.buzzer);
      const int accepted = g_nSuccessCount;
      ASSERT_TRUE(WaitUntil([&] { return g_nSuccessCount > accepted; }));
      EXPECT_TRUE(dlg.IsDlgButtonChecked(step.checked));
    }
    QStringList clock;
    for (int id : {IDC_TIME_YEAR, IDC_TIME_MONTH, IDC_TIME_DAY, IDC_TIME_HOUR, IDC_TIME_MINUTE,
                   IDC_TIME_SECOND})
      clock << Text(dlg, id);
    EXPECT_EQ(clock, (QStringList{"2015", "9", "7", "8", "5", "3"}));
    EXPECT_EQ(Text(dlg, IDC_LOG_COUNT), QStringLiteral("42"));
    EXPECT_EQ(Text(dlg, IDC_GOOD_COUNT), QString::number(g_nSuccessCount));
    Click(dlg, IDC_START_DETECTION);
  });
}

// Factory mode shows the position whatever the status, and the channels.
TEST_F(MonitoringTest, FactoryDisplayShowsPositionAlwaysAndTheChannels) {
  struct Case {
    uint16_t status;
    const char* state;
  };
  const Case cases[] = {{0, "无告警"}, {2, "断线"}};
  sim::Controller& device = m_server.Device();
  device.SetRegister(REG_LEAK_POSITION, 250);
  device.SetFloatRegister(REG_A0_VOLTAGE, 1.5f);
  device.SetFloatRegister(REG_A1_VOLTAGE, -2.5f);
  device.SetFloatRegister(REG_A2_VOLTAGE, 1234.567f);
  RunWindow([&](CConsoleDlg& dlg) {
    EnterFactoryMode(dlg);
    Click(dlg, IDC_START_DETECTION);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.status);
      device.SetRegister(REG_ALARM_STATUS, c.status);
      const int accepted = g_nSuccessCount;
      ASSERT_TRUE(WaitUntil([&] { return g_nSuccessCount > accepted; }));
      EXPECT_EQ(LastFrame(), kFactoryPoll);
      EXPECT_EQ(Text(dlg, IDC_ALARM_STATE), QString::fromUtf8(c.state));
      EXPECT_EQ(Text(dlg, IDC_LEAK_POSITION), QStringLiteral("2.50米"));
    }
    EXPECT_EQ(Text(dlg, IDC_A0_VOLTAGE), QStringLiteral("1.50V"));
    EXPECT_EQ(Text(dlg, IDC_A1_VOLTAGE), QStringLiteral("-2.50V"));
    EXPECT_EQ(Text(dlg, IDC_A2_VOLTAGE), QStringLiteral("1234.57V"));
    EXPECT_TRUE(dlg.IsWide());
    Click(dlg, IDC_START_DETECTION);
  });
}

// The controller's working mode rules the next poll: 2 keeps the list and
// factory polling; 0 selects "测量模式", that poll still ends wide, and the
// next one reads the measurement block and narrows.
TEST_F(MonitoringTest, FactoryPollsFollowTheControllersWorkingMode) {
  sim::Controller& device = m_server.Device();
  RunWindow([&](CConsoleDlg& dlg) {
    EnterFactoryMode(dlg);
    Click(dlg, IDC_START_DETECTION);
    ASSERT_TRUE(NextPoll());
    EXPECT_EQ(LastFrame(), kFactoryPoll);

    device.SetRegister(REG_WORK_MODE, 2);
    ASSERT_TRUE(NextPoll());
    EXPECT_EQ(g_nWorkMode, 2);
    EXPECT_EQ(dlg.GetComboSel(IDC_WORK_MODE), 1);
    ASSERT_TRUE(NextPoll());
    EXPECT_EQ(LastFrame(), kFactoryPoll);

    device.SetRegister(REG_WORK_MODE, 0);
    ASSERT_TRUE(NextPoll());
    EXPECT_EQ(LastFrame(), kFactoryPoll);
    EXPECT_EQ(g_nWorkMode, 0);
    EXPECT_EQ(Text(dlg, IDC_WORK_MODE), QStringLiteral("测量模式"));
    EXPECT_TRUE(dlg.IsWide());
    ASSERT_TRUE(NextPoll());
    EXPECT_EQ(LastFrame(), kMeasurementPoll);
    EXPECT_FALSE(dlg.IsWide());

    const std::map<int, bool> running = EnabledStates(dlg);
    Click(dlg, IDC_START_DETECTION);
    ExpectStates(dlg, kExpectedMonitoring, kStoppedMeasurement, running);
    EXPECT_EQ(g_nWorkMode, 0);
  });
  EXPECT_EQ(g_nFailCount, 0);
}

// Each tick reads the address edit afresh. One no controller answers to is
// not sent and counts as a failed poll.
TEST_F(MonitoringTest, EachTickReadsTheAddressAndSendsNoRefusedOne) {
  struct Step {
    const char* address;
    const Bytes* frame;  // null: nothing sent
    bool accepted;
  };
  const Step steps[] = {
      {"1", &kMeasurementPoll, true},     {"2", &kMeasurementPollAt2, false},
      {"", nullptr, false},               {"256", nullptr, false},
      {"0", nullptr, false},              {"1", &kMeasurementPoll, true},
  };
  RunWindow([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_START_DETECTION);
    for (const Step& step : steps) {
      SCOPED_TRACE(step.address);
      dlg.SetDlgItemText(IDC_ADDRESS, QString::fromUtf8(step.address));
      m_server.ClearRequests();
      const int good = g_nSuccessCount, bad = g_nFailCount;
      ASSERT_TRUE(NextPoll());
      EXPECT_EQ(g_nSuccessCount - good, step.accepted ? 1 : 0);
      EXPECT_EQ(g_nFailCount - bad, step.accepted ? 0 : 1);
      EXPECT_EQ(Text(dlg, IDC_FAIL_COUNT), QString::number(g_nFailCount));
      if (step.frame)
        EXPECT_EQ(Frames(), (std::vector<Bytes>{*step.frame}));
      else
        EXPECT_TRUE(Frames().empty());
    }
    Click(dlg, IDC_START_DETECTION);
  });
  EXPECT_TRUE(m_messages.shown.empty());  // a tick never shows a box
}

// A start the prologue refuses: its message, the caption stays, no timer.
TEST_F(MonitoringTest, RefusedStartLeavesTheWindowIdle) {
  struct Case {
    const char* name;
    const char* address;
    const char* portPath;  // null: the simulator's
    const char* message;
    bool application;
  };
  const Case cases[] = {
      {"PortMissing", "1", "/dev/qd7420-test-no-such-device", "没有发现此串口或此串口被占用", true},
      {"AddressZero", "0", nullptr, "不能为空，地址范围在1--255", false},
      {"AddressEmpty", "", nullptr, "不能为空，地址范围在1--255", false},
  };
  RunWindow([&](CConsoleDlg& dlg) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      if (c.portPath) SetPortPath(1, c.portPath);
      dlg.SetDlgItemText(IDC_ADDRESS, QString::fromUtf8(c.address));
      m_server.ClearRequests();
      m_messages.shown.clear();
      const std::map<int, bool> before = EnabledStates(dlg);
      Click(dlg, IDC_START_DETECTION);
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QString::fromUtf8(c.message));
      EXPECT_EQ(m_messages.shown[0].application, c.application);
      EXPECT_EQ(Caption(dlg), QString::fromUtf8(kStart));
      EXPECT_EQ(EnabledStates(dlg), before);
      EXPECT_EQ(PortHandle, nullptr);
      QTest::qWait(1500);  // longer than a poll period: no tick comes
      EXPECT_TRUE(Frames().empty());
      EXPECT_EQ(g_nSuccessCount + g_nFailCount, 0);
      SetPortPath(1, m_server.DevicePath());
    }
  });
}

// The adapter vanishes under a running poll: every tick fails at once and
// counts, the window keeps running its events, and the stop closes cleanly.
TEST_F(MonitoringTest, UnpluggedAdapterCountsFailuresAndStopsCleanly) {
  RunWindow([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_START_DETECTION);
    ASSERT_TRUE(WaitForPolls(1));
    EXPECT_EQ(g_nSuccessCount, 1);
    m_server.Hangup();
    ASSERT_TRUE(WaitUntil([] { return g_nFailCount >= 3; }));
    EXPECT_EQ(g_nSuccessCount, 1);
    EXPECT_EQ(Text(dlg, IDC_FAIL_COUNT), QString::number(g_nFailCount));
    Click(dlg, IDC_START_DETECTION);
    EXPECT_EQ(Caption(dlg), QString::fromUtf8(kStart));
    EXPECT_EQ(PortHandle, nullptr);
  });
  EXPECT_TRUE(m_messages.shown.empty());
}

// The same controller behind ser2net over RFC 2217 (Com2): the server
// stopped under a running poll counts failures, and once it is back the
// poll takes the line up again by itself, without a click.
TEST_F(MonitoringTest, RemoteServerStoppedAndStartedResumesByItself) {
  if (!Ser2Net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/setup.sh)";
  Ser2Net server(m_server.DevicePath());
  ASSERT_TRUE(server.Start());
  SetPortPath(2, server.Rfc2217Path());
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetComboSel(IDC_PORT, 1);
    Click(dlg, IDC_START_DETECTION);
    ASSERT_TRUE(WaitUntil([] { return g_nSuccessCount >= 2; }));
    EXPECT_EQ(Text(dlg, IDC_ALARM_STATE), QStringLiteral("无告警"));
    server.Stop();
    const int good = g_nSuccessCount;
    ASSERT_TRUE(WaitUntil([] { return g_nFailCount >= 2; }));
    EXPECT_EQ(g_nSuccessCount, good);
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitUntil([good] { return g_nSuccessCount >= good + 2; }));
    EXPECT_EQ(Text(dlg, IDC_GOOD_COUNT), QString::number(g_nSuccessCount));
    Click(dlg, IDC_START_DETECTION);
    EXPECT_EQ(PortHandle, nullptr);
  });
  EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(MonitoringTest, ClosingTheWindowWhileMonitoringClosesThePort) {
  RunWindow([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_START_DETECTION);
    ASSERT_TRUE(WaitForPolls(1));
    ASSERT_NE(PortHandle, nullptr);
    dlg.reject();  // Esc or the close box
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(Caption(dlg), QString::fromUtf8(kStart));
  });
  const size_t frames = Frames().size();
  QTest::qWait(1500);
  EXPECT_EQ(Frames().size(), frames);
}

// A window whose tick a test can deliver by hand, as a nested event loop
// would while a tick is still inside its exchange.
class TickableDlg : public CConsoleDlg {
 public:
  void Tick() { OnTimer(1); }
};

TEST_F(MonitoringTest, ATickArrivingInsideAnExchangeDoesNotPoll) {
  TickableDlg window;
  bool nestedDone = false;
  size_t framesBefore = 0, framesAfter = 0;
  int pollsBefore = 0, pollsAfter = 0;
  RunWindow(window, [&](CConsoleDlg& dlg) {
    Click(dlg, IDC_START_DETECTION);
    // The hook runs inside the poll's exchange, on the window's thread.
    SetTraceHook([&](const TraceRecord&) {
      if (nestedDone) return;
      nestedDone = true;
      framesBefore = m_server.Requests().size();
      pollsBefore = g_nSuccessCount + g_nFailCount;
      window.Tick();
      framesAfter = m_server.Requests().size();
      pollsAfter = g_nSuccessCount + g_nFailCount;
    });
    ASSERT_TRUE(WaitForPolls(3));  // ticks go on after the nested one
    SetTraceHook({});
    Click(dlg, IDC_START_DETECTION);
  });
  SetTraceHook({});
  ASSERT_TRUE(nestedDone);
  EXPECT_EQ(framesAfter, framesBefore);
  EXPECT_EQ(pollsAfter, pollsBefore);
}

}  // namespace
