// The communication-parameter search against the simulated controller,
// which answers only at its own station address and only when the line runs
// at its own baud rate.
#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/ConsoleSettings.h"
#include "window/ConsoleDlg.h"
#include "window/Globals.h"
#include "search/ParameterSearch.h"
#include "search/SearchPlan.h"
#include "search/SurveyDlg.h"
#include "traffic/Trace.h"
#include "traffic/TrafficDlg.h"
#include "traffic/TrafficLog.h"
#include "console_window_fixture.h"
#include "line_servers.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"
#include "window_actions.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRateBoxes[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                              IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};

CSearchPlan QuickPlan(uint32_t turnaroundMs = kDefaultSearchTurnaroundMs) {
  CSearchPlan::Settings settings;
  settings.ticked.fill(true);
  settings.quick = true;
  settings.turnaroundMs = turnaroundMs;
  return CSearchPlan(settings);
}

// "第 97/1530 次，约剩 2 分 10 秒" as its counts and the seconds left.
struct ProgressLine {
  int number = 0, total = 0, leftSeconds = -1;
};
ProgressLine ParseProgress(const QString& text) {
  static const QRegularExpression pattern(
      QStringLiteral("^第 (\\d+)/(\\d+) 次(?:，约剩 (?:(\\d+) 分 )?(\\d+) 秒)?$"));
  const QRegularExpressionMatch m = pattern.match(text);
  ProgressLine line;
  if (!m.hasMatch()) return line;
  line.number = m.captured(1).toInt();
  line.total = m.captured(2).toInt();
  if (!m.captured(4).isEmpty())
    line.leftSeconds = m.captured(3).toInt() * 60 + m.captured(4).toInt();
  return line;
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
  // Station `address` at `baud` back to station 1 at 9600.
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
// Every end of a search in measurement mode gives back what that mode
// allows, and no more.
void ExpectEndedInMeasurementMode(const CConsoleDlg& dlg) {
  ExpectEnabled(dlg, kDisabledAfterFindInMeasurement, false);
  ExpectEnabled(dlg, kEnabledAfterFind, true);
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
    // The factory settings first, then the sweep without them.
    EXPECT_EQ(Probes(), (std::vector<std::pair<int, int>>{
                            {1, 9600}, {1, 1200}, {2, 1200}, {2, 9600}, {3, 1200}, {3, 9600}}));
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

// What is likely goes first: the line a controller last answered on, then
// the factory settings, then the sweep without them.
TEST_F(SearchTest, TheRememberedLineAndTheFactorySettingsAreProbedFirst) {
  const struct {
    uint8_t address;
    int baud;  // where the controller is
    std::vector<std::pair<int, int>> probes;
  } cases[] = {
      {7, 19200, {{7, 19200}}},  // it kept its settings: one probe
      {3, 1200,
       {{7, 19200}, {1, 9600}, {1, 1200}, {1, 19200}, {2, 1200}, {2, 9600}, {2, 19200}, {3, 1200}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    QTemporaryDir home;
    CConsoleSettings settings(true, home.path());
    settings.RememberLine({QString(), 19200, 7});
    MoveController(c.address, c.baud);
    CConsoleDlg window;
    window.SetSettings(&settings);
    RunWindow(window, [&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      dlg.SetQuickSearch(true);
      Tick(dlg, {IDC_SEARCH_1200, IDC_SEARCH_9600, IDC_SEARCH_19200});
      Press(dlg);
      ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }));
    });
    EXPECT_EQ(Probes(), c.probes);
    MoveControllerFrom(c.address, c.baud);
    m_messages.shown.clear();
  }
}

// The worker's probes reach the traffic window from the worker's thread.
TEST_F(SearchTest, ProbesAreListedInTheTrafficWindow) {
  MoveController(3, 9600);
  InstallTrafficRecord();
  CTrafficLog::Process().Clear();
  std::vector<QStringList> rows;
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.OnShowTraffic();  // open before the search: rows arrive while it runs
    CTrafficDlg& traffic = *dlg.TrafficWindow();
    const int before = traffic.Model().rowCount();
    Tick(dlg, {IDC_SEARCH_9600});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return traffic.Model().rowCount() >= before + 3; }));
    for (int row = before; row < traffic.Model().rowCount(); ++row)
      rows.push_back(traffic.Model().RowCells(row));
  });
  SetTraceHook({});
  ASSERT_EQ(rows.size(), 3u);
  const char* const requests[] = {"01 03 1F F8 00 01 02 2F", "02 03 1F F8 00 01", "03 03 1F F8 00 01 03 CD"};
  const char* const outcomes[] = {"无应答", "无应答", "正常"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_TRUE(rows[i][2].startsWith(QString::fromUtf8(requests[i]))) << qPrintable(rows[i][2]);
    EXPECT_EQ(rows[i][4], QString::fromUtf8(outcomes[i]));
    EXPECT_TRUE(rows[i][1].endsWith(QStringLiteral(" 9600")));
  }
}

