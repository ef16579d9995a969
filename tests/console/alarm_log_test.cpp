// The alarm-log commands on the real window against the simulated
// controller: the count, the read in one request or in pages, clearing, and
// every refusal with its message and what it leaves in the window.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alarmlog/FileExport.h"
#include "alarmlog/LogPages.h"
#include "alarmlog/LogReader.h"
#include "alarmlog/LogTable.h"
#include "answering_file_dialog.h"
#include "console_window_fixture.h"
#include "qt_print.h"
#include "window_actions.h"
#include "exchange.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Requests as the controller must see them, check bytes included.
const Bytes kReadCount = {0x01, 0x03, 0x20, 0x03, 0x00, 0x01, 0x7F, 0xCA};
const Bytes kReadCount2 = {0x01, 0x03, 0x10, 0x2C, 0x00, 0x01, 0x41, 0x03};
const Bytes kClear = {0x01, 0x06, 0x20, 0x03, 0x00, 0x01, 0xB3, 0xCA};
// Read File Record, file 0x2010: record number, record length.
const Bytes kRecords0Len0 = {0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x87};
const Bytes kRecords0Len120 = {0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0x00, 0x00, 0x78, 0x3F, 0xA5};
const Bytes kRecords120Len5 = {0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0x78, 0x00, 0x05, 0x7F, 0x9D};
const Bytes kRecords120Len120 = {0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0x78, 0x00, 0x78, 0xBF, 0xBC};
const Bytes kRecords240Len120 = {0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0xF0, 0x00, 0x78, 0x3F, 0x96};
const Bytes kRecords0Len15 = {0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0x00, 0x00, 0x0F, 0x7F, 0x83};

const QString kPortMissing = QStringLiteral("没有发现此串口或此串口被占用");

class AlarmLogTest : public ConsoleWindowTest {
 protected:
  void SetUp() override {
    ConsoleWindowTest::SetUp();
    SetTraceHook([this](const TraceRecord& r) { m_trace.push_back(r); });
  }
  void TearDown() override {
    SetTraceHook({});
    ConsoleWindowTest::TearDown();
  }

  // The controller's log holds `entries` entries of its own making.
  void SetLog(int entries) { m_server.Device().FillLog(static_cast<size_t>(entries)); }

  // The controller's log holds `entries` entries whose rows are known: entry
  // i at 2015-09-07 08:i (BCD), type i % 3, length 12.34 m + i cm.
  void SetKnownLog(int entries) {
    SetLog(0);
    for (int i = 0; i < entries; ++i) {
      const auto minute = static_cast<uint8_t>((i % 60 / 10) << 4 | i % 10);
      AppendEntry({{0x20, 0x15, 0x09, 0x07, 0x08, minute}, static_cast<uint16_t>(i % 3),
                   static_cast<uint16_t>(1234 + i)});
    }
  }
  void AppendEntry(const sim::LogEntry& entry) { m_server.Device().AppendLogEntry(entry); }

  // Clicks a command's button; a paged read is waited for to its end.
  static void ClickAndWait(CConsoleDlg& dlg, int id) {
    Click(dlg, id);
    ASSERT_TRUE(WaitUntil([&] { return !dlg.IsReadingLog(); }));
  }

  static QTreeWidget& List(CConsoleDlg& dlg) {
    return *qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_ALARM_LIST));
  }
  static std::vector<QStringList> Rows(CConsoleDlg& dlg) {
    std::vector<QStringList> rows;
    QTreeWidget& list = List(dlg);
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      QStringList cells;
      for (int c = 0; c < list.columnCount(); ++c) cells << list.topLevelItem(i)->text(c);
      rows.push_back(cells);
    }
    return rows;
  }
  static QStringList Numbers(CConsoleDlg& dlg) {
    QStringList numbers;
    for (const QStringList& row : Rows(dlg)) numbers << row[0];
    return numbers;
  }
  static QStringList Numbered(int from, int to) {
    QStringList numbers;
    for (int i = from; i <= to; ++i) numbers << QString::number(i);
    return numbers;
  }

  // A snapshot without static 1072, the count a read changes.
  static QStringList WithoutCount(QStringList state) {
    state.removeIf([](const QString& line) { return line.startsWith(QStringLiteral("id1072 ")); });
    return state;
  }

  // The frames since the start-up exchange.
  std::vector<Bytes> CommandFrames() const {
    std::vector<Bytes> frames = Frames();
    frames.erase(frames.begin(), frames.begin() + std::min<size_t>(2, frames.size()));
    return frames;
  }

  std::vector<TraceRecord> m_trace;
};

