#include "alarmlog/LogReader.h"

#include <QTreeWidget>

#include <chrono>
#include <thread>

#include "window/CommandPort.h"
#include "dialog/Dialog.h"
#include "dialog/MessageService.h"
#include "window/RefusalCause.h"
#include "window/Messages.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"

namespace {

constexpr int kPageGapMs = 50;  // before every page, the first included
constexpr size_t kRecordsOffset = 5;  // the entries' records in a reply

}  // namespace

bool ReadLogPage(HPORT port, uint8_t address, const LogPage& page, QTreeWidget& list) {
  uint8_t reply[FileRecordReplyLength(kLogEntriesPerRequest)];
  const Frame request = BuildReadFileRecordRequest(address, kLogFileNumber, page.record,
                                                   page.entries * kLogEntryRegisters);
  if (!::Exchange(port, request, reply, FileRecordReplyLength(page.entries), kCommandTimeoutMs))
    return false;
  // Built whole and added in one call: one model insertion per page, and no
  // change signals for cells set one by one.
  QList<QTreeWidgetItem*> rows;
  rows.reserve(page.entries);
  for (int i = 0; i < page.entries; ++i) {
    QStringList cells{QString::number(page.firstRow + i + 1)};
    cells << LogEntryCells(reply + kRecordsOffset + i * kLogEntryBytes);
    rows.append(new QTreeWidgetItem(cells));
  }
  list.addTopLevelItems(rows);
  return true;
}

CLogReader::CLogReader(CDialog& dlg, QTreeWidget& list, uint8_t address, std::vector<LogPage> pages,
                       const std::vector<int>& commands)
    : QObject(&dlg),
      m_dlg(dlg),
      m_list(list),
      m_address(address),
      m_pages(std::move(pages)),
      m_lock(std::make_unique<CCommandLock>(dlg, commands)) {
  m_pause.setSingleShot(true);
  m_pause.setTimerType(Qt::PreciseTimer);
  connect(&m_pause, &QTimer::timeout, this, &CLogReader::ReadPage);
}

CLogReader::~CLogReader() { ReleasePort(); }

void CLogReader::Start(HPORT port) {
  m_port = port;
  if (m_pages.empty()) return Finish();
  m_pauseStarted.start();
  m_pause.start(kPageGapMs);
}

void CLogReader::Stop() {
  if (!m_port) return;
  m_bStopped = true;
  Finish();
}

void CLogReader::ReadPage() {
  // A timer may come a hair early; the controller is owed its full pause.
  const qint64 rest = qint64{kPageGapMs} * 1000000 - m_pauseStarted.nsecsElapsed();
  if (rest > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(rest));

  if (!ReadLogPage(m_port, m_address, m_pages[m_next], m_list)) {
    // The rows of the earlier pages stay; the port is open while the box is up.
    ShowMessage(&m_dlg, QString::fromUtf8(kTextLogReadFailed), LastRefusalCause(m_port));
    return Finish();
  }
  if (++m_next == m_pages.size()) return Finish();
  m_pauseStarted.start();
  m_pause.start(kPageGapMs);
}

void CLogReader::Finish() {
  m_pause.stop();
  ReleasePort();
  m_lock.reset();
  emit finished();
}

void CLogReader::ReleasePort() {
  if (!m_port) return;
  // Nobody else can have opened the slot meanwhile: every command is locked.
  if (PortHandle == m_port) ::ClosePort();
  m_port = nullptr;
}
