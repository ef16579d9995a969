// The application object: applies the command line (port map, simulated
// controller, trace), then runs the main window modally. The window's own
// modal loop is the program's main loop; when it closes the program ends.
#pragma once

#include <memory>

#include "app/CommandLine.h"

class CConsoleDlg;
class CConsoleSettings;
class QWidget;
namespace sim {
class PtyServer;
}

class CConsoleApp {
 public:
  // `commandLine` as parsed before the application object (and a display)
  // was needed.
  explicit CConsoleApp(CommandLine commandLine);
  ~CConsoleApp();
  CConsoleApp(const CConsoleApp&) = delete;
  CConsoleApp& operator=(const CConsoleApp&) = delete;

  // Set-up and the window's whole run; false, as the program ends after it.
  bool InitInstance();
  // The process exit code: kExitOk, or kExitSimulatorFailed (AppInfo.h).
  int ExitCode() const { return m_nExitCode; }

  // The main window while it runs.
  QWidget* m_pMainWnd = nullptr;

 private:
  bool ApplyCommandLine();
  void ApplyCommandLineOver(CConsoleSettings& settings, CConsoleDlg& dlg) const;

  CommandLine m_commandLine;
  std::unique_ptr<sim::PtyServer> m_pSimulator;
  int m_nExitCode = 0;
};
