// The trace line of an exchange, why a port was refused (in the trace and in
// the port box), the traffic window that shows the same records, and the
// reading of typed numbers.
#include <fcntl.h>
#include <grp.h>
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>

#include <chrono>
#include <climits>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ports/PortRefusal.h"
#include "window/TextNumbers.h"
#include "traffic/Trace.h"
#include "open_failure.h"
#include "traffic/TrafficDlg.h"
#include "traffic/TrafficLog.h"
#include "traffic/TrafficModel.h"
#include "traffic/TrafficView.h"
#include "answering_file_dialog.h"
#include "console_window_fixture.h"
#include "port_lock.h"
#include "resource.h"
#include "serial_port.h"
#include "window_actions.h"

namespace {

// A pseudo-terminal whose slave the port under test opens.
class Pty {
 public:
  Pty() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)) {
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) path_ = ptsname(master_);
    // Without a slave descriptor of its own the line would hang up on every close.
    if (!path_.empty()) slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~Pty() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }

 private:
  int master_;
  int slave_ = -1;
  std::string path_;
};

// Another program with the device open and no lock: `sleep` with the device
// as its standard input.
class Holder {
 public:
  explicit Holder(const std::string& path) : pid_(fork()) {
    if (pid_ == 0) {
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
      if (fd < 0 || dup2(fd, 0) < 0) _exit(1);
      execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(1);
    }
    // Ready once it runs as sleep: the exec came after the open.
    for (int i = 0; i < 500 && pid_ > 0 && ProgramName(pid_) != "sleep"; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~Holder() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool Ok() const { return pid_ > 0 && ProgramName(pid_) == "sleep"; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_;
};

std::string GroupName(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "";
  const group* g = getgrgid(st.st_gid);
  return g ? g->gr_name : std::to_string(st.st_gid);
}

// OpenDevice as a user without rights: as ourselves when we are not root,
// else in a child that has given up root. The cause and its detail.
std::pair<OpenCause, std::string> OpenWithoutRoot(const std::string& path, bool& dropped) {
  dropped = true;
  if (geteuid() != 0) {
    const bool opened = OpenDevice(path, 9600) != nullptr;
    return {opened ? OpenCause::None : LastOpenFailure().cause, LastOpenFailure().detail};
  }
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {OpenCause::None, ""};
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    const bool opened = OpenDevice(path, 9600) != nullptr;
    const std::string said =
        std::to_string(opened ? 0 : static_cast<int>(LastOpenFailure().cause)) + ' ' +
        LastOpenFailure().detail;
    (void)!write(pipeFds[1], said.data(), said.size());
    _exit(0);
  }
  close(pipeFds[1]);
  char text[256] = {};
  const ssize_t n = read(pipeFds[0], text, sizeof text - 1);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2 || n <= 0) {
    dropped = false;
    return {OpenCause::None, ""};
  }
  const std::string said(text, static_cast<size_t>(n));
  const size_t space = said.find(' ');
  return {static_cast<OpenCause>(std::stoi(said.substr(0, space))), said.substr(space + 1)};
}

// A local wall-clock time, as the trace prints it.
std::chrono::system_clock::time_point LocalTime(int hour, int minute, int second, int millis) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
         std::chrono::milliseconds(millis);
}