TEST_F(SearchTest, FoundInFactoryModeEnablesTheCalibrationButtons) {
  RunWindow([&](CConsoleDlg& dlg) {
    EnterFactoryMode(dlg);  // confirmed by the controller at 9600
    MoveController(1, 38400);
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

// A reply that passes its check bytes but names another station than the
// one probed (two controllers on one address look so) is no answer from the
// probed address: the search goes on to the next one and reports nothing.
TEST_F(SearchTest, AReplyFromAnotherStationIsNoFind) {
  TraceLog trace;
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    m_server.InjectFault(sim::Fault::OtherStation, -1);
    dlg.SetDlgItemText(IDC_ADDRESS, QStringLiteral("7"));
    Press(dlg);
    // The probe of 1 is refused at once; that of 2 waits for no reply.
    ASSERT_TRUE(WaitUntil([&] { return Probes().size() >= 2; }));
    EXPECT_EQ(Status(dlg), QStringLiteral("正在搜索波特率9600地址1"));
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return dlg.SearchProgressLine().isEmpty(); }));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("7"));
  });
  const std::vector<std::pair<int, int>> probes = Probes();
  ASSERT_GE(probes.size(), 2u);
  EXPECT_EQ(probes[0], std::make_pair(1, 9600));
  EXPECT_EQ(probes[1], std::make_pair(2, 9600));
  const std::vector<TraceRecord> records = trace.Records();
  const auto probe = std::find_if(records.begin(), records.end(), [](const TraceRecord& r) {
    return r.request.size() == 8 && r.request[1] == 0x03 && r.request[2] == 0x1F;
  });
  ASSERT_NE(probe, records.end());
  EXPECT_EQ(probe->request.at(0), 1);
  EXPECT_FALSE(probe->accepted);  // a whole frame with good check bytes...
  EXPECT_EQ(probe->waited, 7u);
  ASSERT_EQ(probe->reply.size(), 7u);
  EXPECT_EQ(probe->reply[0], 2);  // ...that names station 2
  EXPECT_TRUE(Texts().empty());
}

// Every station answers with a bad check, so all 255 probes fail at once
// instead of each waiting out its time-out. The search then ends idle: the
// next click starts a new one.
TEST_F(SearchTest, ScanWithoutResultEndsIdleAndOneClickStartsAfresh) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    m_server.SetAnswerAllBadCrc(true);
    Tick(dlg, {IDC_SEARCH_9600});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg) == QStringLiteral("未搜索到通讯参数"); }, 120000));
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));
    EXPECT_EQ(g_nSearchAddress, 255);
    ExpectEndedInMeasurementMode(dlg);
    const std::vector<std::pair<int, int>> probes = Probes();
    ASSERT_EQ(probes.size(), 255u);
    for (int address = 1; address <= 255; ++address)
      EXPECT_EQ(probes[address - 1], std::make_pair(address, 9600));

    m_server.SetAnswerAllBadCrc(false);
    m_server.ClearRequests();
    Press(dlg);
    EXPECT_EQ(Caption(dlg), QStringLiteral("停止搜索"));
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg).startsWith(QStringLiteral("搜索到")); }));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索到的参数为:波特率9600地址1"));
  });
  EXPECT_EQ(Texts(), (std::vector<QString>{QStringLiteral("未搜索到参数,请检查接线!!!"),
                                           QStringLiteral("产品参数为：波特率9600地址1")}));
}

// --- The survey ("搜索全部") -----------------------------------------------------------

