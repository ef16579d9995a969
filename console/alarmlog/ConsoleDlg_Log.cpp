// Alarm log: the entry count, the log read into list 1011, and clearing.
//
// A log of up to 24 entries comes in one request while the command runs. A
// longer one is read in pages by a CLogReader from the event loop, so the
// window keeps painting through a read of thousands of entries; the window's
// commands are disabled until it ends.
#include <QTreeWidget>

#include <optional>

#include "window/CommandPort.h"
#include "window/ConsoleDlg.h"
#include "alarmlog/LogPages.h"
#include "alarmlog/LogReader.h"
#include "window/Messages.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

constexpr size_t kCountReplyLength = ReadReplyLength(1);

std::optional<int> ReadCount(const CCommandPort& port, uint16_t reg) {
  uint8_t reply[kCountReplyLength];
  if (!port.Exchange(BuildReadRequest(port.Address(), reg, 1), reply, kCountReplyLength))
    return std::nullopt;
  return GetU16(reply + 3);
}

QString CountText(int count) { return QString::number(count); }

// The two count buttons: the same read of another register, with another
// message when it is refused. The count goes to static 1072 either way.
void ShowCount(CConsoleDlg& dlg, uint16_t reg, const char* failure) {
  CCommandPort port(dlg);
  if (!port) return;
  const std::optional<int> count = ReadCount(port, reg);
  if (!count) return port.ShowRefusal(failure);
  dlg.SetDlgItemText(IDC_LOG_COUNT, CountText(*count));
}

}  // namespace

void CConsoleDlg::OnReadLogCount() { ShowCount(*this, REG_LOG_COUNT, kTextReadError); }

void CConsoleDlg::OnReadEntryCount() { ShowCount(*this, REG_LOG_COUNT_2, kTextReadFailed); }

void CConsoleDlg::OnReadLog() {
  auto* list = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_ALARM_LIST));
  if (!list || m_pLogReader) return;
  CCommandPort port(*this);
  if (!port) return;
  list->clear();
  const std::optional<int> count = ReadCount(port, REG_LOG_COUNT);
  if (!count) return port.ShowRefusal(kTextReadFailed);
  SetDlgItemText(IDC_LOG_COUNT, CountText(*count));

  LogReadPlan plan = PlanLogRead(*count);
  if (!plan.paged) {
    // Up to 24 entries: one request, written at once on the command's port.
    if (!ReadLogPage(PortHandle, port.Address(), plan.pages.front(), *list))
      port.ShowRefusal(kTextReadFailed);
    return;
  }
  m_pLogReader = new CLogReader(*this, *list, port.Address(), std::move(plan.pages), CommandIds());
  connect(m_pLogReader, &CLogReader::finished, this, &CConsoleDlg::OnLogReadFinished);
  // Closing the window ends the read (and closes the port) at once.
  connect(this, &QDialog::finished, m_pLogReader, &CLogReader::Stop);
  StartLogProgress(*count);
  m_pLogReader->Start(port.Keep());
}

void CConsoleDlg::OnLogReadFinished() {
  EndLogProgress(m_pLogReader && m_pLogReader->Stopped());
  if (m_pLogReader) m_pLogReader->deleteLater();
  m_pLogReader = nullptr;
}

// The controller's log cannot be had back: the operator confirms first.
void CConsoleDlg::OnClearLog() {
  if (!WindowQuestion(QString::fromUtf8(kTextClearLogQuestion))) return;
  CCommandPort port(*this);
  if (!port) return;
  uint8_t reply[kWriteReplyLength];
  if (!port.Exchange(BuildWriteRequest(port.Address(), REG_LOG_COUNT, 1), reply, kWriteReplyLength))
    return port.ShowRefusal(kTextSetFailed);
  if (auto* list = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_ALARM_LIST))) list->clear();
  SetDlgItemText(IDC_LOG_COUNT, CountText(0));
}
