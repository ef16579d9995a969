// Device administration: working mode (with the access code and the two
// layouts), station address and baud rate, the device clock, the buzzer.
// The radios that write their choice to the controller (the buzzer, the
// auto-resistivity switch, the display mode of monitoring) are one table:
// each row binds its radio, one routine writes.
#include <QComboBox>
#include <QDate>
#include <QString>
#include <QTime>

#include <vector>

#include "window/CommandPort.h"
#include "window/CommandRows.h"
#include "window/ConsoleDlg.h"
#include "window/ControlStates.h"
#include "window/Globals.h"
#include "dialog/MessageService.h"
#include "window/Messages.h"
#include "dialogs/PasswordDlg.h"
#include "monitoring/StatusBlock.h"
#include "window/TextNumbers.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"

namespace {

// The factory mode's access code; typed exactly, nothing more or less.
constexpr char kAccessCode[] = "361752";

constexpr uint16_t kMeasurementMode = 0;
constexpr uint16_t kFactoryMode = 1;

constexpr uint16_t kClockRegisters = 4;
constexpr size_t kClockReplyLength = ReadReplyLength(kClockRegisters);
constexpr uint16_t kAddressBaudRegisters = 3;  // 0x200D address, 0x200E-0x200F baud

constexpr RadioSet kBuzzer = RadioSet::Buzzer;
constexpr RadioSet kAutoResistivity = RadioSet::AutoResistivity;
constexpr RadioSet kDisplayMode = RadioSet::DisplayMode;

// clang-format off
constexpr RadioWrite kRadioWrites[] = {
  // radio and handler                               group             register                 value  failure
  {{IDC_BUZZER_OFF,      "OnBuzzerOff"},             kBuzzer,          REG_BUZZER,              1,     kTextCheckFailed},
  {{IDC_BUZZER_ON,       "OnBuzzerOn"},              kBuzzer,          REG_BUZZER,              0,     kTextCheckFailed},
  {{IDC_AUTORES_OFF,     "OnAutoResistivityOff"},    kAutoResistivity, REG_RESISTIVITY_AUTOCAL, 0,     kTextCheckFailed},
  {{IDC_AUTORES_ON,      "OnAutoResistivityOn"},     kAutoResistivity, REG_RESISTIVITY_AUTOCAL, 1,     kTextCheckFailed},
  {{IDC_DISPLAY_VOLTAGE, "OnDisplayVoltage"},        kDisplayMode,     REG_WORK_MODE,           1,     kTextDisplayModeSetFailed},
  {{IDC_DISPLAY_ADC,     "OnDisplayAdc"},            kDisplayMode,     REG_WORK_MODE,           2,     kTextDisplayModeSetFailed},
};
// clang-format on

const int kClockEdits[6] = {IDC_CLOCK_YEAR, IDC_CLOCK_MONTH,  IDC_CLOCK_DAY,
                            IDC_CLOCK_HOUR, IDC_CLOCK_MINUTE, IDC_CLOCK_SECOND};

}  // namespace

// --- Working mode -----------------------------------------------------------------------

// Only a mode the controller has taken rules the window: a cancelled or
// wrong code, a port that will not open and a refused write all leave the
// list, g_nWorkMode and the control states in the confirmed mode, so that
// nothing later (a monitoring stop, a search's end) can apply the factory
// column on the strength of a mere selection.
void CConsoleDlg::OnWorkModeChange() {
  UpdateData(true);
  const int position = GetComboSel(IDC_WORK_MODE);
  if (position < 0) return ReturnToConfirmedMode();

  if (position > 0) {
    CPasswordDlg password;
    if (password.DoModal() != IDOK) return ReturnToConfirmedMode();
    if (password.m_strPassword != QLatin1String(kAccessCode)) {
      AppMessage(QString::fromUtf8(kTextWrongPassword));
      return ReturnToConfirmedMode();
    }
  }

  CCommandPort port(*this);
  if (!port) return ReturnToConfirmedMode();
  const uint16_t mode = position > 0 ? kFactoryMode : kMeasurementMode;
  uint8_t reply[kWriteReplyLength];
  if (!port.Exchange(BuildWriteRequest(port.Address(), REG_WORK_MODE, mode), reply,
                     kWriteReplyLength)) {
    port.ShowRefusal(kTextModeSetFailed);
    return ReturnToConfirmedMode();
  }
  m_nConfirmedMode = position;
  g_nWorkMode = position;
  ApplyWorkMode(position > 0);
}