struct ReadCase {
  const char* name;
  int entries;
  std::vector<Bytes> frames;
  bool paged;
  QStringList first, last;  // the first and the last row
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class LogRead : public AlarmLogTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(LogRead, RequestsRowsAndTimeFormat) {
  const ReadCase& c = GetParam();
  SetKnownLog(c.entries);
  std::vector<QStringList> rows;
  QString count;
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);
    rows = Rows(dlg);
    count = dlg.GetDlgItemText(IDC_LOG_COUNT);
  });
  EXPECT_EQ(CommandFrames(), c.frames);
  EXPECT_TRUE(m_messages.shown.empty());
  EXPECT_EQ(count, QString::number(c.entries));
  ASSERT_EQ(rows.size(), static_cast<size_t>(c.entries));
  if (!rows.empty()) {
    EXPECT_EQ(rows.front(), c.first);
    EXPECT_EQ(rows.back(), c.last);
  }
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], QString::number(i + 1));
  EXPECT_EQ(PortHandle, nullptr);
  // Each page's request went out after its pause; the last reply was as long
  // as its page.
  const std::vector<sim::ReceivedFrame> requests = m_server.Requests();
  for (size_t i = 3; c.paged && i < requests.size(); ++i)
    EXPECT_GE(requests[i].when - requests[i - 1].when, std::chrono::milliseconds(50));
  ASSERT_FALSE(m_trace.empty());
  EXPECT_EQ(m_trace.back().expected, 10u * (c.entries - (c.paged ? 24 : 0)) + 7);
}

// One time format, "YYYY/MM/DD HH:MM", in the single request and the pages.
INSTANTIATE_TEST_SUITE_P(
    Entries, LogRead,
    ::testing::Values(
        ReadCase{"None", 0, {kReadCount, kRecords0Len0}, false, {}, {}},
        ReadCase{"Three", 3, {kReadCount, kRecords0Len15}, false,
                 {"1", "2015/09/07 08:00", "无告警", "12.34m"}, {"3", "2015/09/07 08:02", "断线", "12.36m"}},
        ReadCase{"OneFullRequest", 24, {kReadCount, kRecords0Len120}, false,
                 {"1", "2015/09/07 08:00", "无告警", "12.34m"}, {"24", "2015/09/07 08:23", "断线", "12.57m"}},
        ReadCase{"OnePastARequest", 25, {kReadCount, kRecords0Len120, kRecords120Len5}, true,
                 {"1", "2015/09/07 08:00", "无告警", "12.34m"}, {"25", "2015/09/07 08:24", "无告警", "12.58m"}},
        ReadCase{"TwoFullPages", 48, {kReadCount, kRecords0Len120, kRecords120Len120}, true,
                 {"1", "2015/09/07 08:00", "无告警", "12.34m"}, {"48", "2015/09/07 08:47", "断线", "12.81m"}}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(AlarmLogTest, TypesBeyondTwoLeaveTheTypeCellEmpty) {
  SetLog(0);
  AppendEntry({{0x20, 0x26, 0x12, 0x08, 0x09, 0x30}, 1, 1250});
  AppendEntry({{0x20, 0x26, 0x12, 0x08, 0x10, 0x45}, 3, 7});
  AppendEntry({{0x20, 0x26, 0x12, 0x08, 0x11, 0x59}, 0xFFFF, 65535});
  std::vector<QStringList> rows;
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);
    rows = Rows(dlg);
  });
  EXPECT_EQ(rows, (std::vector<QStringList>{{"1", "2026/12/08 09:30", "水浸", "12.50m"},
                                            {"2", "2026/12/08 10:45", "", "0.07m"},
                                            {"3", "2026/12/08 11:59", "", "655.35m"}}));
}

