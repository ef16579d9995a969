#include "app/ConsoleApp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/AppInfo.h"
#include "app/ConsoleSettings.h"
#include "window/ConsoleDlg.h"
#include "app/SignalEnd.h"
#include "traffic/Trace.h"
#include "pty_server.h"
#include "rs485.h"
#include "serial_port.h"

CConsoleApp::CConsoleApp(CommandLine commandLine) : m_commandLine(std::move(commandLine)) {}

CConsoleApp::~CConsoleApp() { RemoveTrace(); }

bool CConsoleApp::InitInstance() {
  if (!ApplyCommandLine()) return false;

  // Made after the trace, so that a file it cannot use is said there.
  CConsoleSettings settings(!m_commandLine.noSettings);
  CConsoleDlg dlg;
  ApplyCommandLineOver(settings, dlg);
  m_pMainWnd = &dlg;
  // Ctrl+C, kill and a hang-up close the window as its close box does.
  CSignalEnd signalEnd(dlg);
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return false;
}

// What the command line says wins over what is remembered, and is not
// written: the simulator's line is new each run, a --port mapping is the
// command line's, not the operator's choice in the window.
void CConsoleApp::ApplyCommandLineOver(CConsoleSettings& settings, CConsoleDlg& dlg) const {
  const CommandLine& commandLine = m_commandLine;
  if (commandLine.simulate) settings.PinLine();
  if (!commandLine.ports.empty()) settings.PinPort();
  if (commandLine.quickSearch) {
    settings.PinQuickSearch();
    dlg.SetQuickSearch(true);
  }
  if (commandLine.searchAll) dlg.SetSearchAll(true);  // never remembered: a survey is chosen each time
  if (commandLine.searchTurnaroundGiven) settings.PinTurnaround();
  dlg.SetSearchTurnaround(static_cast<uint32_t>(commandLine.searchTurnaroundMs));
  dlg.SetSettings(&settings);
}

bool CConsoleApp::ApplyCommandLine() {
  const CommandLine& commandLine = m_commandLine;
  ResetPortMap();
  for (const auto& [number, path] : commandLine.ports) SetPortPath(number, path);
  if (commandLine.simulate) {
    m_pSimulator = std::make_unique<sim::PtyServer>(commandLine.sim);
    for (const sim::ControllerOptions& station : commandLine.simStations)
      m_pSimulator->AddStation(station);
    m_pSimulator->SetTurnaround(commandLine.simTurnaroundMs);
    m_pSimulator->SetEcho(commandLine.simEcho);
    if (!m_pSimulator->Start()) {
      std::fprintf(stderr, "qd7420: the simulated controller did not start: %s\n",
                   std::strerror(errno));
      m_nExitCode = kExitSimulatorFailed;
      return false;
    }
    // The command line has made sure --port said nothing about Com1.
    SetPortPath(1, m_pSimulator->DevicePath());
  }
  for (int number : commandLine.rs485Ports) SetRs485(PortPath(number), true);
  SetRs485Delays(commandLine.rs485BeforeMs, commandLine.rs485AfterMs);
  SetEchoMode(commandLine.echo);
  InstallTrafficRecord();
  if (commandLine.trace) {
    InstallTrace();
    if (m_pSimulator) TraceNote("simulated controller on " + m_pSimulator->DevicePath());
  }
  return true;
}