// One survey of a line with more controllers than the fixture's (station 1
// at 9600), quick, at the shortest turnaround.
struct SurveyCase {
  const char* what;
  std::vector<std::pair<int, int>> stations;  // (address, baud) added to the line
  std::initializer_list<int> ticked;
  int stopAtRows;                 // press stop once this many rows are listed; -1 never
  std::vector<QString> rows;      // "baud/address", a collision marked "!"
  const char* listStatus;         // the survey window's line at the end
  const char* searchStatus;       // the search group's status line at the end
  std::vector<QString> boxes;
};

const SurveyCase kSurveyCases[] = {
    {"TwoControllersAndTwoAtOneAddress",
     {{17, 38400}, {40, 9600}, {40, 9600}}, {IDC_SEARCH_9600, IDC_SEARCH_38400}, -1,
     {QStringLiteral("9600/1"), QStringLiteral("38400/17"), QStringLiteral("9600/40!")},
     "搜索完成，找到 2 台控制器", "搜索完成，找到 2 台控制器", {}},
    {"NoneAtTheTickedRate", {}, {IDC_SEARCH_38400}, -1, {}, "未搜索到通讯参数",
     "未搜索到通讯参数", {QStringLiteral("未搜索到参数,请检查接线!!!\n应答较慢的控制器可能需要关闭快速搜索后再搜索一次")}},
    {"StoppedAfterTheFirstFind", {{17, 9600}}, {IDC_SEARCH_9600}, 1, {QStringLiteral("9600/1")},
     "已经停止搜索参数，找到 1 台控制器", "已经停止搜索参数", {}},
};

class SurveyTest : public SearchTest, public ::testing::WithParamInterface<SurveyCase> {};

TEST_P(SurveyTest, ListsEveryControllerOnTheLine) {
  const SurveyCase& c = GetParam();
  for (const auto& [address, baud] : c.stations) {
    sim::ControllerOptions options;
    options.address = static_cast<uint8_t>(address);
    options.baud = baud;
    m_server.AddStation(options);
  }
  std::vector<QString> rows;
  size_t probesAtStop = 0;
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    Tick(dlg, c.ticked);
    dlg.SetQuickSearch(true);
    dlg.SetSearchTurnaround(kMinSearchTurnaroundMs);
    dlg.SetSearchAll(true);
    Press(dlg);
    ASSERT_NE(dlg.SurveyWindow(), nullptr);
    const CSurveyDlg& survey = *dlg.SurveyWindow();
    EXPECT_TRUE(survey.isVisible());
    if (c.stopAtRows >= 0) {
      ASSERT_TRUE(WaitUntil([&] { return survey.List().topLevelItemCount() >= c.stopAtRows; }));
      Press(dlg);
      probesAtStop = m_server.Requests().size();
    }
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }, 120000));
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg) == QString::fromUtf8(c.searchStatus); }));
    EXPECT_EQ(survey.Status(), QString::fromUtf8(c.listStatus));
    for (int i = 0; i < survey.List().topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = survey.List().topLevelItem(i);
      const bool collision = item->text(2).endsWith(QStringLiteral("应答校验错，可能有两台同地址控制器"));
      rows.push_back(item->text(0) + QLatin1Char('/') + item->text(1) +
                     (collision ? QStringLiteral("!") : QString()));
    }
    ExpectEndedInMeasurementMode(dlg);
  });
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(Texts(), c.boxes);
  const std::vector<std::pair<int, int>> probes = Probes();
  if (c.stopAtRows >= 0) {
    // The probe under way when stop was pressed may still go out; no more.
    EXPECT_LE(probes.size(), probesAtStop + 1);
    return;
  }
  // Nothing first: the sweep itself, to station 255 at every ticked rate.
  for (int id : c.ticked) {
    const int baud = kSearchRates[std::find(std::begin(kRateBoxes), std::end(kRateBoxes), id) - kRateBoxes];
    EXPECT_EQ(std::count_if(probes.begin(), probes.end(), [&](const auto& p) { return p.second == baud; }),
              255 + std::count(c.rows.begin(), c.rows.end(), QString::number(baud) + QStringLiteral("/40!")))
        << baud;
    EXPECT_NE(std::find(probes.begin(), probes.end(), std::make_pair(255, baud)), probes.end()) << baud;
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, SurveyTest, ::testing::ValuesIn(kSurveyCases),
                         [](const ::testing::TestParamInfo<SurveyCase>& info) {
                           return std::string(info.param.what);
                         });

