// Live detection monitoring: "开始检测" keeps the port open and polls the
// controller on timer 1 once a second; "停止读取" closes it. Measurement mode
// polls the measurement status block, factory mode the factory block with
// the channel values and the controller's working mode. The display-mode
// radios 1109/1110 (rows of the radio table) write the kind of channel
// value the controller reports.
//
// A poll's exchange runs on the monitor's exchange worker (CMonitor), so a
// silent controller's second of reply wait never holds the window; the
// window starts each poll and shows the outcome the monitor hands back on
// its thread. One poll at a time: a tick that comes while one is under way starts
// the next as soon as it is over. A poll that fails shows "无应答" rather
// than leave the last state on screen as if it were current.
#include <QHideEvent>
#include <QString>

#include <algorithm>
#include <iterator>

#include "window/CommandPort.h"
#include "window/ConsoleDlg.h"
#include "window/ControlStates.h"
#include "window/Globals.h"
#include "window/Messages.h"
#include "monitoring/Monitor.h"
#include "window/RefusalCause.h"
#include "monitoring/StatusBlock.h"
#include "window/TextNumbers.h"
#include "exchange.h"
#include "resource.h"

namespace {

constexpr int kPollTimer = 1;
constexpr int kPollPeriodMs = 1000;

constexpr char kCaptionStart[] = "开始检测";
constexpr char kCaptionStop[] = "停止读取";

// The cable's state: its text, and whether measurement mode shows the leak
// position with it (factory mode always shows the position of a known state).
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

// What the state static says when the controller's state is not known: the
// poll failed, or the controller reported a state this console has no text
// for (a garbled or a newer controller). Neither may read as "无告警".
constexpr char kTextNoReply[] = "无应答";
QString UnknownState(uint16_t status) { return QString::asprintf("未知状态(%u)", unsigned{status}); }

// The working mode in which the factory block's channels carry ADC counts
// ("ADC值"): whole counts, no unit. Otherwise volts.
constexpr uint16_t kAdcDisplayMode = 2;
QString ChannelText(float value, uint16_t workMode) {
  return workMode == kAdcDisplayMode ? QString::asprintf("%.0f", double{value})
                                     : QString::asprintf("%.2fV", double{value});
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
  // What a vanished adapter is reopened with: the port and rate of the start.
  const Connection connection = ReadConnection();
  m_pMonitor->Begin(connection.port, connection.baud);
  SetDlgItemText(IDC_START_DETECTION, QString::fromUtf8(kCaptionStop));
  g_nSuccessCount = 0;
  g_nFailCount = 0;
  SetDlgItemText(IDC_GOOD_COUNT, QStringLiteral("0"));
  SetDlgItemText(IDC_FAIL_COUNT, QStringLiteral("0"));
  ApplyControlStates(*this, kMonitoringStates, kMonitoringRunning);
  for (int id : kPolledStatics)
    if (QWidget* label = GetDlgItem(id)) label->setAutoFillBackground(true);
  SetTimer(kPollTimer, kPollPeriodMs);
  AlarmRunStarted();
}

void CConsoleDlg::StopPolling() {
  KillTimer(kPollTimer);
  SetDlgItemText(IDC_START_DETECTION, QString::fromUtf8(kCaptionStart));
  // The poll under way ends at once (its pause and reply wait are called
  // off) and whatever it would have shown is dropped; only then does the
  // port close under it. The shown values stay as the last poll left them.
  m_pMonitor->End();
  ClosePort();
  AlarmRunStopped();
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
  if (!event->spontaneous()) RememberPlace(*this);
  CDialog::hideEvent(event);
}

// --- One poll ------------------------------------------------------------------------

void CConsoleDlg::OnTimer(int) {
  // Never two polls at once on the line. The tick is not lost: the poll
  // under way starts the next when it is over, as a tick held up by a long
  // exchange always came at once after it.
  if (IsMonitoring() && m_pMonitor->Tick()) StartPoll();
}

void CConsoleDlg::StartPoll() {
  // The address is read afresh each poll; one no controller answers to is
  // not sent at all and counts as a failed poll.
  const bool factory = g_nWorkMode != 0;
  const std::optional<uint8_t> address = StationAddress(GetDlgItemText(IDC_ADDRESS));
  if (!address) return ShowPollFailed(factory);
  // An adapter that went away is looked for once a tick, at the same path,
  // without a message: monitoring resumes by itself when it is back.
  if (!PortHandle && !OpenPort(m_pMonitor->Port(), m_pMonitor->Baud()))
    return ShowPollFailed(factory);
  if (!m_pMonitor->StartPoll(PortHandle, *address, factory)) ShowPollFailed(factory);
}

void CConsoleDlg::OnPollDone(bool factory, const WorkerReply& outcome) {
  // Unplugged: our descriptor and lock go at once, so the node is freed and
  // the adapter comes back under the same name.
  if (outcome.gone) ClosePort();
  if (!outcome.accepted) {
    // No box while monitoring: the failure counter tells the last cause.
    if (QWidget* fails = GetDlgItem(IDC_FAIL_COUNT)) fails->setToolTip(LastPollCause(outcome.gone));
    ShowPollFailed(factory);
  }
  else if (factory)
    ShowFactoryPoll(outcome.reply.data());
  else
    ShowMeasurementPoll(outcome.reply.data());
  if (m_pMonitor->TakeTick()) StartPoll();
}

void CConsoleDlg::CountPoll(bool accepted) {
  if (accepted)
    SetDlgItemText(IDC_GOOD_COUNT, QString::number(++g_nSuccessCount));
  else
    SetDlgItemText(IDC_FAIL_COUNT, QString::number(++g_nFailCount));
}

// Nothing the controller said is current any more: the state says so, and
// the values that only the reply could give are emptied.
void CConsoleDlg::ShowPollFailed(bool factory) {
  CountPoll(false);
  SetDlgItemText(IDC_ALARM_STATE, QString::fromUtf8(kTextNoReply));
  SetDlgItemText(IDC_LEAK_POSITION, QString());
  if (factory)
    for (int id : kChannelStatics) SetDlgItemText(id, QString());
  AlarmPollFailed();
}

void CConsoleDlg::ShowMeasurementPoll(const uint8_t* bytes) {
  MeasurementReply reply;
  std::copy_n(bytes, std::size(reply), reply);
  CountPoll(true);
  ShowMeasurementStatus(DecodeMeasurementBlock(reply), false);
  SetLayout(false);
  UpdateData(false);
}

void CConsoleDlg::ShowFactoryPoll(const uint8_t* bytes) {
  FactoryReply reply;
  std::copy_n(bytes, std::size(reply), reply);
  CountPoll(true);
  const FactoryStatus status = DecodeFactoryBlock(reply);
  FollowControllerMode(status.workMode);
  for (int i = 0; i < 3; ++i)
    SetDlgItemText(kChannelStatics[i], ChannelText(status.channel[i], status.workMode));
  ShowMeasurementStatus(status.measurement, true);
  // Wide even when the controller said measurement mode: the next tick
  // polls the measurement block and narrows.
  SetLayout(true);
  UpdateData(false);
}

void CConsoleDlg::ShowMeasurementStatus(const MeasurementStatus& status, bool factory) {
  const AlarmRow* alarm = AlarmRowOf(status.alarm);
  SetDlgItemText(IDC_ALARM_STATE,
                 alarm ? QString::fromUtf8(alarm->text) : UnknownState(status.alarm));
  // Where a state is not known, neither is its position.
  const bool position = alarm && (factory || alarm->position);
  SetDlgItemText(IDC_LEAK_POSITION, position ? Metres(status.leakHundredths) : QString());
  SetDlgItemText(IDC_LOG_COUNT, QString::number(status.logCount));
  // The register says 0 for on; the radio index of "开" is 1.
  if (status.buzzer <= 1) m_nBuzzer = status.buzzer == 0 ? 1 : 0;
  ShowBcdClock(kClockRow, status.clock);
  AlarmPollAccepted(status.alarm, status.leakHundredths);
}
