// Runs the real main window modally on the offscreen platform against the
// simulated controller on a pseudo-terminal (Com1), with every message box
// recorded instead of shown.
#pragma once

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "window/ConsoleDlg.h"
#include "pty_server.h"
#include "recording_message_service.h"

class ConsoleWindowTest : public ::testing::Test {
 public:
  // Every window test's simulated line echoes each request (--line-echo).
  static inline bool s_bLineEcho = false;

 protected:
  void SetUp() override;
  void TearDown() override;

  // Constructs the window and runs DoModal; `body` runs once the window is
  // on screen, then the window is closed unless `body` ended it. Returns
  // what DoModal returned.
  int RunWindow(const std::function<void(CConsoleDlg&)>& body);
  // The same with a window the test made (a subclass that reaches a handler).
  int RunWindow(CConsoleDlg& dlg, const std::function<void(CConsoleDlg&)>& body);

  // The request frames the controller has received, in order.
  std::vector<std::vector<uint8_t>> Frames() const;

  // Every control with an id: kind, text, check, selection, enabled, hidden.
  static QStringList Snapshot(const CConsoleDlg& dlg);

  sim::PtyServer m_server;
  CRecordingMessageService m_messages;
};
