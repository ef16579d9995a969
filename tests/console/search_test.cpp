// The communication-parameter search against the simulated controller,
// which answers only at its own station address and only when the line runs
// at its own baud rate.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "ConsoleDlg.h"
#include "Globals.h"
#include "console_window_fixture.h"
#include "line_servers.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRateBoxes[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                              IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};

// Pumps the window's events until `done` holds; false after `ms`.
bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class SearchTest : public ConsoleWindowTest {
 protected:
  // Gives the controller another station address and rate, over the line,
  // as the "修改" command would: it answers at the old settings, then
  // takes the new ones.
  void MoveController(uint8_t address, uint32_t baud) {
    uint8_t data[6] = {0, address};
    PutU32(data + 2, baud);
    Transaction transaction(1, 9600);
    ASSERT_TRUE(transaction.IsOpen());
    uint8_t reply[kWriteReplyLength];
    ASSERT_TRUE(transaction.Exchange(BuildWriteMultipleRequest(1, REG_STATION_ADDRESS, 3, data),
                                     reply, sizeof reply));
    m_server.ClearRequests();
  }

  // The same from another station address and rate.
  void MoveControllerFrom(uint8_t address, int baud) {
    uint8_t data[6] = {0, 1};
    PutU32(data + 2, 9600);
    Transaction transaction(1, baud);
    ASSERT_TRUE(transaction.IsOpen());
    uint8_t reply[kWriteReplyLength];
    ASSERT_TRUE(transaction.Exchange(BuildWriteMultipleRequest(address, REG_STATION_ADDRESS, 3, data),
                                     reply, sizeof reply));
  }

  // With no controller at address 1, starts a search and runs `body` while
  // its first probe waits for the reply that never comes.
  void RunWindowWithAProbeUnderWay(const std::function<void(CConsoleDlg&)>& body) {
    MoveController(9, 9600);
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      Press(dlg);
      ASSERT_TRUE(m_server.WaitForRequests(1, 5000));
      body(dlg);
    });
  }

  static void Tick(CConsoleDlg& dlg, std::initializer_list<int> rates) {
    for (int id : kRateBoxes) dlg.CheckDlgButton(id, false);
    for (int id : rates) dlg.CheckDlgButton(id, true);
  }
  static void Press(CConsoleDlg& dlg) {
    qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_SEARCH))->click();
  }
  static QString Caption(const CConsoleDlg& dlg) { return dlg.GetDlgItemText(IDC_SEARCH); }
  static QString Status(const CConsoleDlg& dlg) { return dlg.GetDlgItemText(IDC_SEARCH_RESULT); }

  // The station address and line speed of every probe on the wire.
  std::vector<std::pair<int, int>> Probes() const {
    std::vector<std::pair<int, int>> probes;
    for (const sim::ReceivedFrame& frame : m_server.Requests())
      probes.emplace_back(frame.bytes.at(0), frame.lineBaud);
    return probes;
  }
  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const auto& shown : m_messages.shown) texts.push_back(shown.text);
    return texts;
  }
};

// The 44 controls a search locks.
const int kLocked[] = {1000, 1051, 1012, 1015, 1016, 1018, 1019, 1021, 1022, 1024, 1025,
                       1027, 1028, 1030, 1031, 1033, 1034, 1036, 1037, 1040, 1041, 1043,
                       1044, 1046, 1047, 1049, 1050, 1082, 1081, 1083, 1095, 1097, 1106,
                       1035, 1053, 1054, 1086, 1093, 1089, 1090, 1091, 1092, 1109, 1110};
// Never locked by a search.
const int kNeverLocked[] = {1009, 1003, 1004, 1005, 1006, 1007, 1008, 1001, 1002, 1084, 1085};

// After a find in measurement mode: disabled...
const int kDisabledAfterFindInMeasurement[] = {1015, 1016, 1018, 1019, 1021, 1022, 1024, 1025,
                                               1027, 1028, 1030, 1031, 1033, 1034, 1036, 1037,
                                               1082, 1081, 1083, 1047, 1109, 1110};
// ...and enabled.
const int kEnabledAfterFind[] = {1040, 1043, 1046, 1041, 1044, 1049, 1050, 1000, 1051, 1009,
                                 1012, 1086, 1093, 1095, 1097, 1106, 1035, 1053, 1054, 1089,
                                 1090, 1091, 1092, 1070, 1079, 1080};

void ExpectEnabled(const CConsoleDlg& dlg, const int* ids, size_t n, bool enabled) {
  for (size_t i = 0; i < n; ++i)
    EXPECT_EQ(dlg.GetDlgItem(ids[i])->isEnabled(), enabled) << "control " << ids[i];
}
template <size_t N>
void ExpectEnabled(const CConsoleDlg& dlg, const int (&ids)[N], bool enabled) {
  ExpectEnabled(dlg, ids, N, enabled);
}

