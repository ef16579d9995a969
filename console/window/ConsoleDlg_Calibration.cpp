// Auto-calibration: the controller's voltage auto-calibration, and the
// resistivity auto-calibration with its confirmation and countdown dialogs.
//
// The resistivity procedure holds the port from its first write to the end
// of the countdown: "开" writes 0x2009 := 1 and keeps the port open in
// PortHandle; the countdown's closing step writes the cable length and
// 0x2009 := 0 and closes it; whatever ends the dialogs earlier (cancel at
// the confirmation, the countdown's close box), the handler closes it. The
// two radios are rows of the radio table (ConsoleDlg_Admin.cpp), which says
// the register, the values and the failure box.
#include <QString>

#include <optional>

#include "window/CommandPort.h"
#include "window/CommandRows.h"
#include "dialog/MessageService.h"
#include "window/RefusalCause.h"
#include "dialogs/ConfirmDlg.h"
#include "window/ConsoleDlg.h"
#include "window/Globals.h"
#include "window/Messages.h"
#include "window/TextNumbers.h"
#include "dialogs/WaitDlg.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

constexpr uint32_t kLengthSettleMs = 500;  // after the last tick, before the length

// The cable length for the calibration, in hundredths: a leading number
// above 0 whose hundredths fit the register (0.01 .. 655.35 m). A longer one
// would otherwise go out as its low 16 bits, a wrong length.
std::optional<int> CalibrationLength(const QString& text) {
  const std::optional<uint16_t> hundredths = HundredthsValue(text);
  if (!hundredths || *hundredths == 0) return std::nullopt;
  return *hundredths;
}

// The countdown's closing step on the port the procedure holds: the length,
// then the switch off. Its message is owned by the countdown window; the
// port is closed once the operator has read it.
bool CloseResistivityCalibration(CDialog& countdown) {
  const auto address = static_cast<uint8_t>(g_nCalibAddress & 0xFF);
  uint8_t reply[kWriteReplyLength];
  const char* text = kTextCalibrationSucceeded;
  if (!Exchange(PortHandle,
                BuildWriteRequest(address, REG_LINE_LENGTH, static_cast<uint16_t>(g_nCalibLineLength)),
                reply, kWriteReplyLength, kCommandTimeoutMs, kLengthSettleMs))
    text = kTextLineLengthSetFailed;  // and 0x2009 is not written
  else if (!Exchange(PortHandle, BuildWriteRequest(address, REG_RESISTIVITY_AUTOCAL, 0), reply,
                     kWriteReplyLength, kCommandTimeoutMs))
    text = kTextAutoCalibrationOffFailed;
  const bool succeeded = text == kTextCalibrationSucceeded;
  if (succeeded)
    countdown.WindowInformation(QString::fromUtf8(text));
  else
    ShowMessage(&countdown, QString::fromUtf8(text), LastRefusalCause(PortHandle));
  ClosePort();
  return succeeded;
}

}  // namespace

void CConsoleDlg::OnAutoCalibrateVoltage() {
  CCommandPort port(*this);
  if (!port) return;
  uint8_t reply[kWriteReplyLength];
  const bool started = port.Exchange(BuildWriteRequest(port.Address(), REG_VOLTAGE_AUTOCAL, 1),
                                     reply, kWriteReplyLength);
  if (started)
    WindowInformation(QString::fromUtf8(kTextStartSucceeded));
  else
    port.ShowRefusal(kTextStartFailed);
}

void CConsoleDlg::StopResistivityCalibration(const RadioWrite& row) {
  UpdateData(true);  // "关": 0
  CCommandPort port(*this);
  if (!port) return;
  uint8_t reply[kWriteReplyLength];
  if (!port.Exchange(BuildWriteRequest(port.Address(), row.reg, row.value), reply,
                     kWriteReplyLength)) {
    port.ShowRefusal(row.failure);
    // Still on as far as anyone knows; the radios show it at the next copy
    // of the members to the screen.
    m_nAutoResistivity = 1;
  }
}

void CConsoleDlg::StartResistivityCalibration(const RadioWrite& row) {
  UpdateData(true);  // "开": 1
  CCommandPort port(*this);
  if (!port) {
    m_nAutoResistivity = 0;
    UpdateData(false);
    return;
  }
  const std::optional<int> length = CalibrationLength(GetDlgItemText(IDC_LINE_LENGTH));
  if (!length) {
    WindowMessage(QString::fromUtf8(kTextBadLineLength),
                  QString::fromUtf8(kTextCalibrationLengthRange));
    m_nAutoResistivity = 0;
    UpdateData(false);
    return;
  }
  g_nCalibLineLength = *length;
  g_nCalibAddress = port.Address();
  uint8_t reply[kWriteReplyLength];
  if (!port.Exchange(BuildWriteRequest(port.Address(), row.reg, row.value), reply,
                      kWriteReplyLength)) {
    port.ShowRefusal(row.failure);
    m_nAutoResistivity = 0;  // the screen is left as it is
    return;
  }

  // From here the port is the procedure's, through both dialogs.
  port.Keep();
  CConfirmDlg confirm(this);
  if (confirm.DoModal() == IDOK) {
    CWaitDlg countdown(&CloseResistivityCalibration, this);
    countdown.DoModal();
  }
  // Cancelled, or the countdown closed before its end: the port is still open.
  if (PortHandle) ClosePort();
  if (g_bCalibrationDone) m_nAutoResistivity = 0;
  UpdateData(false);
}