void CConsoleDlg::ReturnToConfirmedMode() {
  SetComboSel(IDC_WORK_MODE, m_nConfirmedMode);
  UpdateData(false);  // the radio groups show their members again
}

bool CConsoleDlg::FollowConfirmedMode() {
  const bool factory = m_nConfirmedMode > 0;
  SetComboSel(IDC_WORK_MODE, m_nConfirmedMode);
  // 2 (factory mode with ADC values) is factory mode as well; keep it.
  if ((g_nWorkMode > 0) != factory) g_nWorkMode = m_nConfirmedMode;
  return factory;
}

void CConsoleDlg::FollowControllerMode(uint16_t mode) {
  // The controller's mode rules the next tick; the list follows 0 and 1
  // only (2 is factory mode with ADC values, which the list has no entry for).
  g_nWorkMode = mode;
  m_nConfirmedMode = mode > 0 ? 1 : 0;
  if (mode <= 1) SetComboSel(IDC_WORK_MODE, mode);
}

void CConsoleDlg::ApplyWorkMode(bool factory) {
  ApplyControlStates(*this, kWorkModeStates, factory ? kWorkModeFactory : kWorkModeMeasurement);
  if (!factory) return SetLayout(false);
  m_nDisplayMode = 0;  // "电压"
  SetLayout(true);
  UpdateData(false);
}

// --- Station address and baud rate ------------------------------------------------------

void CConsoleDlg::OnChangeAddressBaud() {
  const QString baudText = GetDlgItemText(IDC_NEW_BAUD);
  const QString addressText = GetDlgItemText(IDC_NEW_ADDRESS);
  CCommandPort port(*this);
  if (!port) return;
  // A controller told address 0 or baud rate 0 could never be reached
  // again, by this console or by the search.
  const std::optional<uint8_t> address = StationAddress(addressText);
  if (!address) return WindowMessage(QString::fromUtf8(kTextBadStationAddress),
                         QString::fromUtf8(kTextNewAddressRange));
  const int baud = AtoiText(baudText);
  if (baud <= 0) return WindowMessage(QString::fromUtf8(kTextNoBaudRate));

  uint8_t data[2 * kAddressBaudRegisters];
  PutU16(data, *address);
  PutU32(data + 2, static_cast<uint32_t>(baud));
  uint8_t reply[kWriteReplyLength];
  if (!port.Exchange(BuildWriteMultipleRequest(port.Address(), REG_STATION_ADDRESS,
                                               kAddressBaudRegisters, data),
                     reply, kWriteReplyLength))
    return port.ShowRefusal(kTextChangeFailed);
  // The controller answers at its new settings only: the top row follows,
  // so that the next command reaches it.
  SetDlgItemText(IDC_ADDRESS, QString::number(*address));
  if (auto* rates = qobject_cast<QComboBox*>(GetDlgItem(IDC_BAUD)))
    SetComboSel(IDC_BAUD, rates->findText(baudText));
  RememberLine(ReadConnection());
}

// --- Device clock ---------------------------------------------------------------------

const int CConsoleDlg::kClockRow[6] = {IDC_TIME_YEAR, IDC_TIME_MONTH,  IDC_TIME_DAY,
                                       IDC_TIME_HOUR, IDC_TIME_MINUTE, IDC_TIME_SECOND};