TEST_F(AlarmLogTest, SecondOfThreePagesRefusedKeepsTheFirst) {
  SetLog(72);
  QStringList numbers;
  QString count;
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.InjectFault(sim::Fault::Silence, 1, 0, /*after=*/2);  // the count, the first page
    ClickAndWait(dlg, IDC_READ_LOG);
    numbers = Numbers(dlg);
    count = dlg.GetDlgItemText(IDC_LOG_COUNT);
  });
  EXPECT_EQ(count, QStringLiteral("72（已读 24，读取失败）"));
  EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{kReadCount, kRecords0Len120, kRecords120Len120}));
  EXPECT_EQ(numbers, Numbered(1, 24));
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("读取日志失败!"));
  EXPECT_FALSE(m_messages.shown[0].application);
  EXPECT_TRUE(m_messages.shown[0].portOpen);
  EXPECT_EQ(PortHandle, nullptr);
  // Refused because nothing came: waited for 247 bytes, none queued or read.
  ASSERT_EQ(m_trace.size(), 5u);
  EXPECT_EQ(m_trace.back().expected, 247u);
  EXPECT_EQ(m_trace.back().waited, 0u);
  EXPECT_TRUE(m_trace.back().reply.empty());
}

TEST_F(AlarmLogTest, CommandsAreLockedWhileThePagesComeAndRestoredAfter) {
  SetLog(72);
  QStringList before, during, after;
  RunWindow([&](CConsoleDlg& dlg) {
    before = Snapshot(dlg);
    Click(dlg, IDC_READ_LOG);
    // Between pages the window is back in its event loop: rows so far shown.
    ASSERT_TRUE(WaitUntil([&] { return List(dlg).topLevelItemCount() == 24; }));
    ASSERT_TRUE(dlg.IsReadingLog());
    during = Snapshot(dlg);
    // A click on a locked command does nothing.
    Click(dlg, IDC_CLEAR_LOG);
    ASSERT_TRUE(WaitUntil([&] { return !dlg.IsReadingLog(); }));
    after = Snapshot(dlg);
  });
  // All as it was but the count shown.
  EXPECT_EQ(WithoutCount(after), WithoutCount(before));
  EXPECT_EQ(CommandFrames().size(), 4u);  // count and three pages, no clear
  for (int id : CConsoleDlg::CommandIds()) {
    const QString name = QStringLiteral("id%1 ").arg(id);
    for (const QString& line : during) {
      if (line.startsWith(name)) {
        EXPECT_TRUE(line.contains(QStringLiteral(" disabled"))) << line.toStdString();
      }
    }
  }
  // The address, port and baud fields are no commands.
  for (const QString& line : during) {
    if (line.startsWith(QStringLiteral("id1000 "))) {
      EXPECT_FALSE(line.contains(QStringLiteral(" disabled")));
    }
  }
}

TEST_F(AlarmLogTest, ClosingTheWindowEndsTheReadAndClosesThePort) {
  SetLog(24 * 6);
  RunWindow([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_READ_LOG);
    ASSERT_TRUE(WaitUntil([&] { return List(dlg).topLevelItemCount() == 24; }));
    dlg.reject();
    EXPECT_FALSE(dlg.IsReadingLog());
  });
  EXPECT_EQ(PortHandle, nullptr);
  const size_t sent = Frames().size();
  QTest::qWait(200);  // longer than a page's pause: nothing more goes out
  EXPECT_EQ(Frames().size(), sent);
  EXPECT_EQ(CommandFrames().size(), 2u);
}