TEST_F(SearchTest, ProbesAddressesOuterRatesInnerAndTakesWhatAnswers) {
  MoveController(3, 9600);
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    Tick(dlg, {IDC_SEARCH_1200, IDC_SEARCH_9600});
    Press(dlg);
    EXPECT_EQ(Caption(dlg), QStringLiteral("停止搜索"));
    ExpectEnabled(dlg, kLocked, false);
    ExpectEnabled(dlg, kNeverLocked, true);
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }));
    EXPECT_EQ(Probes(), (std::vector<std::pair<int, int>>{
                            {1, 1200}, {1, 9600}, {2, 1200}, {2, 9600}, {3, 1200}, {3, 9600}}));
    EXPECT_EQ(m_server.Requests().back().bytes,
              (Bytes{0x03, 0x03, 0x1F, 0xF8, 0x00, 0x01, 0x03, 0xCD}));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索到的参数为:波特率9600地址3"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("3"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BAUD), QStringLiteral("9600"));
    EXPECT_EQ(g_nWorkMode, 0);
    ExpectEnabled(dlg, kDisabledAfterFindInMeasurement, false);
    ExpectEnabled(dlg, kEnabledAfterFind, true);
  });
  ASSERT_EQ(Texts(), std::vector<QString>{QStringLiteral("产品参数为：波特率9600地址3")});
  EXPECT_FALSE(m_messages.shown[0].application);
  EXPECT_FALSE(m_messages.shown[0].portOpen);  // the worker never uses the window's port
}

TEST_F(SearchTest, FoundInFactoryModeEnablesTheCalibrationButtons) {
  MoveController(1, 38400);
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetComboSel(IDC_WORK_MODE, 1);
    Tick(dlg, {IDC_SEARCH_38400});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }));
    EXPECT_EQ(dlg.GetComboSel(IDC_BAUD), 5);
    EXPECT_EQ(g_nWorkMode, 1);
    ExpectEnabled(dlg, kDisabledAfterFindInMeasurement, true);
    ExpectEnabled(dlg, kEnabledAfterFind, true);
  });
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral("产品参数为：波特率38400地址1")});
}

TEST_F(SearchTest, AGoodReplyFromAnotherStationStillCounts) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    m_server.InjectFault(sim::Fault::OtherStation, -1);
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("1"));
  });
  EXPECT_EQ(Probes(), (std::vector<std::pair<int, int>>{{1, 9600}}));
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral("产品参数为：波特率9600地址1")});
}

// Every station answers with a bad check, so all 255 probes fail at once
// instead of each waiting out its time-out.
TEST_F(SearchTest, ScanWithoutResultEndsNotFoundAndTwoClicksStartAfresh) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    m_server.SetAnswerAllBadCrc(true);
    Tick(dlg, {IDC_SEARCH_9600});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索通讯参数"); }, 120000));
    EXPECT_EQ(Status(dlg), QStringLiteral("未搜索到通讯参数"));
    EXPECT_EQ(g_nSearchAddress, 255);
    ExpectEnabled(dlg, kLocked, false);
    const std::vector<std::pair<int, int>> probes = Probes();
    ASSERT_EQ(probes.size(), 255u);
    for (int address = 1; address <= 255; ++address)
      EXPECT_EQ(probes[address - 1], std::make_pair(address, 9600));

    Press(dlg);  // the first click only gives the window back
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));
    ExpectEnabled(dlg, kLocked, true);
    m_server.SetAnswerAllBadCrc(false);
    m_server.ClearRequests();
    Press(dlg);  // the second starts a new search, which finds station 1
    EXPECT_EQ(Caption(dlg), QStringLiteral("停止搜索"));
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索到的参数为:波特率9600地址1"));
  });
  EXPECT_EQ(Texts(), (std::vector<QString>{QStringLiteral("未搜索到参数,请检查接线!!!"),
                                           QStringLiteral("产品参数为：波特率9600地址1")}));
}

TEST_F(SearchTest, NoRateTickedEndsAtOnceWithoutAProbe) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    Tick(dlg, {});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索通讯参数"); }));
    EXPECT_EQ(Status(dlg), QStringLiteral("未搜索到通讯参数"));
    ExpectEnabled(dlg, kLocked, false);  // still locked until the next click
    Press(dlg);
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));
    ExpectEnabled(dlg, kLocked, true);
  });
  EXPECT_TRUE(Probes().empty());
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral("未搜索到参数,请检查接线!!!")});
}

// Stopped while its probe waits: that probe's message still arrives, and the
// status line says the search was stopped. No probe follows.
TEST_F(SearchTest, StopDuringAProbeLetsItsMessageArrive) {
  RunWindowWithAProbeUnderWay([&](CConsoleDlg& dlg) {
    Press(dlg);
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));
    ExpectEnabled(dlg, kLocked, true);  // in measurement mode too, 1047 included
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg) == QStringLiteral("已经停止搜索参数"); }));
    EXPECT_EQ(g_nSearchAddress, 1);
    // Long enough for another probe to have started, had the worker gone on.
    WaitUntil([] { return false; }, 1500);
  });
  EXPECT_EQ(Probes(), (std::vector<std::pair<int, int>>{{1, 9600}}));
  EXPECT_TRUE(Texts().empty());
}

