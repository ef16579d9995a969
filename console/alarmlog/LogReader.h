// The paged read of a long alarm log, one page per turn of the event loop:
// the 50 ms pause before each page is a timer, not a sleep, so the window
// repaints and shows the rows so far between pages; only the exchange of a
// page itself (its time on the wire) holds the window. The window's command
// controls stay disabled until the read is over, so no other command can
// reach the open port in between.
//
// The reader owns the port it was given (PortHandle, left open by the
// command) and closes it when the read ends: after the last page, after a
// refused page and its message, or when stopped (the window closing).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

#include "window/CommandLock.h"
#include "alarmlog/LogPages.h"
#include "serial_port.h"

class CDialog;
class QTreeWidget;

class CLogReader : public QObject {
  Q_OBJECT

 public:
  // `commands`: the ids of the controls to keep disabled meanwhile.
  CLogReader(CDialog& dlg, QTreeWidget& list, uint8_t address, std::vector<LogPage> pages,
             const std::vector<int>& commands);
  ~CLogReader() override;

  // Takes over the open `port` and starts with the first page's pause.
  void Start(HPORT port);
  // Ends the read at once, silently.
  void Stop();

  // How many pages have been read and listed.
  size_t PagesRead() const { return m_next; }
  // The read ended by Stop() before its last page.
  bool Stopped() const { return m_bStopped; }

 signals:
  void finished();

 private:
  void ReadPage();
  void Finish();
  void ReleasePort();  // closes the port if the reader still holds it

  CDialog& m_dlg;
  QTreeWidget& m_list;
  const uint8_t m_address;
  const std::vector<LogPage> m_pages;
  size_t m_next = 0;
  bool m_bStopped = false;
  HPORT m_port = nullptr;
  std::unique_ptr<CCommandLock> m_lock;
  QTimer m_pause;
  QElapsedTimer m_pauseStarted;
};

// One request of a read on the open `port`: its exchange (no pause) and,
// when the reply is accepted, its rows appended to `list` in the order the
// controller sent them. False when the reply was refused.
bool ReadLogPage(HPORT port, uint8_t address, const LogPage& page, QTreeWidget& list);
