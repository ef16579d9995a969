// Live detection monitoring: "开始检测" keeps the port open and polls the
// controller on timer 1 once a second; "停止读取" closes it. Measurement mode
// polls the measurement status block, factory mode the factory block with
// the channel values and the controller's working mode. The display-mode
// radios 1109/1110 write the kind of channel value the controller reports.
#include <QHideEvent>
#include <QScopedValueRollback>
#include <QString>

#include <algorithm>
#include <iterator>

#include "CommandPort.h"
#include "ConsoleDlg.h"
#include "ControlStates.h"
#include "Globals.h"
#include "Messages.h"
#include "StatusBlock.h"
#include "TextNumbers.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"

namespace {

constexpr int kPollTimer = 1;
constexpr int kPollPeriodMs = 1000;
constexpr uint32_t kPollPauseMs = 50;  // before each request, as the controller expects

constexpr char kCaptionStart[] = "开始检测";
constexpr char kCaptionStop[] = "停止读取";

// The cable's state: its text, and whether measurement mode shows the leak
// position with it (factory mode always shows the position).
struct AlarmRow {
  uint16_t status;
  const char* text;
  bool position;
};
constexpr AlarmRow kAlarmRows[] = {
    {0, kTextAlarmStates[0], false},
    {1, kTextAlarmStates[1], true},
    {2, kTextAlarmStates[2], false},
};

const AlarmRow* AlarmRowOf(uint16_t status) {
  const auto* row = std::find_if(std::begin(kAlarmRows), std::end(kAlarmRows),
                                 [status](const AlarmRow& r) { return r.status == status; });
  return row == std::end(kAlarmRows) ? nullptr : row;
}

// Hundredths of a metre as "%.2f米"; asprintf always writes a decimal point.
QString Metres(uint16_t hundredths) {
  return QString::asprintf("%.2f米", FromHundredths(hundredths));
}

const int kChannelStatics[3] = {IDC_A0_VOLTAGE, IDC_A1_VOLTAGE, IDC_A2_VOLTAGE};

// Every static a poll writes. They paint their own background, so that a new
// value each second repaints the label alone and not the group-box frames
// that lie under it, which the widget style draws at a much higher cost.
const int kPolledStatics[] = {IDC_GOOD_COUNT,  IDC_FAIL_COUNT,  IDC_ALARM_STATE, IDC_LEAK_POSITION,
                              IDC_LOG_COUNT,   IDC_TIME_YEAR,   IDC_TIME_MONTH,  IDC_TIME_DAY,
                              IDC_TIME_HOUR,   IDC_TIME_MINUTE, IDC_TIME_SECOND, IDC_A0_VOLTAGE,
                              IDC_A1_VOLTAGE,  IDC_A2_VOLTAGE};

// One poll on the port monitoring holds: the pause, the request, the reply
// of the block's fixed length (`reply` holds that many bytes).
bool PollBlock(const BlockRead& block, uint8_t address, uint8_t* reply) {
  return ::Exchange(PortHandle, BuildReadRequest(address, block.first, block.count), reply,
                    block.replyLength, kCommandTimeoutMs, kPollPauseMs);
}

}  // namespace

// --- Start and stop ------------------------------------------------------------------

bool CConsoleDlg::IsMonitoring() const {
  return GetDlgItemText(IDC_START_DETECTION) != QString::fromUtf8(kCaptionStart);
}

void CConsoleDlg::OnStartDetection() {
  if (IsMonitoring())
    StopDetection();
  else
    StartDetection();
}

void CConsoleDlg::StartDetection() {
  // The prologue refuses a bad address or a port that will not open, with
  // its message; the caption then stays and no timer runs.
  CCommandPort port(*this);
  if (!port) return;
  port.Keep();  // PortHandle stays open until "停止读取"
  SetDlgItemText(IDC_START_DETECTION, QString::fromUtf8(kCaptionStop));
  g_nSuccessCount = 0;
  g_nFailCount = 0;
  SetDlgItemText(IDC_GOOD_COUNT, QStringLiteral("0"));
  SetDlgItemText(IDC_FAIL_COUNT, QStringLiteral("0"));
  ApplyControlStates(*this, kMonitoringStates, kMonitoringRunning);
  for (int id : kPolledStatics)
    if (QWidget* label = GetDlgItem(id)) label->setAutoFillBackground(true);
  SetTimer(kPollTimer, kPollPeriodMs);
}

