#include "window/CommandPort.h"

#include "window/ConsoleDlg.h"
#include "dialog/MessageService.h"
#include "window/Messages.h"
#include "ports/PortRefusal.h"
#include "window/RefusalCause.h"

CCommandPort::CCommandPort(CConsoleDlg& dlg) : m_dlg(dlg) {
  ForgetLastExchange();
  const CConsoleDlg::Connection connection = dlg.ReadConnection();
  if (!connection.address) {
    // Address 0 is the broadcast: every controller on the line would take a
    // write and none would answer. Above 255 it would reach another station.
    dlg.WindowMessage(QString::fromUtf8(kTextBadStationAddress),
                      QString::fromUtf8(kTextStationAddressRange));
    return;
  }
  m_address = *connection.address;
  if (connection.unplugged) {
    ShowUnplugged(PortPath(connection.port));
    return;
  }
  m_nPort = connection.port;
  m_nBaud = connection.baud;
  m_transaction.emplace(connection.port, connection.baud);
  if (!m_transaction->IsOpen()) {
    m_transaction.reset();
    ShowPortRefusal(LastOpenFailure());
  }
}

bool CCommandPort::Exchange(const Frame& request, uint8_t* reply, size_t replyLen,
                            uint32_t timeoutMs, uint32_t pauseMs) const {
  ForgetLastExchange();
  if (!m_transaction || !m_transaction->Exchange(request, reply, replyLen, timeoutMs, pauseMs))
    return false;
  m_dlg.RememberLine({m_address, m_nPort, m_nBaud});
  return true;
}

void CCommandPort::ShowRefusal(const char* text) const {
  ShowMessage(&m_dlg, QString::fromUtf8(text),
              LastRefusalCause(m_transaction ? m_transaction->Port() : nullptr));
}

HPORT CCommandPort::Keep() {
  if (!m_transaction) return nullptr;
  HPORT port = m_transaction->Release();
  m_transaction.reset();
  return port;
}
