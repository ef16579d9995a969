// The start-up exchange with the controller, before the window shows.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include "alarms/AlarmSound.h"
#include "alarms/Annunciator.h"
#include "app/ConsoleSettings.h"
#include "window/Globals.h"
#include "traffic/Trace.h"
#include "console_window_fixture.h"
#include "resource.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "serial_port.h"
#include "window_actions.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kWorkModeZero = {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x00, 0x5E, 0x2F};
const Bytes kAutoCalibrationOff = {0x01, 0x06, 0x20, 0x09, 0x00, 0x00, 0x52, 0x08};

TEST_F(ConsoleWindowTest, StartupWritesMeasurementModeThenStopsAutoCalibration) {
  g_nWorkMode = 3;
  int workModeWhileShown = -1;
  std::vector<Bytes> framesWhileShown;
  RunWindow([&](CConsoleDlg&) {
    workModeWhileShown = g_nWorkMode;
    framesWhileShown = Frames();
  });
  EXPECT_EQ(framesWhileShown, (std::vector<Bytes>{kWorkModeZero, kAutoCalibrationOff}));
  EXPECT_EQ(workModeWhileShown, 0);
  EXPECT_TRUE(m_messages.shown.empty());  // success is silent
}

class StartupRefused : public ConsoleWindowTest,
                       public ::testing::WithParamInterface<sim::Fault> {};

TEST_P(StartupRefused, FirstEchoRefusedSendsNothingMore) {
  m_server.InjectFault(GetParam(), 1);
  QString mode;
  RunWindow([&](CConsoleDlg& dlg) { mode = dlg.GetDlgItemText(IDC_WORK_MODE); });
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kWorkModeZero}));
  EXPECT_EQ(mode, QStringLiteral("测量模式"));
  EXPECT_TRUE(m_messages.shown.empty());  // a refusal is silent too
}

TEST_P(StartupRefused, SecondEchoRefusedChangesNothing) {
  m_server.InjectFault(GetParam(), 1, 0, /*after=*/1);
  QString mode;
  RunWindow([&](CConsoleDlg& dlg) { mode = dlg.GetDlgItemText(IDC_WORK_MODE); });
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kWorkModeZero, kAutoCalibrationOff}));
  EXPECT_EQ(mode, QStringLiteral("测量模式"));
  EXPECT_TRUE(m_messages.shown.empty());
}