// "清除日志" asks first, in a box of the window; "否" sends nothing and
// leaves the list, "是" clears it and the count shows 0.
TEST_F(AlarmLogTest, ClearAsksFirstThenEmptiesTheListAndTheCount) {
  struct Case {
    const char* name;
    bool answer;
    std::vector<Bytes> frames;  // after the read
    size_t rows;
    const char* count;
    size_t logAfter;
  };
  const Case cases[] = {
      {"Yes", true, {kClear}, 0, "0", 0},
      {"No", false, {}, 3, "3", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLog(3);
    m_messages.shown.clear();
    m_messages.answer = c.answer;
    size_t rows = 9;
    QString count;
    RunWindow([&](CConsoleDlg& dlg) {
      ClickAndWait(dlg, IDC_READ_LOG);
      m_server.ClearRequests();
      ClickAndWait(dlg, IDC_CLEAR_LOG);
      rows = Rows(dlg).size();
      count = dlg.GetDlgItemText(IDC_LOG_COUNT);
    });
    EXPECT_EQ(Frames(), c.frames);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(count, QString::fromUtf8(c.count));
    EXPECT_EQ(m_server.Device().LogCount(), c.logAfter);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("确定要清除控制器中的全部告警日志吗？"));
    EXPECT_TRUE(m_messages.shown[0].question);
    EXPECT_FALSE(m_messages.shown[0].application);
    EXPECT_FALSE(m_messages.shown[0].portOpen);  // asked before the port is opened
  }
}

TEST_F(AlarmLogTest, EntryCountReadsItsOwnRegister) {
  SetLog(0);
  m_server.Device().SetRegister(REG_LOG_COUNT_2, 321);
  QString count;
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_ENTRY_COUNT);
    count = dlg.GetDlgItemText(IDC_LOG_COUNT);
  });
  EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{kReadCount2}));
  EXPECT_EQ(count, QStringLiteral("321"));
}

// --- Refusals --------------------------------------------------------------------------