// A find taken from the survey's list sets the top row as a find does; a
// collision's row sets nothing.
TEST_F(SearchTest, AControllerTakenFromTheSurveySetsTheTopRow) {
  sim::ControllerOptions options;
  options.address = 17;
  options.baud = 38400;
  m_server.AddStation(options);
  RunWindow([&](CConsoleDlg& dlg) {
    Tick(dlg, {IDC_SEARCH_38400});
    dlg.SetQuickSearch(true);
    dlg.SetSearchTurnaround(kMinSearchTurnaroundMs);
    dlg.SetSearchAll(true);
    Press(dlg);
    CSurveyDlg& survey = *dlg.SurveyWindow();
    ASSERT_TRUE(WaitUntil([&] { return survey.ControllerCount() == 1; }));
    Press(dlg);  // stopped: what was found stays
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("1"));
    survey.AddCollision(38400, 40);
    EXPECT_FALSE(survey.UseRow(1));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("1"));
    EXPECT_TRUE(survey.UseRow(0));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("17"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_BAUD), QStringLiteral("38400"));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索到的参数为:波特率38400地址17"));
  });
  EXPECT_TRUE(Texts().empty());  // a survey's find brings no box
}

TEST_F(SearchTest, NoRateTickedEndsIdleAtOnceWithoutAProbe) {
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    Tick(dlg, {});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg) == QStringLiteral("未搜索到通讯参数"); }));
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));
    ExpectEndedInMeasurementMode(dlg);
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
    ExpectEndedInMeasurementMode(dlg);  // 1047 and the calibration buttons stay off
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
    // The old worker's last probe reports to a search that is no more: the
    // new one's status line is its own until its own first probe ends.
    ASSERT_TRUE(WaitUntil([&] { return m_server.Requests().size() >= 2; }));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索结果"));
    // The old worker reports its probe to the window: keep the window going.
    ASSERT_TRUE(WaitUntil([&] { return m_server.Requests().size() >= 3; }));
    Press(dlg);  // stop for good
    ExpectEndedInMeasurementMode(dlg);
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
    ExpectEndedInMeasurementMode(dlg);
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("没有发现此串口或此串口被占用"));
  EXPECT_TRUE(m_messages.shown[0].application);
  EXPECT_TRUE(m_messages.shown[0].onGuiThread);
}

// --- The quick search -------------------------------------------------------------

// "快速搜索" and "搜索全部": check items, off at start, each switching its own.
TEST_F(SearchTest, TheContextMenuItemsToggleTheQuickSearchAndTheSurveyOffAtStart) {
  const QString texts[] = {QStringLiteral("快速搜索"), QStringLiteral("搜索全部")};
  // Which of the two is on: 0 the quick search, 1 the survey.
  const auto on = [](const CConsoleDlg& dlg, int item) {
    return item == 0 ? dlg.IsQuickSearch() : dlg.IsSearchAll();
  };
  RunWindow([&](CConsoleDlg& dlg) {
    ASSERT_NE(dlg.SearchMenu(), nullptr);
    const QList<QAction*> actions = dlg.SearchMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(texts[i].toStdString());
      QAction* item = actions.at(i);
      EXPECT_EQ(item->text(), texts[i]);
      EXPECT_TRUE(item->isCheckable());
      EXPECT_FALSE(item->isChecked());
      EXPECT_FALSE(on(dlg, i));
      item->trigger();
      EXPECT_TRUE(on(dlg, i));
      EXPECT_FALSE(on(dlg, 1 - i));
      item->trigger();
      EXPECT_FALSE(on(dlg, i));
    }
    // Both the group and the button offer it.
    for (QWidget* owner : {static_cast<QWidget*>(dlg.findChild<QGroupBox*>("grp_search")),
                           dlg.GetDlgItem(IDC_SEARCH)}) {
      ASSERT_NE(owner, nullptr);
      EXPECT_EQ(owner->contextMenuPolicy(), Qt::CustomContextMenu);
      emit owner->customContextMenuRequested(QPoint(4, 4));
      EXPECT_TRUE(dlg.SearchMenu()->isVisible()) << owner->objectName().toStdString();
      dlg.SearchMenu()->hide();
    }
  });
}

