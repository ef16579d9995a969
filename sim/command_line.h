// The options of qd7420-sim and the names its scenarios and faults go by on
// the command line and on its standard input.
#pragma once

#include <string>
#include <vector>

#include "device_types.h"
#include "pty_server.h"

namespace sim {

struct SimSettings {
  ControllerOptions controller;
  // --station: more controllers on the same line, in order; one given
  // without a rate is at controller.baud, wherever --baud stands.
  std::vector<ControllerOptions> stations;
  Fault fault = Fault::None;
  int faultCount = -1;  // every reply unless a count was given
  int delayMs = 200;    // for the delay fault (and late, when given)
  bool delayGiven = false;
  bool paced = false;
  int turnaroundMs = 0;  // each reply starts this long after the request's end
  bool answerAllBadCrc = false;
  bool echo = false;  // the line echoes every request (an echoing adapter)
  bool help = false;
};

// Parses the arguments (getopt_long). False, with a message in `error`, on
// an unknown option or a value out of range.
bool ParseCommandLine(int argc, char* argv[], SimSettings& settings, std::string& error);
const char* UsageText();

bool ParseScenario(const std::string& text, Scenario& scenario);
const char* ScenarioName(Scenario scenario);
// KIND or KIND:COUNT; without a count the fault is persistent (-1).
bool ParseFault(const std::string& text, Fault& fault, int& count);
const char* FaultName(Fault fault);

// ADDRESS or ADDRESS:BAUD, ADDRESS 1..255 and BAUD a rate the controller
// offers, into `station` (its other fields left as they were); without a
// BAUD, station.baud becomes `baud`.
bool ParseStation(const std::string& text, int baud, ControllerOptions& station);
// One of the rates the controller offers, 1200 to 38400.
bool ParseBaud(const std::string& text, int& baud);

// Whole-string decimal numbers within [min, max].
bool ParseInt(const std::string& text, long min, long max, long& value);
bool ParseMetres(const std::string& text, double& value);

}  // namespace sim