struct RefusalCase {
  const char* name;
  int button;
  int entries;     // in the log when the command runs
  int faultAfter;  // good replies before the refused one; -1: the port is missing
  const char* message;
  std::vector<Bytes> frames;
  int rows;           // rows left; -1: the two rows listed before, as they were
  const char* count;  // static 1072 after
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class LogRefusal : public AlarmLogTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(LogRefusal, MessageAndWhatStays) {
  const RefusalCase& c = GetParam();
  SetLog(2);
  std::vector<QStringList> listed, rows;
  QString count;
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);  // two rows and a count of 2 to start from
    listed = Rows(dlg);
    SetLog(c.entries);
    m_server.ClearRequests();
    if (c.faultAfter < 0)
      SetPortPath(1, "/dev/qd7420-test-no-such-device");
    else
      m_server.InjectFault(sim::Fault::Silence, 1, 0, c.faultAfter);
    ClickAndWait(dlg, c.button);
    rows = Rows(dlg);
    count = dlg.GetDlgItemText(IDC_LOG_COUNT);
  });
  EXPECT_EQ(Frames(), c.frames);
  // The clear's question comes first and is answered "是".
  std::vector<CRecordingMessageService::Shown> shown = m_messages.shown;
  if (c.button == IDC_CLEAR_LOG) {
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown.front().question);
    shown.erase(shown.begin());
  }
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QString::fromUtf8(c.message));
  EXPECT_EQ(shown[0].application, c.faultAfter < 0);
  EXPECT_EQ(shown[0].portOpen, c.faultAfter >= 0);
  EXPECT_EQ(PortHandle, nullptr);
  if (c.rows < 0)
    EXPECT_EQ(rows, listed);
  else
    EXPECT_EQ(rows.size(), static_cast<size_t>(c.rows));
  EXPECT_EQ(count, QString::fromUtf8(c.count));
  if (c.faultAfter >= 0) {
    ASSERT_FALSE(m_trace.empty());
    EXPECT_EQ(m_trace.back().waited, 0u);  // refused because nothing came
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogRefusal,
    ::testing::Values(
        RefusalCase{"CountPortMissing", IDC_READ_LOG_COUNT, 7, -1, "没有发现此串口或此串口被占用", {}, -1, "2"},
        RefusalCase{"EntryCountPortMissing", IDC_READ_ENTRY_COUNT, 7, -1, "没有发现此串口或此串口被占用", {}, -1, "2"},
        RefusalCase{"ReadPortMissing", IDC_READ_LOG, 7, -1, "没有发现此串口或此串口被占用", {}, -1, "2"},
        RefusalCase{"ClearPortMissing", IDC_CLEAR_LOG, 7, -1, "没有发现此串口或此串口被占用", {}, -1, "2"},
        RefusalCase{"CountRefused", IDC_READ_LOG_COUNT, 7, 0, "读取错误", {kReadCount}, -1, "2"},
        RefusalCase{"EntryCountRefused", IDC_READ_ENTRY_COUNT, 7, 0, "读取失败!", {kReadCount2}, -1, "2"},
        RefusalCase{"ReadCountRefused", IDC_READ_LOG, 7, 0, "读取失败!", {kReadCount}, 0, "2"},
        RefusalCase{"SingleRequestRefused", IDC_READ_LOG, 24, 1, "读取失败!", {kReadCount, kRecords0Len120}, 0, "24"},
        RefusalCase{"PageRefused", IDC_READ_LOG, 25, 2, "读取日志失败!",
                    {kReadCount, kRecords0Len120, kRecords120Len5}, 24, "25（已读 24，读取失败）"},
        RefusalCase{"FirstPageRefused", IDC_READ_LOG, 48, 1, "读取日志失败!", {kReadCount, kRecords0Len120}, 0,
                    "48（已读 0，读取失败）"},
        RefusalCase{"ClearRefused", IDC_CLEAR_LOG, 7, 0, "设置失败!", {kClear}, -1, "2"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// --- The list for reports: export, copy, order, progress and stop ------------------

// A CSV reader of the standard kind, for reading exports back.
QList<QStringList> ReadCsv(const QString& text) {
  QList<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row << field;
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row << field;
      field.clear();
      rows << row;
      row.clear();
      ++i;
    } else {
      field += c;
    }
  }
  return rows;
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList kHeader = {"编号", "时间", "告警类型", "告警长度"};

TEST(LogCsv, QuotesOnlyWhatNeedsItAndReadsBack) {
  struct Case {
    const char* text;
    const char* field;
  };
  const Case cases[] = {
      {"12.34m", "12.34m"},          {"水浸", "水浸"},
      {"a,b", "\"a,b\""},             {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""}, {"", ""},
      {"carriage\rreturn", "\"carriage\rreturn\""}, {"crlf\r\nline", "\"crlf\r\nline\""},
  };
  QList<QStringList> rows{{}};
  for (const Case& c : cases) {
    EXPECT_EQ(CsvField(QString::fromUtf8(c.text)), QString::fromUtf8(c.field)) << c.text;
    rows.front() << QString::fromUtf8(c.text);
  }
  const QByteArray csv = LogCsv(kHeader, rows);
  EXPECT_EQ(ReadCsv(QString::fromUtf8(csv.mid(3))), (QList<QStringList>{kHeader, rows.front()}));
}

class LogReportTest : public AlarmLogTest {
 protected:
  QAction* MenuAction(CConsoleDlg& dlg, const char* text) {
    for (QAction* action : dlg.AlarmListMenu()->actions())
      if (action->text() == QString::fromUtf8(text)) return action;
    ADD_FAILURE() << "no menu entry " << text;
    return nullptr;
  }
  // A folder the console cannot write to, for root as well.
  static QString ReadOnlyFolder(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("locked"));
    QDir().mkpath(path);
    ::chmod(path.toLocal8Bit().constData(), 0555);
    return ::access(path.toLocal8Bit().constData(), W_OK) == 0 ? QStringLiteral("/proc/self") : path;
  }
  QTemporaryDir m_dir;
};

TEST_F(LogReportTest, ExportWritesTheRowsAsShown) {
  SetKnownLog(3);
  CAnsweringFileDialog fileDialog(m_dir.filePath(QStringLiteral("log.csv")));
  std::vector<QStringList> rows;
  RunWindow([&](CConsoleDlg& dlg) {
    dlg.SetTimeSource([] { return QDateTime(QDate(2026, 12, 9), QTime(7, 5, 9)); });
    ClickAndWait(dlg, IDC_READ_LOG);
    rows = Rows(dlg);
    List(dlg).setFocus();
    QTest::keyClick(&List(dlg), Qt::Key_S, Qt::ControlModifier);
  });
  EXPECT_EQ(fileDialog.asked, 1);
  EXPECT_EQ(fileDialog.proposed, DocumentsPath(QStringLiteral("QD7420_1_20261209-070509.csv")));
  const QByteArray bytes = FileBytes(fileDialog.answer);
  ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF编号,时间,告警类型,告警长度\r\n"));
  EXPECT_TRUE(bytes.contains("\r\n2,2015/09/07 08:01,水浸,12.35m\r\n"));
  EXPECT_TRUE(bytes.endsWith("\r\n")) << "every row ends its line";
  EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n"));
  QList<QStringList> expected{kHeader};
  for (const QStringList& row : rows) expected << row;
  EXPECT_EQ(ReadCsv(QString::fromUtf8(bytes.mid(3))), expected);
  EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(LogReportTest, EmptyListExportsTheHeaderOnly) {
  CAnsweringFileDialog fileDialog(m_dir.filePath(QStringLiteral("empty.csv")));
  RunWindow([&](CConsoleDlg& dlg) { MenuAction(dlg, "导出日志…")->trigger(); });
  EXPECT_EQ(FileBytes(fileDialog.answer), QByteArray("\xEF\xBB\xBF编号,时间,告警类型,告警长度\r\n"));
}

TEST_F(LogReportTest, AFailedWriteSaysWhyAndLeavesNoFile) {
  SetKnownLog(3);
  const QString folder = ReadOnlyFolder(m_dir);
  CAnsweringFileDialog fileDialog(folder + QStringLiteral("/log.csv"));
  const QStringList before = QDir(folder).entryList(QDir::Files);
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);
    MenuAction(dlg, "导出日志…")->trigger();
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  const QString text = m_messages.shown[0].text;
  EXPECT_TRUE(text.startsWith(QStringLiteral("无法保存文件 ") + fileDialog.answer)) << qPrintable(text);
  EXPECT_GT(text.size(), QStringLiteral("无法保存文件 ：\n").size() + fileDialog.answer.size())
      << "and the system's reason";
  EXPECT_FALSE(m_messages.shown[0].application);
  EXPECT_FALSE(QFile::exists(fileDialog.answer));
  EXPECT_EQ(QDir(folder).entryList(QDir::Files), before) << "no temporary file left";
}

TEST_F(LogReportTest, CopyPutsTheSelectedRowsTabSeparated) {
  SetKnownLog(3);
  QString copied;
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);
    QTreeWidget& list = List(dlg);
    list.topLevelItem(0)->setSelected(true);
    list.topLevelItem(2)->setSelected(true);
    list.setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    copied = QApplication::clipboard()->text();
  });
  EXPECT_EQ(copied, QStringLiteral("1\t2015/09/07 08:00\t无告警\t12.34m\n"
                                   "3\t2015/09/07 08:02\t断线\t12.36m\n"));
}