TEST_F(SearchTest, QuickSearchFindsAFastControllerFarUp) {
  MoveController(200, 38400);
  m_server.SetTurnaround(10);
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    dlg.SetQuickSearch(true);
    Tick(dlg, {IDC_SEARCH_38400});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Caption(dlg) == QStringLiteral("搜索参数"); }, 120000));
    EXPECT_EQ(Status(dlg), QStringLiteral("搜索到的参数为:波特率38400地址200"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADDRESS), QStringLiteral("200"));
    ASSERT_TRUE(WaitUntil([&] { return dlg.SearchProgressLine().isEmpty(); }));
  });
  EXPECT_EQ(Probes().size(), 201u);  // 9600 / 1 first, though not ticked
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral("产品参数为：波特率38400地址200")});
}

// A controller slower than the budget is not found; its late replies land
// in later probes' waits and must not be taken for theirs. The not-found box
// says the normal search may find it.
TEST_F(SearchTest, QuickSearchMissesASlowControllerAndSaysWhy) {
  MoveController(5, 38400);
  m_server.SetTurnaround(200);
  TraceLog trace;
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.ClearRequests();
    dlg.SetQuickSearch(true);
    dlg.SetSearchTurnaround(kMinSearchTurnaroundMs);
    Tick(dlg, {IDC_SEARCH_38400});
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg) == QStringLiteral("未搜索到通讯参数"); }, 120000));
    EXPECT_EQ(Caption(dlg), QStringLiteral("搜索参数"));  // ended idle
  });
  EXPECT_EQ(Probes().size(), 256u);  // 9600 / 1 first, though not ticked
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral(
                         "未搜索到参数,请检查接线!!!\n"
                         "应答较慢的控制器可能需要关闭快速搜索后再搜索一次")});
  // Whatever came from station 5 came too late for its own probe.
  for (const TraceRecord& r : trace.Records()) {
    if (r.reply.empty() || r.reply[0] != 5) continue;
    EXPECT_NE(r.request.at(0), 5);
  }
}

// A reply that misses its probe's wait and arrives in the next probe's is a
// whole frame with good check bytes, but names the station before: the
// exchange and the probe refuse it.
TEST_F(SearchTest, ALateReplyIsNotTakenForTheNextProbesAnswer) {
  TraceLog trace;
  HPORT port = OpenDevice(m_server.DevicePath(), 9600);
  ASSERT_NE(port, nullptr);
  m_server.InjectFault(sim::Fault::Delay, 1, 300);
  EXPECT_FALSE(CParameterSearch::ProbeAddress(port, 1, QuickPlan(kMinSearchTurnaroundMs)));
  CSearchPlan::Settings normal;
  normal.ticked.fill(true);
  EXPECT_FALSE(CParameterSearch::ProbeAddress(port, 2, CSearchPlan(normal)));
  CloseDevice(port);
  const std::vector<TraceRecord> records = trace.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].waited, 0u);  // nothing within the quick wait
  EXPECT_EQ(records[1].request.at(0), 2);
  EXPECT_EQ(records[1].waited, 7u);  // station 1's reply, in full
  ASSERT_EQ(records[1].reply.size(), 7u);
  EXPECT_EQ(records[1].reply[0], 1);
  EXPECT_FALSE(records[1].accepted);
  EXPECT_EQ(records[1].fault, ReplyFault::Station);
}