TEST(Trace, OneLinePerExchange) {
  const std::vector<uint8_t> request = {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x00, 0x5E, 0x2F};
  struct Case {
    TraceRecord record;
    const char* line;
  };
  const Case cases[] = {
      {{LocalTime(9, 5, 3, 42), "/dev/pts/3", request, request, 8, 8, true, 3.25},
       "09:05:03.042 /dev/pts/3 tx 01 06 1F F9 00 00 5E 2F rx 01 06 1F F9 00 00 5E 2F "
       "waited 8/8 read 8 accepted 3.2 ms"},
      {{LocalTime(23, 59, 59, 999), "/dev/ttyUSB0", request, {}, 8, 0, false, 300.44},
       "23:59:59.999 /dev/ttyUSB0 tx 01 06 1F F9 00 00 5E 2F rx - waited 0/8 read 0 rejected "
       "300.4 ms"},
      {{LocalTime(0, 0, 0, 0), "/dev/ttyS0", {0x01, 0x03, 0x20, 0x0A, 0x00, 0x01, 0xAF, 0xC8},
        {0x01, 0x83, 0x04, 0x40, 0xF3}, 7, 5, false, 1001.0},
       "00:00:00.000 /dev/ttyS0 tx 01 03 20 0A 00 01 AF C8 rx 01 83 04 40 F3 waited 5/7 read 5 "
       "rejected 1001.0 ms"},
      // Length and check right: the counts cannot say why, the line does.
      {{LocalTime(0, 0, 0, 0), "/dev/ttyS0", request, {0x02, 0x06, 0x1F, 0xF9, 0x00, 0x00, 0x5E, 0x1C},
        8, 8, false, 2.0, ReplyFault::Station},
       "00:00:00.000 /dev/ttyS0 tx 01 06 1F F9 00 00 5E 2F rx 02 06 1F F9 00 00 5E 1C waited 8/8 "
       "read 8 rejected 2.0 ms (another station)"},
      {{LocalTime(0, 0, 0, 0), "/dev/ttyS0", request, {}, 8, 0, false, 0.5, ReplyFault::Length, true},
       "00:00:00.000 /dev/ttyS0 tx 01 06 1F F9 00 00 5E 2F rx - waited 0/8 read 0 rejected 0.5 ms "
       "(called off)"},
      {{LocalTime(0, 0, 0, 0), "/dev/ttyS0", request, request, 8, 8, true, 1.0, ReplyFault::None, false,
        9600, ExchangeOutcome::Accepted, 0, true},
       "00:00:00.000 /dev/ttyS0 tx 01 06 1F F9 00 00 5E 2F echo dropped rx 01 06 1F F9 00 00 5E 2F "
       "waited 8/8 read 8 accepted 1.0 ms"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTraceRecord(c.record), c.line);
}

TEST(Trace, InstalledSinkGetsExchangesAndNotes) {
  std::vector<std::string> lines;
  EXPECT_FALSE(TraceEnabled());
  TraceNote("not traced");
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(TraceEnabled());
  TraceNote("window shown 12 ms after the start-up exchange");
  RemoveTrace();
  TraceNote("not traced either");
  ASSERT_EQ(lines.size(), 1u);
  // "HH:MM:SS.mmm " then the text
  EXPECT_EQ(lines[0].size(), 13 + std::string("window shown 12 ms after the start-up exchange").size());
  EXPECT_EQ(lines[0].substr(13), "window shown 12 ms after the start-up exchange");
  EXPECT_EQ(lines[0][2], ':');
  EXPECT_EQ(lines[0][8], '.');
}

// One message box stands for a missing device, missing rights and a line
// someone else holds; the trace tells them apart.
TEST(Trace, SaysWhyAPortWasNotOpened) {
  std::vector<std::string> lines;
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  EXPECT_EQ(OpenDevice("/dev/qd7420-no-such-port", 9600), nullptr);
  RemoveTrace();
  EXPECT_EQ(OpenDevice("/dev/qd7420-no-such-port", 9600), nullptr);
  ASSERT_EQ(lines.size(), 1u);
  const std::string said = "/dev/qd7420-no-such-port not opened: ";
  EXPECT_EQ(lines[0].substr(13, said.size()), said);
  EXPECT_GT(lines[0].size(), 13 + said.size()) << "and why (the system's words for ENOENT)";
}

// Each cause of a refusal, produced for real: the port box's informative
// text, and the trace's words for the same refusal.
TEST(PortRefusal, NamesTheDeviceAndOneCauseWithItsCure) {
  Pty pty;
  ASSERT_FALSE(pty.Path().empty());
  char fileName[] = "/tmp/qd7420-not-a-tty-XXXXXX";
  const int file = mkstemp(fileName);
  ASSERT_GE(file, 0);
  close(file);
  struct Case {
    const char* name;
    std::string path;
    int baud;
    std::string text;       // the informative text
    std::string traceWords;  // part of the trace line
  };
  const std::vector<Case> cases = {
      {"Missing", "/dev/qd7420-no-such-port", 9600,
       "设备 /dev/qd7420-no-such-port 不存在：请检查连接。", "No such file or directory"},
      {"EmptyBaudEntry", pty.Path(), 0, "请选择波特率", "no baud rate chosen"},
      {"NotATerminal", fileName, 9600,
       std::string("无法打开 ") + fileName + "：Inappropriate ioctl for device", "not a terminal"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    InstallTrace([&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(OpenDevice(c.path, c.baud), nullptr) << c.name;
    RemoveTrace();
    EXPECT_EQ(PortRefusalText(LastOpenFailure()).toStdString(), c.text) << c.name;
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_NE(lines[0].find(c.path + " not opened: "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(c.traceWords), std::string::npos) << lines[0];
  }
  unlink(fileName);
  // Nothing went out on the line the empty baud entry named.
  char byte = 0;
  EXPECT_EQ(read(pty.Master(), &byte, 1), -1);
}

TEST(PortRefusal, HeldByAnotherProgramNamesItAndItsProcess) {
  Pty pty;
  Holder holder(pty.Path());
  ASSERT_TRUE(holder.Ok()) << "no sleep(1) to hold the device";
  std::vector<std::string> lines;
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  EXPECT_EQ(OpenDevice(pty.Path(), 9600), nullptr);
  RemoveTrace();
  const std::string pid = std::to_string(holder.Pid());
  EXPECT_EQ(PortRefusalText(LastOpenFailure()).toStdString(),
            pty.Path() + " 正被 sleep（进程 " + pid + "）使用。");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("open in process " + pid + " (sleep)"), std::string::npos) << lines[0];
}

TEST(PortRefusal, WithoutPermissionNamesTheDevicesGroup) {
  Pty pty;
  ASSERT_EQ(chmod(pty.Path().c_str(), 0), 0);
  bool dropped = false;
  const auto [cause, detail] = OpenWithoutRoot(pty.Path(), dropped);
  if (!dropped) GTEST_SKIP() << "cannot give up root here (setuid to 65534 refused)";
  ASSERT_EQ(cause, OpenCause::NoPermission);
  const std::string group = GroupName(pty.Path());
  EXPECT_EQ(detail, group);
  OpenFailure failure{cause, pty.Path(), detail, 0, ""};
  EXPECT_EQ(PortRefusalText(failure).toStdString(),
            "没有权限打开 " + pty.Path() + "：请将用户加入 " + group + " 组（sudo usermod -aG " +
                group + " $USER），然后重新登录。");
}

// --- The traffic window ------------------------------------------------------------

class TrafficTest : public ConsoleWindowTest {
 protected:
  void SetUp() override {
    ConsoleWindowTest::SetUp();
    CTrafficLog::Process().Clear();
    InstallTrace([this](const std::string& line) {
      if (line.find(" tx ") != std::string::npos) m_traced.push_back(line);
    });
  }
  void TearDown() override {
    RemoveTrace();
    ConsoleWindowTest::TearDown();
  }
  // The traffic window, opened with Ctrl+T, once it holds `rows` rows.
  static CTrafficDlg& Traffic(CConsoleDlg& dlg, int rows) {
    QTest::keyClick(&dlg, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(dlg.TrafficWindow() && dlg.TrafficWindow()->isVisible());
    if (!dlg.TrafficWindow()) dlg.OnShowTraffic();
    EXPECT_TRUE(WaitUntil([&] { return dlg.TrafficWindow()->Model().rowCount() >= rows; }));
    return *dlg.TrafficWindow();
  }
  std::vector<std::string> m_traced;
};

struct OutcomeCase {
  const char* name;
  sim::Fault fault;
  const char* outcome;
  const char* reply;  // a regular expression of the reply's hex
  bool echo = false;  // the line echoes every request (an echoing adapter)
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class TrafficOutcome : public TrafficTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(TrafficOutcome, LineOfAnExchangeWithTheFault) {
  const OutcomeCase& c = GetParam();
  QStringList cells;
  QString counters;
  size_t logged = 0;
  RunWindow([&](CConsoleDlg& dlg) {
    m_server.InjectFault(c.fault);
    m_server.SetEcho(c.echo);
    Click(dlg, IDC_READ_LINE_LENGTH);  // after the two start-up exchanges
    CTrafficDlg& traffic = Traffic(dlg, 3);
    ASSERT_EQ(traffic.Model().rowCount(), 3);
    cells = traffic.Model().RowCells(2);
    counters = traffic.CountersText();
    logged = CTrafficLog::Process().Size();
  });
  ASSERT_EQ(cells.size(), CTrafficModel::kColumns);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$")).match(cells[0]).hasMatch()) << qPrintable(cells[0]);
  EXPECT_EQ(cells[1], QString::fromStdString(m_server.DevicePath()) + QStringLiteral(" 9600"));
  EXPECT_EQ(cells[2], QStringLiteral("01 03 20 0A 00 01 AF C8"));
  EXPECT_TRUE(QRegularExpression(QString::fromUtf8(c.reply)).match(cells[3]).hasMatch()) << qPrintable(cells[3]);
  EXPECT_EQ(cells[4], QString::fromUtf8(c.outcome));
  bool number = false;
  EXPECT_GE(cells[5].toDouble(&number), 0.0);
  EXPECT_TRUE(number) << qPrintable(cells[5]);
  // Two good start-up exchanges, then this one, in the counters.
  const QString outcome = QString::fromUtf8(c.outcome).section(' ', 0, 0);
  // (Before the line is known to echo, a start-up write's echo and its copy
  // are told apart only when they come together: no count for those.)
  if (!c.echo) {
    EXPECT_TRUE(counters.startsWith(QStringLiteral("正常 %1 ").arg(c.fault == sim::Fault::None ? 3 : 2)));
  }
  EXPECT_TRUE(counters.contains(QStringLiteral(" %1 1 ").arg(outcome)) || outcome == QStringLiteral("正常"))
      << qPrintable(counters);
  // The trace printed the same exchanges.
  EXPECT_EQ(m_traced.size(), logged);
  EXPECT_EQ(counters.contains(QStringLiteral("回显 0")), !c.echo) << qPrintable(counters);
  ASSERT_FALSE(m_traced.empty());
  EXPECT_EQ(m_traced.back().find(" echo dropped rx ") != std::string::npos, c.echo) << m_traced.back();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TrafficOutcome,
    ::testing::Values(
        OutcomeCase{"Accepted", sim::Fault::None, "正常", "^01 03 02 [0-9A-F ]{11}$"},
        OutcomeCase{"NoReply", sim::Fault::Silence, "无应答", "^-$"},
        OutcomeCase{"BadCheck", sim::Fault::BadCrc, "校验错", "^01 03 02 [0-9A-F ]{11}$"},
        OutcomeCase{"Short", sim::Fault::ShortReply, "长度错", "^01 03 02 [0-9A-F]{2} [0-9A-F]{2}$"},
        OutcomeCase{"Long", sim::Fault::ExtraBytes, "长度错", "^01 03 02 [0-9A-F ]{11}$"},
        OutcomeCase{"Exception", sim::Fault::Exception, "异常 4", "^01 83 04 [0-9A-F]{2} [0-9A-F]{2}$"},
        OutcomeCase{"OtherStation", sim::Fault::OtherStation, "其他站号", "^02 03 02 [0-9A-F ]{11}$"},
        // The adapter's echo is dropped: the reply alone, marked, and counted.
        OutcomeCase{"Echoed", sim::Fault::None, "正常 回显", "^01 03 02 [0-9A-F ]{11}$", true}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

TraceRecord Numbered(uint32_t n) {
  TraceRecord record;
  record.request = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  record.outcome = ExchangeOutcome::Accepted;
  record.reply = {0x01};
  record.roundTripMs = n;
  return record;
}

// 10,001 exchanges keep 10,000, the first gone; the window keeps as many.
TEST(Traffic, RingKeepsTheLastTenThousand) {
  CTrafficLog log;
  CTrafficModel model(log);
  for (uint32_t n = 1; n <= CTrafficLog::kCapacity + 1; ++n) {
    log.Record(Numbered(n));
    if (n == 5000) model.Follow();  // the window takes some
  }
  model.Follow();
  const TrafficRange kept = log.Range();
  ASSERT_EQ(kept.Size(), CTrafficLog::kCapacity);
  EXPECT_EQ(kept.first, 2u);
  EXPECT_EQ(kept.next, CTrafficLog::kCapacity + 2);
  TrafficRecord record;
  EXPECT_FALSE(log.Get(1, record));
  ASSERT_TRUE(log.Get(2, record));
  EXPECT_EQ(record.Request(), (std::vector<uint8_t>{0x00, 0x02}));
  ASSERT_EQ(model.rowCount(), static_cast<int>(CTrafficLog::kCapacity));
  EXPECT_EQ(model.RowCells(0)[CTrafficModel::kRequest], QStringLiteral("00 02"));
  EXPECT_EQ(model.RowCells(model.rowCount() - 1)[CTrafficModel::kRequest], QStringLiteral("27 11"));
  // The counters cover every exchange, not only those kept.
  const TrafficCounters c = log.Counters();
  EXPECT_EQ(c.Count(ExchangeOutcome::Accepted), CTrafficLog::kCapacity + 1);
  EXPECT_EQ(c.minMs, 1.0);
  EXPECT_EQ(c.maxMs, 10001.0);
  EXPECT_DOUBLE_EQ(c.MeanMs(), 5001.0);
}

// The window follows a ring of four however far the log has moved on since
// its last look: the rows are always the records kept, oldest first.
TEST(Traffic, WindowFollowsTheRingWhereverItHasGot) {
  const struct {
    const char* what;
    uint32_t before, after;  // records before the window's first look, and after it
    bool clear;              // the log cleared between the two looks
    std::vector<QString> rows;
  } cases[] = {
      {"within the ring", 2, 1, false, {"00 01", "00 02", "00 03"}},
      {"one dropped off", 3, 2, false, {"00 02", "00 03", "00 04", "00 05"}},
      {"the ring turned over twice", 3, 9, false, {"00 09", "00 0A", "00 0B", "00 0C"}},
      {"cleared, then one more", 3, 1, true, {"00 04"}},
      {"cleared, nothing since", 3, 0, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CTrafficLog log(4);
    CTrafficModel model(log);
    uint32_t n = 0;
    while (n < c.before) log.Record(Numbered(++n));
    model.Follow();
    ASSERT_EQ(model.rowCount(), static_cast<int>(std::min<uint32_t>(c.before, 4)));
    if (c.clear) log.Clear();
    for (uint32_t i = 0; i < c.after; ++i) log.Record(Numbered(++n));
    model.Follow();
    std::vector<QString> rows;
    for (int row = 0; row < model.rowCount(); ++row)
      rows.push_back(model.RowCells(row)[CTrafficModel::kRequest]);
    EXPECT_EQ(rows, c.rows);
  }
}

// The view shows the newest row while it is at the end, and keeps its rows
// (by their numbers) once scrolled up, until they drop off the ring.
TEST(Traffic, ViewFollowsTheEndUnlessScrolledUp) {
  CTrafficLog log(50);
  CTrafficModel model(log);
  CTrafficView view(model);
  view.resize(600, 200);
  view.show();
  const uint64_t shown = static_cast<uint64_t>(view.viewport()->height() / view.RowHeight());
  ASSERT_GT(shown, 2u);
  const auto add = [&](int records) {
    for (int i = 0; i < records; ++i) log.Record(Numbered(0));
    model.Follow();
    view.RowsChanged();
  };
  add(1);
  EXPECT_EQ(view.TopSequence(), 1u);  // fewer rows than the view holds
  add(29);
  EXPECT_TRUE(view.AtEnd());
  EXPECT_EQ(view.TopSequence(), 30 - shown + 1);  // the 30th row is the last in view
  view.verticalScrollBar()->setValue(5);
  EXPECT_EQ(view.TopSequence(), 6u);
  add(5);
  EXPECT_FALSE(view.AtEnd());
  EXPECT_EQ(view.TopSequence(), 6u);  // scrolled up: the rows stay
  add(40);                            // 75 in a ring of 50: rows 1 to 25 are gone
  EXPECT_EQ(view.TopSequence(), 26u);
  view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
  add(3);
  EXPECT_TRUE(view.AtEnd());
  EXPECT_EQ(view.TopSequence(), 78 - shown + 1);
  log.Clear();
  model.Clear();
  view.RowsChanged();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(view.TopSequence(), 79u);
}

TEST_F(TrafficTest, ExportAndClear) {
  QTemporaryDir dir;
  CAnsweringFileDialog fileDialog(dir.filePath(QStringLiteral("traffic.txt")));
  QStringList lines;
  int rowsAfterClear = -1;
  RunWindow([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_READ_LINE_LENGTH);
    CTrafficDlg& traffic = Traffic(dlg, 3);
    lines << CTrafficModel::HeaderCells().join('\t');
    for (int row = 0; row < traffic.Model().rowCount(); ++row)
      lines << traffic.Model().RowCells(row).join('\t');
    traffic.OnExport();
    traffic.OnClear();
    rowsAfterClear = traffic.Model().rowCount();
    EXPECT_TRUE(traffic.CountersText().startsWith(QStringLiteral("正常 0 无应答 0 ")) ||
                traffic.CountersText().startsWith(QStringLiteral("正常 0  无应答 0  ")));
  });
  QFile file(fileDialog.answer);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()), lines.join('\n') + '\n');
  EXPECT_EQ(lines.size(), 4);
  EXPECT_TRUE(fileDialog.proposed.contains(QStringLiteral("QD7420_traffic_")));
  EXPECT_EQ(rowsAfterClear, 0);
  EXPECT_EQ(CTrafficLog::Process().Size(), 0u);
}

// An open that had to leave another user's stale lock in place says so in
// one line; without the trace nobody is told.
TEST(Trace, SaysWhenAStaleLockStays) {
  std::vector<std::string> lines;
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  const std::string note =
      "stale lock file /run/lock/LCK..ttyUSB0 of ended process 4242 cannot be removed; "
      "going on without a lock file of our own";
  ASSERT_TRUE(LockNoteHookNow());
  LockNoteHookNow()("/dev/ttyUSB0", note);
  RemoveTrace();
  EXPECT_FALSE(LockNoteHookNow());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(13), "/dev/ttyUSB0 " + note);
}

TEST(TextNumbers, LeadingIntegerPrefix) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"1", 1},          {"  17abc", 17},   {"abc", 0},        {"", 0},
      {"300", 300},      {"-5", -5},        {"+7", 7},         {"+-7", 0},
      {"0x10", 0},       {"12.9", 12},      {"\t42", 42},      {"- 5", 0},
      {"99999999999", INT_MAX},             {"-99999999999", INT_MIN},
      {"99999999999999999999999", INT_MAX}, {"１", 0},  // a full-width digit is no digit
  };
  for (const Case& c : cases) EXPECT_EQ(AtoiText(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(TextNumbers, LeadingDecimalPrefix) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1.5", 1.5},       {"3.5V", 3.5},     {"", 0},          {"abc", 0},
      {" -2.25e1x", -22.5}, {"12.34", 12.34}, {".5", 0.5},
      {"+0.29", 0.29},    {"700", 700},      {"0x10", 0},      {"nan", 0},
      {"inf", 0},         {"1e", 1},         {"5.", 5},        {"-.5e-1", -0.05},
      // A decimal comma is a decimal point; one separator only, the rest is
      // trailing text as after any number.
      {"12,5", 12.5},     {"1,5", 1.5},      {",5", 0.5},      {"-3,25e1", -32.5},
      {"1,5,3", 1.5},     {"1.5,3", 1.5},    {"1,5.3", 1.5},   {"7,", 7},
      {",", 0},           {"12,5mV", 12.5},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(AtofText(QString::fromUtf8(c.text)), c.value) << c.text;
}

// The checked readers: what may be sent to the controller at all.
TEST(TextNumbers, StationAddressIsOneTo255AsAtoiReadsIt) {
  struct Case {
    const char* text;
    int address;  // -1: refused
  };
  const Case cases[] = {
      {"1", 1},    {"255", 255}, {" 7", 7},    {"7abc", 7}, {"+9", 9},   {"\t12", 12},
      {"", -1},    {"abc", -1},  {"0", -1},    {"256", -1}, {"300", -1}, {"-1", -1},
      {"+", -1},   {"99999999999", -1},        {"-0", -1},
  };
  for (const Case& c : cases) {
    const auto address = StationAddress(QString::fromUtf8(c.text));
    EXPECT_EQ(address ? *address : -1, c.address) << c.text;
  }
}

TEST(TextNumbers, FloatValueNeedsAFiniteSingle) {
  struct Case {
    const char* text;
    bool accepted;
    float value;
  };
  const Case cases[] = {
      {"1.5", true, 1.5f},      {"3.5V", true, 3.5f},   {"-2", true, -2.0f},
      {"0x10", true, 0.0f},     {"3.4e38", true, 3.4e38f}, {"1e-50", true, 0.0f},
      {"", false, 0},           {"abc", false, 0},      {"nan", false, 0},
      {"inf", false, 0},        {"-infinity", false, 0}, {"1e39", false, 0},
      {"-1e39", false, 0},      {"1e999", false, 0},    {".", false, 0},
      {"12,5", true, 12.5f},    {",", false, 0},
  };
  for (const Case& c : cases) {
    const auto value = FloatValue(QString::fromUtf8(c.text));
    EXPECT_EQ(value.has_value(), c.accepted) << c.text;
    if (value && c.accepted) {
      EXPECT_EQ(*value, c.value) << c.text;
    }
  }
}

TEST(TextNumbers, HundredthsValueFitsTheRegister) {
  struct Case {
    const char* text;
    int word;  // -1: refused
  };
  const Case cases[] = {
      {"12.34", 1234}, {"1.15", 114},    {"0.29", 28},     {"655.35", 65535},
      {"0", 0},        {"-0.005", 0},    {"3m", 300},      {"655.36", -1},
      {"700", -1},     {"-1.5", -1},     {"-0.01", -1},    {"", -1},
      {"abc", -1},     {"1e10", -1},     {"12,34", 1234},  {"655,36", -1},
  };
  for (const Case& c : cases) {
    const auto word = HundredthsValue(QString::fromUtf8(c.text));
    EXPECT_EQ(word ? *word : -1, c.word) << c.text;
  }
}

}  // namespace