struct SortCase {
  int column;
  int clicks;
  QStringList numbers;  // the 编号 column after the clicks
};

TEST_F(LogReportTest, HeaderClicksSortEachColumnBothWaysAndANewReadResets) {
  // Time, type and length each in another order than the reading's.
  SetLog(0);
  AppendEntry({{0x20, 0x15, 0x09, 0x07, 0x08, 0x05}, 2, 10000});
  AppendEntry({{0x20, 0x14, 0x12, 0x31, 0x23, 0x59}, 1, 1234});
  AppendEntry({{0x20, 0x16, 0x01, 0x01, 0x00, 0x00}, 0, 500});
  AppendEntry({{0x20, 0x15, 0x09, 0x07, 0x08, 0x04}, 1, 65535});
  const SortCase cases[] = {
      {0, 1, {"1", "2", "3", "4"}}, {0, 2, {"4", "3", "2", "1"}},
      {1, 1, {"2", "4", "1", "3"}}, {1, 2, {"3", "1", "4", "2"}},
      // As text: 断 U+65AD, 无 U+65E0, 水 U+6C34; equal keys keep reading order.
      {2, 1, {"1", "3", "2", "4"}}, {2, 2, {"2", "4", "3", "1"}},
      {3, 1, {"3", "2", "1", "4"}}, {3, 2, {"4", "1", "2", "3"}},
  };
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);
    QHeaderView& header = *List(dlg).header();
    for (const SortCase& c : cases) {
      SCOPED_TRACE(testing::Message() << "column " << c.column << ", clicks " << c.clicks);
      const QPoint at(header.sectionViewportPosition(c.column) + 5, header.height() / 2);
      // From another column's order, so the first click is the first on this one.
      QTest::mouseClick(header.viewport(), Qt::LeftButton, {},
                        QPoint(header.sectionViewportPosition((c.column + 1) % 4) + 5, header.height() / 2));
      for (int i = 0; i < c.clicks; ++i) QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, at);
      EXPECT_EQ(Numbers(dlg), c.numbers);
      EXPECT_TRUE(header.isSortIndicatorShown());
    }
    ClickAndWait(dlg, IDC_READ_LOG);
    EXPECT_EQ(Numbers(dlg), Numbered(1, 4));
    EXPECT_FALSE(header.isSortIndicatorShown());
    // The order starts afresh: one click is ascending again.
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, QPoint(header.sectionViewportPosition(0) + 5, header.height() / 2));
    EXPECT_EQ(Numbers(dlg), Numbered(1, 4));
  });
}