// What a probe heard: an answer only from the probed station's read or its
// exception; bytes that name the station and the read but fail the test
// are a collision's mark; anything else is nothing.
TEST(SearchProbeAnswer, OnlyTheProbedStationsReadOrItsExceptionCounts) {
  const auto frame = [](Bytes bytes) {
    const uint16_t crc = Crc16(bytes.data(), bytes.size());
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    return bytes;
  };
  const Bytes read = frame({0x11, 0x03, 0x02, 0x00, 0x01});
  Bytes badCheck = read;
  badCheck.back() ^= 0xFF;
  const Bytes exception = frame({0x11, 0x83, 0x02});
  Bytes exceptionBadCheck = exception;
  exceptionBadCheck.back() ^= 0xFF;
  constexpr auto kAnswer = ProbeReply::kAnswer, kGarbled = ProbeReply::kGarbled,
                 kNothing = ProbeReply::kNothing;
  const struct {
    const char* what;
    int address;
    Bytes reply;
    uint32_t waited;
    ProbeReply::Heard heard;
    int value, exception;
  } cases[] = {
      {"the probed station's read", 0x11, read, 7, kAnswer, 1, 0},
      {"another station's read", 0x12, read, 7, kNothing, -1, 0},
      {"the probed station's exception", 0x11, exception, 5, kAnswer, -1, 2},
      {"another station's exception", 0x10, exception, 5, kNothing, -1, 0},
      {"an exception with a bad check", 0x11, exceptionBadCheck, 5, kGarbled, -1, 0},
      {"an exception with more bytes queued", 0x11, exception, 7, kGarbled, -1, 0},
      {"a bad check", 0x11, badCheck, 7, kGarbled, -1, 0},
      {"more bytes queued than the reply", 0x11, read, 9, kGarbled, -1, 0},
      {"a reply cut short", 0x11, Bytes(read.begin(), read.begin() + 4), 4, kNothing, -1, 0},
      {"a write's echo", 0x11, frame({0x11, 0x06, 0x1F, 0xF8, 0x00}), 7, kNothing, -1, 0},
      {"an exception to another function", 0x11, frame({0x11, 0x86, 0x02}), 5, kNothing, -1, 0},
      {"nothing", 0x11, {}, 0, kNothing, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsProbeAnswer(c.address, c.reply.data(), c.reply.size(), c.waited), c.heard == kAnswer);
    const ProbeReply heard = ClassifyProbeReply(c.address, c.reply.data(), c.reply.size(), c.waited);
    EXPECT_EQ(heard.heard, c.heard);
    EXPECT_EQ(heard.value, c.value);
    EXPECT_EQ(heard.exception, c.exception);
  }
}

// Request and reply, 15 bytes of 10 bits each, and the 50 ms budget: the
// quick probe waits at least that, and far less than the normal 1000 ms.
TEST_F(SearchTest, AQuickProbeWaitsTheWireTimeAndTheBudget) {
  for (const int baud : {1200, 38400}) {
    SCOPED_TRACE(baud);
    const double wireMs = (8 + 7) * 10 * 1000.0 / baud;
    const double leastMs = wireMs + kDefaultSearchTurnaroundMs;
    const CSearchPlan plan = QuickPlan();
    EXPECT_GE(plan.WaitMs(baud), leastMs);
    EXPECT_LT(plan.WaitMs(baud), kNormalProbeTimeoutMs);
    HPORT port = OpenDevice(m_server.DevicePath(), baud);  // the controller is at 9600
    ASSERT_NE(port, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CParameterSearch::ProbeAddress(port, 1, plan));
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    CloseDevice(port);
    EXPECT_GE(took.count(), leastMs);
  }
}

// The estimate before any probe is measured: each probe still to come at
// its rate's wait, and the one under way at its own (less the little it
// has had). At each rate boundary of the address-outer order the probes
// left per rate are known exactly.
TEST_F(SearchTest, TheTimeLeftCountsEveryProbeToComeOnce) {
  const struct {
    const char* what;
    std::vector<int> ticked;
    int baud, address;                    // the probe under way
    std::vector<std::pair<int, int>> left;  // rate, probes after the one under way
  } cases[] = {
      {"one rate, the first probe", {9600}, 9600, 1, {{9600, 254}}},
      {"the first rate of an address", {1200, 9600}, 1200, 1, {{1200, 254}, {9600, 255}}},
      {"the last rate of an address", {1200, 9600}, 9600, 1, {{1200, 254}, {9600, 254}}},
      {"the middle rate", {1200, 9600, 38400}, 9600, 100, {{1200, 155}, {9600, 155}, {38400, 156}}},
      {"the last address, first rate", {1200, 38400}, 1200, 255, {{38400, 1}}},
      {"the very last probe", {1200, 38400}, 38400, 255, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CSearchPlan::Settings settings;
    for (const int baud : c.ticked)
      settings.ticked[std::find(std::begin(kSearchRates), std::end(kSearchRates), baud) -
                      std::begin(kSearchRates)] = true;
    CSearchPlan plan(settings);
    int64_t expected = plan.WaitMs(c.baud);
    for (const auto& [baud, probes] : c.left) expected += int64_t{probes} * plan.WaitMs(baud);
    const auto before = std::chrono::steady_clock::now();
    plan.ProbeStarted(c.baud, c.address);
    const CSearchPlan::Progress progress = plan.Now();
    const auto had = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - before).count() + 1;
    EXPECT_LE(progress.leftMs, expected);
    EXPECT_GE(progress.leftMs, expected - had);
  }
}