// A start right after a stop: the old worker finishes its probe and ends;
// the new one begins at address 1 only then. Never two workers on the line.
TEST_F(SearchTest, StartRightAfterStopRunsOneWorkerAtATime) {
  RunWindowWithAProbeUnderWay([&](CConsoleDlg& dlg) {
    Press(dlg);
    Press(dlg);
    EXPECT_EQ(Caption(dlg), QStringLiteral("停止搜索"));
    // The old worker reports its probe to the window: keep the window going.
    ASSERT_TRUE(WaitUntil([&] { return m_server.Requests().size() >= 3; }));
    Press(dlg);  // stop for good
    ExpectEnabled(dlg, kLocked, true);
  });
  // The window waited for the last worker as it closed.
  const std::vector<std::pair<int, int>> probes = Probes();
  ASSERT_GE(probes.size(), 3u);
  const std::vector<std::pair<int, int>> first = {probes[0], probes[1], probes[2]};
  EXPECT_EQ(first, (std::vector<std::pair<int, int>>{{1, 9600}, {1, 9600}, {2, 9600}}));
}

TEST_F(SearchTest, ClosingTheWindowDuringAProbeEndsTheWorker) {
  // The window closes while the probe waits.
  RunWindowWithAProbeUnderWay([](CConsoleDlg&) {});
  const size_t probes = Probes().size();
  WaitUntil([] { return false; }, 1500);
  EXPECT_EQ(Probes().size(), probes);
  EXPECT_EQ(PortHandle, nullptr);
}

// The worker cannot open the port: one application message, shown on the
// window's thread; no search message; the window keeps its searching look.
TEST_F(SearchTest, PortFailureShowsTheMessageAndKeepsSearchingLook) {
  RunWindow([&](CConsoleDlg& dlg) {
    SetPortPath(1, "/dev/qd7420-no-such-port");
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return !m_messages.shown.empty(); }));
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(Caption(dlg), QStringLiteral("停止搜索"));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索结果"));
    ExpectEnabled(dlg, kLocked, false);
    Press(dlg);
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));
    ExpectEnabled(dlg, kLocked, true);
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("没有发现此串口或此串口被占用"));
  EXPECT_TRUE(m_messages.shown[0].application);
  EXPECT_TRUE(m_messages.shown[0].onGuiThread);
}

// The search over a controller behind ser2net (Com2). Over RFC 2217 every
// probe sets the line's rate, so the search finds the controller at any
// rate; a raw line runs at the server's rate, so the search tries the first
// ticked rate only and says so.
TEST_F(SearchTest, OverARemoteLine) {
  if (!Ser2Net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/setup.sh)";
  const struct {
    bool rfc2217;
    uint8_t address;
    uint32_t baud;
    std::vector<std::pair<int, int>> probes;  // station, the pty's speed
    const char* found;
  } cases[] = {
      {true, 5, 38400,
       {{1, 9600}, {1, 38400}, {2, 9600}, {2, 38400}, {3, 9600}, {3, 38400}, {4, 9600},
        {4, 38400}, {5, 9600}, {5, 38400}},
       "搜索到的参数为:波特率38400地址5"},
      {false, 3, 9600, {{1, 9600}, {2, 9600}, {3, 9600}}, "搜索到的参数为:波特率9600地址3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rfc2217 ? "rfc2217" : "raw");
    MoveController(c.address, c.baud);
    auto server = std::make_unique<Ser2Net>(m_server.DevicePath());
    ASSERT_TRUE(server->Start());
    SetPortPath(2, c.rfc2217 ? server->Rfc2217Path() : server->RawPath());
    bool noted = false;
    RunWindow([&](CConsoleDlg& dlg) {
      dlg.SetComboSel(IDC_PORT, 1);
      Tick(dlg, {IDC_SEARCH_9600, IDC_SEARCH_38400});
      m_server.ClearRequests();
      Press(dlg);
      ASSERT_TRUE(WaitUntil([&] {
        noted = noted || Status(dlg).endsWith(QStringLiteral("（TCP线路只试此波特率）"));
        return Caption(dlg) == QStringLiteral("搜索参数");
      }, 60000));
      EXPECT_EQ(Status(dlg), QString::fromUtf8(c.found));
    });
    EXPECT_EQ(Probes(), c.probes);
    EXPECT_EQ(noted, !c.rfc2217);
    // Back to where the next case starts: station 1 at 9600, on the pty
    // that ser2net no longer holds.
    server.reset();
    MoveControllerFrom(c.address, static_cast<int>(c.baud));
    m_messages.shown.clear();
  }
}

}  // namespace