TEST_F(LogReportTest, ProgressOfAPacedReadPageByPage) {
  SetLog(300);
  m_server.SetPacing(true);
  QStringList shown;
  QString after;
  RunWindow([&](CConsoleDlg& dlg) {
    // Looked at once each page is listed, before the next one's pause ends.
    QObject::connect(List(dlg).model(), &QAbstractItemModel::rowsInserted, &dlg,
            [&] { shown << dlg.GetDlgItemText(IDC_LOG_COUNT); }, Qt::QueuedConnection);
    ClickAndWait(dlg, IDC_READ_LOG);
    after = dlg.GetDlgItemText(IDC_LOG_COUNT);
  });
  ASSERT_GE(shown.size(), 2);
  EXPECT_EQ(shown[0], QStringLiteral("正在读取 24/300"));
  EXPECT_EQ(shown[1], QStringLiteral("正在读取 48/300"));
  EXPECT_EQ(after, QStringLiteral("300"));
}

struct StopCase {
  const char* name;
  bool byKey;  // Esc, or the menu's "停止"
};

class LogStop : public LogReportTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(LogStop, AfterTheFirstPageKeepsItsRowsAndTheCommands) {
  SetLog(300);
  m_server.SetPacing(true);
  QStringList before, after;
  int rows = 0;
  bool reading = true;
  std::vector<CRecordingMessageService::Shown> reports;
  CAnsweringFileDialog fileDialog(m_dir.filePath(QStringLiteral("part.csv")));
  RunWindow([&](CConsoleDlg& dlg) {
    before = Snapshot(dlg);
    QObject::connect(List(dlg).model(), &QAbstractItemModel::rowsInserted, &dlg, [&] {
      if (GetParam().byKey)
        QTest::keyClick(&dlg, Qt::Key_Escape);
      else
        MenuAction(dlg, "停止")->trigger();
    }, Qt::QueuedConnection);
    Click(dlg, IDC_READ_LOG);
    ASSERT_TRUE(WaitUntil([&] { return !dlg.IsReadingLog(); }));
    QTest::qWait(200);  // longer than a page's pause
    rows = List(dlg).topLevelItemCount();
    reading = dlg.IsReadingLog();
    after = Snapshot(dlg);
    EXPECT_TRUE(dlg.isVisible()) << "Esc stopped the read, not the window";
    EXPECT_TRUE(m_messages.shown.empty());
    // What the part left is exported and copied, and each says how much.
    MenuAction(dlg, "导出日志…")->trigger();
    List(dlg).topLevelItem(3)->setSelected(true);
    MenuAction(dlg, "复制")->trigger();
    reports = m_messages.shown;
  });
  EXPECT_EQ(rows, 24);
  EXPECT_FALSE(reading);
  EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{kReadCount, kRecords0Len120}));
  EXPECT_EQ(PortHandle, nullptr);
  // The commands back as they were; the count shows the log's size and
  // that the read was stopped.
  EXPECT_TRUE(after.contains(QStringLiteral("id1072 QLabel 300（已读 24，读取已停止）")));
  EXPECT_EQ(WithoutCount(after), WithoutCount(before));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, QStringLiteral("已导出 24 条，控制器共有 300 条（读取已停止）。"));
  EXPECT_TRUE(reports[0].information);
  EXPECT_EQ(reports[1].text, QStringLiteral("已复制 1 条；列表只有控制器 300 条中的一部分（读取已停止）。"));
  // The file holds the rows shown, the header and 24 of them.
  EXPECT_EQ(FileBytes(fileDialog.answer).count("\r\n"), 25);
}