bool CConsoleDlg::WriteDeviceClock(const CCommandPort& port, uint16_t reg,
                                   const QString (&fields)[6]) {
  ClockFields clock;
  int* const values[6] = {&clock.year, &clock.month,  &clock.day,
                          &clock.hour, &clock.minute, &clock.second};
  for (int i = 0; i < 6; ++i) *values[i] = AtoiText(fields[i]);
  uint8_t bytes[2 * kClockRegisters];
  // A field beyond its digits (a year of five, a month of three) is refused
  // as a failed write, and nothing is sent.
  if (!EncodeClock(clock, bytes)) return false;
  uint8_t reply[kWriteReplyLength];
  return port.Exchange(BuildWriteMultipleRequest(port.Address(), reg, kClockRegisters, bytes),
                       reply, kWriteReplyLength);
}

void CConsoleDlg::ShowBcdClock(const int (&ids)[6], const BcdClock& clock) {
  const unsigned values[6] = {clock.year, clock.month,  clock.day,
                              clock.hour, clock.minute, clock.second};
  for (int i = 0; i < 6; ++i) SetDlgItemText(ids[i], QString::asprintf("%X", values[i]));
}

void CConsoleDlg::OnSetSystemTime() {
  CCommandPort port(*this);
  if (!port) return;
  const QDateTime now = m_timeSource ? m_timeSource() : QDateTime::currentDateTime();
  const QDate date = now.date();
  const QTime time = now.time();
  const int values[6] = {date.year(), date.month(),  date.day(),
                         time.hour(), time.minute(), time.second()};
  QString fields[6];
  for (int i = 0; i < 6; ++i) fields[i] = QString::number(values[i]);
  if (!WriteDeviceClock(port, REG_CLOCK, fields))
    return port.ShowRefusal(kTextClockSetFailed);
  for (int i = 0; i < 6; ++i) SetDlgItemText(kClockRow[i], fields[i]);
}

void CConsoleDlg::OnReadClock() {
  CCommandPort port(*this);
  if (!port) return;
  uint8_t reply[kClockReplyLength];
  if (!port.Exchange(BuildReadRequest(port.Address(), REG_CLOCK_2, kClockRegisters), reply,
                     kClockReplyLength))
    return port.ShowRefusal(kTextReadFailed);
  ShowBcdClock(kClockEdits, DecodeBcdClock(reply + 3));
}

void CConsoleDlg::OnWriteClock() {
  QString fields[6];
  for (int i = 0; i < 6; ++i) fields[i] = GetDlgItemText(kClockEdits[i]);
  CCommandPort port(*this);
  if (!port) return;
  if (!WriteDeviceClock(port, REG_CLOCK_2, fields))
    port.ShowRefusal(kTextClockSetFailed);
}

// --- Radios that write their choice ------------------------------------------------------

int& CConsoleDlg::RadioMember(RadioSet group) {
  switch (group) {
    case RadioSet::Buzzer: return m_nBuzzer;
    case RadioSet::AutoResistivity: return m_nAutoResistivity;
    case RadioSet::DisplayMode: break;
  }
  return m_nDisplayMode;
}

void CConsoleDlg::BindRadioRows() {
  for (const RadioWrite& row : kRadioWrites)
    BindCommandRow(*this, row.command, [this, &row] { WriteRadio(row); });
}

std::vector<CommandName> RadioCommands() {
  std::vector<CommandName> names;
  for (const RadioWrite& row : kRadioWrites) names.push_back(row.command);
  return names;
}

// The auto-resistivity radios are the calibration procedure's (its file);
// the others write their value and show the previous choice when it fails.
void CConsoleDlg::WriteRadio(const RadioWrite& row) {
  if (row.group == RadioSet::AutoResistivity)
    return row.value ? StartResistivityCalibration(row) : StopResistivityCalibration(row);
  int& member = RadioMember(row.group);
  const int previous = member;  // what the controller was last known to have
  UpdateData(true);             // the member holds the clicked radio
  CCommandPort port(*this);
  uint8_t reply[kWriteReplyLength];
  if (port && port.Exchange(BuildWriteRequest(port.Address(), row.reg, row.value), reply,
                            kWriteReplyLength))
    return;
  if (port) port.ShowRefusal(row.failure);
  member = previous;
  UpdateData(false);
}