TEST_F(SearchTest, TheProgressTextRoundsTheTimeLeftUp) {
  const struct {
    int64_t leftMs;
    const char* text;
  } cases[] = {
      {-1, "第 7/255 次"},          {0, "第 7/255 次，约剩 0 秒"},
      {1, "第 7/255 次，约剩 1 秒"},   {59000, "第 7/255 次，约剩 59 秒"},
      {59001, "第 7/255 次，约剩 1 分 0 秒"}, {130000, "第 7/255 次，约剩 2 分 10 秒"},
  };
  for (const auto& c : cases) {
    CSearchPlan::Progress progress;
    progress.number = 7;
    progress.total = 255;
    progress.leftMs = c.leftMs;
    EXPECT_EQ(SearchProgressText(progress), QString::fromUtf8(c.text)) << c.leftMs;
  }
}

// Two rates, 510 probes; stopped after some. Counts and the time left are
// in the group while it runs, the estimate shrinks, and the line goes with
// the search. The status line keeps its own text.
TEST_F(SearchTest, TheProgressLineCountsProbesAndTheTimeLeft) {
  // The probes' numbers: address outer, the ticked rates inner.
  CSearchPlan::Settings two;
  two.ticked[3] = two.ticked[5] = true;  // 9600 and 38400
  const CSearchPlan plan(two);
  const struct {
    int baud, address, number;
  } numbers[] = {{9600, 1, 1}, {38400, 1, 2}, {9600, 2, 3}, {38400, 255, 510}, {1200, 5, 0}};
  for (const auto& n : numbers) EXPECT_EQ(plan.NumberOf(n.baud, n.address), n.number) << n.baud;

  MoveController(250, 9600);
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetQuickSearch(true);
    Tick(dlg, {IDC_SEARCH_9600, IDC_SEARCH_38400});
    Press(dlg);
    ProgressLine early, later;
    ASSERT_TRUE(WaitUntil([&] {
      early = ParseProgress(dlg.SearchProgressLine());
      return early.number >= 2;
    }));
    EXPECT_EQ(early.total, 510);
    EXPECT_GT(early.leftSeconds, 0);
    ASSERT_TRUE(WaitUntil([&] {
      later = ParseProgress(dlg.SearchProgressLine());
      return later.number >= early.number + 60;
    }));
    EXPECT_EQ(later.total, 510);
    EXPECT_GE(later.leftSeconds, 0);
    EXPECT_LT(later.leftSeconds, early.leftSeconds);
    EXPECT_TRUE(Status(dlg).startsWith(QStringLiteral("正在搜索波特率"))) << Status(dlg).toStdString();
    // The counter is the number of the probe whose address the line shows.
    const QRegularExpressionMatch shown =
        QRegularExpression(QStringLiteral("正在搜索波特率(\\d+)地址(\\d+)")).match(Status(dlg));
    ASSERT_TRUE(shown.hasMatch());
    EXPECT_EQ(ParseProgress(dlg.SearchProgressLine()).number,
              plan.NumberOf(shown.captured(1).toInt(), shown.captured(2).toInt()));
    Press(dlg);
    ASSERT_TRUE(WaitUntil([&] { return dlg.SearchProgressLine().isEmpty(); }));
  });
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
    // Through a proxy that counts the search's connections: one for the
    // whole search, whatever the rates.
    MisbehavingServer proxy(MisbehavingServer::Mode::Trickle,
                            c.rfc2217 ? server->Rfc2217Port() : server->RawPort());
    SetPortPath(2, proxy.Path(c.rfc2217 ? "rfc2217" : "tcp"));
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
    EXPECT_EQ(proxy.Accepted(), 1);
    // Back to where the next case starts: station 1 at 9600, on the pty
    // that ser2net no longer holds.
    server.reset();
    MoveControllerFrom(c.address, static_cast<int>(c.baud));
    m_messages.shown.clear();
  }
}

}  // namespace