std::string FaultName(const ::testing::TestParamInfo<sim::Fault>& info) {
  static const char* const kNames[] = {"None",       "Silence",   "BadCrc", "ExtraBytes",
                                       "ShortReply", "Exception", "Delay",  "Late"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Faults, StartupRefused,
                         ::testing::Values(sim::Fault::Silence, sim::Fault::BadCrc,
                                           sim::Fault::ShortReply, sim::Fault::ExtraBytes),
                         FaultName);

TEST_F(ConsoleWindowTest, NoDeviceShowsThePortMessageBeforeTheWindow) {
  SetPortPath(1, "/dev/qd7420-test-no-such-device");
  QStringList shown;
  RunWindow([&](CConsoleDlg& dlg) {
    shown << dlg.GetDlgItemText(IDC_PORT) << dlg.GetDlgItemText(IDC_BAUD)
          << dlg.GetDlgItemText(IDC_ADDRESS);
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("没有发现此串口或此串口被占用"));
  EXPECT_EQ(m_messages.shown[0].detail,
            QStringLiteral("设备 /dev/qd7420-test-no-such-device 不存在：请检查连接。"));
  EXPECT_TRUE(m_messages.shown[0].application);
  EXPECT_FALSE(m_messages.shown[0].windowVisible);
  EXPECT_TRUE(Frames().empty());
  // The window then opens normally with the defaults.
  EXPECT_EQ(shown, (QStringList{QStringLiteral("Com1"), QStringLiteral("9600"), QStringLiteral("1")}));
}

TEST_F(ConsoleWindowTest, TraceShowsTheExchangesAndWhenTheWindowCameUp) {
  std::vector<std::string> lines;
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  qint64 shownAfter = -1;
  RunWindow([&](CConsoleDlg& dlg) { shownAfter = dlg.ShownAfterStartupMs(); });
  RemoveTrace();
  EXPECT_GE(shownAfter, 0);
  // The simulator's pty has no low-latency mode: said once, at the first open.
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find(m_server.DevicePath() + " has no low-latency mode"), std::string::npos);
  EXPECT_NE(lines[1].find("tx 01 06 1F F9 00 00 5E 2F rx 01 06 1F F9 00 00 5E 2F"), std::string::npos);
  EXPECT_NE(lines[1].find("accepted"), std::string::npos);
  EXPECT_NE(lines[2].find("tx 01 06 20 09 00 00 52 08"), std::string::npos);
  EXPECT_NE(lines[3].find("window shown " + std::to_string(shownAfter) +
                          " ms after the start-up exchange"),
            std::string::npos);
}

// --- What the next start brings back ------------------------------------------------

// One run of the console as a technician left it, then the next start: what
// its top row shows and where its start-up exchange went.
struct RememberedCase {
  const char* name;
  // Before the first run, in the configuration folder `home`.
  std::function<void(const QString& home, sim::PtyServer& server)> prepare;
  // The first run, at the settings of the folder (none: no first run).
  std::function<void(CConsoleDlg&, sim::PtyServer&)> firstRun;
  // The next start: its settings as the command line leaves them.
  std::function<void(CConsoleSettings&)> commandLine;
  bool settingsEnabled;
  QStringList shown;  // port, baud, address at the next start
  int firstAddress;   // the start-up write's station and rate; 0: nothing sent
  int firstBaud;
  bool accepted;      // the controller took it (the second write followed)
  int boxes;          // message boxes at the next start
  bool failed = false;  // the file could not serve: one trace line says so
  const char* keptKey = nullptr;  // what the command line fixed stays in the file as it was
  bool sound = true;  // "告警声音" at the next start
};

QString IniPath(const QString& home) { return home + QStringLiteral("/qd7420/qd7420.ini"); }

void WriteIni(const QString& home, const QByteArray& text) {
  QDir().mkpath(home + QStringLiteral("/qd7420"));
  QFile file(IniPath(home));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

// The controller moved to `address` at `baud` behind the console's back.
void MoveController(uint8_t address, int baud) {
  uint8_t data[6] = {0, address};
  PutU32(data + 2, static_cast<uint32_t>(baud));
  Transaction transaction(1, 9600);
  ASSERT_TRUE(transaction.IsOpen());
  uint8_t reply[kWriteReplyLength];
  ASSERT_TRUE(transaction.Exchange(BuildWriteMultipleRequest(1, REG_STATION_ADDRESS, 3, data),
                                   reply, sizeof reply));
}

void ChangeAddressBaud(CConsoleDlg& dlg, const char* address, int baudPosition) {
  dlg.SetDlgItemText(IDC_NEW_ADDRESS, QString::fromLatin1(address));
  dlg.SetComboSel(IDC_NEW_BAUD, baudPosition);
  Click(dlg, IDC_CHANGE_ADDRESS_BAUD);
}

void Search19200Quickly(CConsoleDlg& dlg, sim::PtyServer&) {
  static const int kRates[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                               IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};
  for (int id : kRates) dlg.CheckDlgButton(id, id == IDC_SEARCH_19200);
  dlg.SetQuickSearch(true);
  Click(dlg, IDC_SEARCH);
  ASSERT_TRUE(WaitUntil([&] { return dlg.GetDlgItemText(IDC_SEARCH) == QStringLiteral("搜索参数"); }));
}

const QByteArray kAt38400Station17 = "[line]\ndevice=/dev/ttyS0\nbaud=38400\naddress=17\n";

class RememberedStart : public ConsoleWindowTest,
                        public ::testing::WithParamInterface<RememberedCase> {
 protected:
  void SetUp() override {
    ConsoleWindowTest::SetUp();
    ASSERT_TRUE(m_home.isValid());
    m_oldHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
  }
  void TearDown() override {
    QFile::setPermissions(m_home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", m_oldHome);
    ConsoleWindowTest::TearDown();
  }
  void RunFirst(const RememberedCase& c) {
    CConsoleSettings settings(true);
    CConsoleDlg dlg;
    dlg.SetSettings(&settings);
    RunWindow(dlg, [&](CConsoleDlg& shown) { c.firstRun(shown, m_server); });
  }
  QByteArray FileText() const {
    QFile file(IniPath(m_home.path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  QVariant KeptValue(const RememberedCase& c) const {
    if (!c.keptKey) return {};
    return QSettings(IniPath(m_home.path()), QSettings::IniFormat).value(QLatin1String(c.keptKey));
  }
  QTemporaryDir m_home;
  QByteArray m_oldHome;
};

TEST_P(RememberedStart, TheNextStartShowsAndSendsAsRemembered) {
  const RememberedCase& c = GetParam();
  const QString home = m_home.path();
  if (c.prepare) c.prepare(home, m_server);
  // The settings' own trace lines, from both runs.
  std::vector<std::string> notes;
  InstallTrace([&](const std::string& line) {
    if (line.find("settings:") != std::string::npos) notes.push_back(line);
  });
  if (c.firstRun) RunFirst(c);
  m_server.ClearRequests();
  m_messages.shown.clear();
  notes.clear();
  const QByteArray before = FileText();
  const QVariant keptBefore = KeptValue(c);

  CConsoleSettings settings(c.settingsEnabled);
  if (c.commandLine) c.commandLine(settings);
  CConsoleDlg dlg;
  dlg.SetSettings(&settings);
  QStringList shown;
  bool sound = false;
  std::vector<sim::ReceivedFrame> sent;
  RunWindow(dlg, [&](CConsoleDlg& d) {
    shown << d.GetDlgItemText(IDC_PORT) << d.GetDlgItemText(IDC_BAUD) << d.GetDlgItemText(IDC_ADDRESS);
    sound = d.AlarmSoundAction()->isChecked() && d.Annunciator().Sound().Enabled();
    // The simulator records a request on its own thread, a moment after it.
    if (c.accepted) m_server.WaitForRequests(2, 2000);
    sent = m_server.Requests();
  });
  RemoveTrace();

  EXPECT_EQ(shown, c.shown);
  EXPECT_EQ(sound, c.sound);
  if (c.firstAddress == 0) {
    EXPECT_TRUE(sent.empty());
  } else {
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].bytes.at(0), c.firstAddress);
    EXPECT_EQ(sent[0].lineBaud, c.firstBaud);
    EXPECT_EQ(sent.size(), c.accepted ? 2u : 1u);
  }
  EXPECT_EQ(static_cast<int>(m_messages.shown.size()), c.boxes);
  // A file that cannot serve is said once, in the trace, and never in a box.
  EXPECT_EQ(notes.size(), c.failed ? 1u : 0u);
  if (!c.settingsEnabled) EXPECT_EQ(FileText(), before);  // nothing written at all
  EXPECT_EQ(KeptValue(c), keptBefore);
}

const QStringList kDefaults = {QStringLiteral("Com1"), QStringLiteral("9600"), QStringLiteral("1")};

const RememberedCase kRememberedCases[] = {
    {"FoundBySearch", [](const QString&, sim::PtyServer&) { MoveController(5, 19200); },
     Search19200Quickly, {}, true,
     {QStringLiteral("Com1"), QStringLiteral("19200"), QStringLiteral("5")}, 5, 19200, true, 0},
    {"AcceptedChange", {},
     [](CConsoleDlg& dlg, sim::PtyServer&) { ChangeAddressBaud(dlg, "17", 5); }, {}, true,
     {QStringLiteral("Com1"), QStringLiteral("38400"), QStringLiteral("17")}, 17, 38400, true, 0},
    // The controller took the change but its reply was spoilt: the console
    // cannot know, remembers nothing new, and its next start goes unanswered.
    {"RefusedChange", {},
     [](CConsoleDlg& dlg, sim::PtyServer& server) {
       server.InjectFault(sim::Fault::BadCrc, 1);
       ChangeAddressBaud(dlg, "17", 5);
     },
     {}, true, kDefaults, 1, 9600, false, 0},
    // The remembered device is not there, but --port maps Com1: the
    // command line's Com1 is used and the device stays as it was in the file.
    {"CommandLinePortWins",
     [](const QString& home, sim::PtyServer&) {
       WriteIni(home, "[line]\ndevice=/dev/qd7420-test-gone\nbaud=9600\naddress=1\n");
     },
     {}, [](CConsoleSettings& s) { s.PinPort(); }, true, kDefaults, 1, 9600, true, 0, false,
     "line/device"},
    {"SimulatorLineWins",
     [](const QString& home, sim::PtyServer&) { WriteIni(home, kAt38400Station17); },
     {}, [](CConsoleSettings& s) { s.PinLine(); }, true, kDefaults, 1, 9600, true, 0, false,
     "line/baud"},
    {"NoSettings",
     [](const QString& home, sim::PtyServer&) {
       WriteIni(home, kAt38400Station17 + "[alarm]\nsound=false\n");
     },
     {}, {}, false, kDefaults, 1, 9600, true, 0},
    {"SoundSwitchedOff", {},
     [](CConsoleDlg& dlg, sim::PtyServer&) { dlg.AlarmSoundAction()->setChecked(false); }, {}, true,
     kDefaults, 1, 9600, true, 0, false, nullptr, false},
    {"CorruptFile",
     [](const QString& home, sim::PtyServer&) {
       WriteIni(home, "[line\n\x01\x02garbage\xff\nbaud=38400\n");
     },
     {}, {}, true, kDefaults, 1, 9600, true, 0, true},
    {"FileCannotBeRead",
     [](const QString& home, sim::PtyServer&) { QDir().mkpath(IniPath(home)); },
     {}, {}, true, kDefaults, 1, 9600, true, 0, true},
    // Nothing could be written where the folder should be (even for root): the
    // controller moved, the console did not remember, and its start is refused.
    {"ReadOnlyFolder",
     [](const QString& home, sim::PtyServer&) {
       QFile occupied(home + QStringLiteral("/qd7420"));
       ASSERT_TRUE(occupied.open(QIODevice::WriteOnly));
       QFile::setPermissions(home, QFile::ReadOwner | QFile::ExeOwner);
     },
     [](CConsoleDlg& dlg, sim::PtyServer&) { ChangeAddressBaud(dlg, "17", 5); }, {}, true,
     kDefaults, 1, 9600, false, 0, true},
    // Shown as a pulled adapter is: selected, "(已拔出)", nothing sent, its box.
    {"RememberedDeviceMissing",
     [](const QString& home, sim::PtyServer&) {
       WriteIni(home, "[line]\ndevice=/dev/qd7420-test-gone\nbaud=38400\naddress=17\n");
     },
     {}, {}, true,
     {QStringLiteral("qd7420-test-gone (已拔出)"), QStringLiteral("38400"), QStringLiteral("17")},
     0, 0, false, 1},
};

INSTANTIATE_TEST_SUITE_P(Runs, RememberedStart, ::testing::ValuesIn(kRememberedCases),
                         [](const ::testing::TestParamInfo<RememberedCase>& info) {
                           return std::string(info.param.name);
                         });

// A place remembered on a larger screen, or one since unplugged, comes back
// whole on the screen there is.
TEST(RememberedPlace, KeptInsideTheAvailableScreen) {
  const QRect screen(0, 0, 1366, 738);  // a panel takes the bottom 30 pixels
  const struct {
    QRect frame;
    QPoint placed;
  } cases[] = {
      {{100, 50, 700, 600}, {100, 50}},      // inside: where it was
      {{1800, 900, 700, 600}, {666, 138}},   // off the right and the bottom
      {{-400, -20, 700, 600}, {0, 0}},       // off the left and the top
      {{1000, 200, 700, 600}, {666, 138}},   // partly off two edges
      {{300, 100, 1500, 900}, {0, 0}},       // larger than the screen: its corner shows
      {{666, 138, 700, 600}, {666, 138}},    // touching the edges: inside
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame.x());
    EXPECT_EQ(CConsoleSettings::KeepInside(c.frame, screen), c.placed);
  }
  // A second screen to the right keeps its own coordinates.
  EXPECT_EQ(CConsoleSettings::KeepInside({3000, 10, 700, 600}, {1366, 0, 1920, 1050}), QPoint(2586, 10));
}

}  // namespace
