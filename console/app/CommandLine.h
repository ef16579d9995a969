// The console's command line, its only configuration: which device each
// "ComN" talks to, the in-process simulated controller, and tracing.
#pragma once

#include <QStringList>

#include <string>
#include <utility>
#include <vector>

#include "controller.h"
#include "echo.h"

struct CommandLine {
  // Run the console, or end at once with `exitCode` after printing `output`
  // (to standard output: --help, --version) and `error` (to standard error).
  bool run = true;
  int exitCode = 0;
  std::string output;
  std::string error;

  std::vector<std::pair<int, std::string>> ports;  // --port N=PATH, in order
  bool simulate = false;
  sim::ControllerOptions sim;  // --sim-address, --sim-baud, --sim-scenario, --sim-log
  int simTurnaroundMs = 0;     // --sim-turnaround
  bool simEcho = false;        // --sim-echo
  // --sim-station ADDRESS[:BAUD]: more controllers on the simulator's line.
  std::vector<sim::ControllerOptions> simStations;
  bool quickSearch = false;    // --quick-search
  bool searchAll = false;      // --search-all: the survey of every address and rate
  int searchTurnaroundMs = 50; // --search-turnaround (kDefaultSearchTurnaroundMs)
  bool searchTurnaroundGiven = false;
  bool noSettings = false;     // --no-settings: the defaults, nothing remembered
  bool trace = false;
  std::vector<int> rs485Ports;  // --rs485 N: Com N in the kernel's RS-485 mode
  uint32_t rs485BeforeMs = 0;   // --rs485-delay BEFORE,AFTER
  uint32_t rs485AfterMs = 0;
  EchoMode echo = EchoMode::Auto;  // --echo
};

// `arguments` as QCoreApplication::arguments() gives them (program first).
CommandLine ParseCommandLine(const QStringList& arguments);