void CConsoleDlg::StopPolling() {
  KillTimer(kPollTimer);
  SetDlgItemText(IDC_START_DETECTION, QString::fromUtf8(kCaptionStart));
  ClosePort();
}

void CConsoleDlg::StopDetection() {
  StopPolling();
  // The confirmed mode, not the list's selection, says which mode the window
  // stops in.
  const bool factory = FollowConfirmedMode();
  ApplyControlStates(*this, kMonitoringStates,
                     factory ? kMonitoringStopFactory : kMonitoringStopMeasurement);
  SetLayout(factory);
}

// Closing the window while monitoring runs: the port is closed and the timer
// killed as by "停止读取". A minimised window (a hide from the window system)
// keeps monitoring.
void CConsoleDlg::hideEvent(QHideEvent* event) {
  if (!event->spontaneous() && IsMonitoring()) StopPolling();
  CDialog::hideEvent(event);
}

// --- One poll ------------------------------------------------------------------------

void CConsoleDlg::OnTimer(int) {
  // A tick never starts while another is inside its exchange (a nested event
  // loop could deliver one), nor after monitoring stopped.
  if (m_bPolling || !IsMonitoring() || !PortHandle) return;
  const QScopedValueRollback<bool> polling(m_bPolling, true);
  // The address is read afresh each tick; one no controller answers to is
  // not sent at all and counts as a failed poll.
  const std::optional<uint8_t> address = StationAddress(GetDlgItemText(IDC_ADDRESS));
  if (!address) return CountPoll(false);
  if (g_nWorkMode == 0)
    PollMeasurement(*address);
  else
    PollFactory(*address);
}

void CConsoleDlg::CountPoll(bool accepted) {
  if (accepted)
    SetDlgItemText(IDC_GOOD_COUNT, QString::number(++g_nSuccessCount));
  else
    SetDlgItemText(IDC_FAIL_COUNT, QString::number(++g_nFailCount));
}

void CConsoleDlg::PollMeasurement(uint8_t address) {
  MeasurementReply reply;
  if (!PollBlock(kMeasurementStatusBlock, address, reply)) return CountPoll(false);
  CountPoll(true);
  ShowMeasurementStatus(DecodeMeasurementBlock(reply), false);
  SetLayout(false);
  UpdateData(false);
}

void CConsoleDlg::PollFactory(uint8_t address) {
  FactoryReply reply;
  if (!PollBlock(kFactoryStatusBlock, address, reply)) return CountPoll(false);
  CountPoll(true);
  const FactoryStatus status = DecodeFactoryBlock(reply);
  FollowControllerMode(status.workMode);
  for (int i = 0; i < 3; ++i)
    SetDlgItemText(kChannelStatics[i], QString::asprintf("%.2fV", double{status.channel[i]}));
  ShowMeasurementStatus(status.measurement, true);
  // Wide even when the controller said measurement mode: the next tick
  // polls the measurement block and narrows.
  SetLayout(true);
  UpdateData(false);
}

void CConsoleDlg::ShowMeasurementStatus(const MeasurementStatus& status, bool factory) {
  if (const AlarmRow* alarm = AlarmRowOf(status.alarm)) {
    SetDlgItemText(IDC_ALARM_STATE, QString::fromUtf8(alarm->text));
    if (!factory)
      SetDlgItemText(IDC_LEAK_POSITION, alarm->position ? Metres(status.leakHundredths) : QString());
  }
  if (factory) SetDlgItemText(IDC_LEAK_POSITION, Metres(status.leakHundredths));
  SetDlgItemText(IDC_LOG_COUNT, QString::number(status.logCount));
  // The register says 0 for on; the radio index of "开" is 1.
  if (status.buzzer <= 1) m_nBuzzer = status.buzzer == 0 ? 1 : 0;
  ShowBcdClock(kClockRow, status.clock);
}

// --- Display-mode radios -----------------------------------------------------------

void CConsoleDlg::OnDisplayVoltage() { WriteRadio(IDC_DISPLAY_VOLTAGE); }
void CConsoleDlg::OnDisplayAdc() { WriteRadio(IDC_DISPLAY_ADC); }
