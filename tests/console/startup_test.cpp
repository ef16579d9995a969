// The start-up exchange with the controller, before the window shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/Globals.h"
#include "traffic/Trace.h"
#include "console_window_fixture.h"
#include "resource.h"
#include "serial_port.h"

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

}  // namespace
