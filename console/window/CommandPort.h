// What every command of the main window does first and last: read the
// connection from the window at the moment of the click (station address
// from edit 1000, port from list 1001, baud rate from list 1002), refuse an
// address no controller answers to, open the port into PortHandle, and close
// it when the command ends: after any message box of the command has been
// dismissed, so the port is still open while the operator reads it.
//
// A refused address or a port that cannot be opened is reported here, and
// nothing is sent; the command then simply returns. A reply accepted makes
// the connection the one the console remembers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "exchange.h"

class CConsoleDlg;

// The reply wait of every command but the start-up exchange.
constexpr uint32_t kCommandTimeoutMs = 1000;

class CCommandPort {
 public:
  explicit CCommandPort(CConsoleDlg& dlg);
  ~CCommandPort() = default;  // the transaction closes the port
  CCommandPort(const CCommandPort&) = delete;
  CCommandPort& operator=(const CCommandPort&) = delete;

  // True when the prologue passed and the port is open.
  explicit operator bool() const { return m_transaction && m_transaction->IsOpen(); }
  uint8_t Address() const { return m_address; }

  // One exchange on the open port; see ::Exchange.
  bool Exchange(const Frame& request, uint8_t* reply, size_t replyLen,
                uint32_t timeoutMs = kCommandTimeoutMs, uint32_t pauseMs = 0) const;

  // Shows `text` (the command's refusal, "读取失败!") in a box of the window,
  // with why the last exchange was refused as its informative text.
  void ShowRefusal(const char* text) const;

  // Leaves the port open in PortHandle after this object is gone; for the
  // activities that hold it across events (monitoring, auto-calibration).
  HPORT Keep();

 private:
  CConsoleDlg& m_dlg;
  uint8_t m_address = 0;
  int m_nPort = 0;
  int m_nBaud = 0;
  std::optional<Transaction> m_transaction;
};