// The reader itself stopped, in a page's pause: it asks for no page after
// the stop, says nothing and ends once, even while it is still there (the
// window lets it go only later). One with no page to read ends at its start.
TEST_F(LogReportTest, AStoppedReaderAsksForNoMorePages) {
  SetLog(300);
  const struct {
    const char* when;
    int entries;   // the log the reader is planned for
    size_t pages;  // read before the stop
    std::vector<Bytes> frames;
  } cases[] = {
      {"in the first page's pause", 300, 0, {}},
      {"in the second page's pause", 300, 1, {kRecords0Len120}},
      {"with no page to read", 0, 0, {}},
  };
  RunWindow([&](CConsoleDlg& dlg) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.when);
      ASSERT_NE(OpenPort(1, 9600), nullptr);  // as the command leaves it to the reader
      m_server.ClearRequests();
      m_messages.shown.clear();
      int ended = 0;
      std::vector<LogPage> pages = c.entries > 0 ? PlanLogRead(c.entries).pages : std::vector<LogPage>{};
      CLogReader reader(dlg, List(dlg), 1, std::move(pages), {});
      QObject::connect(&reader, &CLogReader::finished, &dlg, [&ended] { ++ended; });
      reader.Start(PortHandle);
      EXPECT_EQ(ended, c.entries > 0 ? 0 : 1);
      if (c.pages > 0) {
        ASSERT_TRUE(WaitUntil([&] { return reader.PagesRead() == c.pages; }));
      }
      reader.Stop();
      EXPECT_EQ(PortHandle, nullptr);
      QTest::qWait(200);  // longer than a page's pause
      EXPECT_EQ(Frames(), c.frames);
      EXPECT_EQ(reader.PagesRead(), c.pages);
      EXPECT_EQ(ended, 1);
      EXPECT_TRUE(m_messages.shown.empty());
    }
  });
}

// The operator cancels the save dialog: nothing is written, nothing said.
TEST_F(LogReportTest, ACancelledExportWritesNothingAndSaysNothing) {
  SetKnownLog(3);
  CAnsweringFileDialog fileDialog;  // cancelled
  RunWindow([&](CConsoleDlg& dlg) {
    ClickAndWait(dlg, IDC_READ_LOG);
    MenuAction(dlg, "导出日志…")->trigger();
  });
  EXPECT_EQ(fileDialog.asked, 1);
  EXPECT_TRUE(m_messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, LogStop,
                         ::testing::Values(StopCase{"Esc", true}, StopCase{"Menu", false}),
                         [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

}  // namespace
