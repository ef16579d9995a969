#include "command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "register_table.h"

namespace sim {
namespace {

struct ScenarioName_ {
  const char* name;
  Scenario scenario;
};
constexpr ScenarioName_ kScenarios[] = {
    {"none", Scenario::NoAlarm}, {"leak", Scenario::Leak}, {"broken", Scenario::Broken}};

struct FaultName_ {
  const char* name;
  Fault fault;
};
constexpr FaultName_ kFaults[] = {
    {"none", Fault::None},           {"silence", Fault::Silence},
    {"bad-crc", Fault::BadCrc},      {"extra", Fault::ExtraBytes},
    {"short", Fault::ShortReply},    {"exception", Fault::Exception},
    {"delay", Fault::Delay},         {"late", Fault::Late},
    {"other-station", Fault::OtherStation},
};

constexpr option kOptions[] = {
    {"address", required_argument, nullptr, 'a'},
    {"baud", required_argument, nullptr, 'b'},
    {"station", required_argument, nullptr, 'S'},
    {"scenario", required_argument, nullptr, 's'},
    {"position", required_argument, nullptr, 'p'},
    {"log", required_argument, nullptr, 'l'},
    {"fault", required_argument, nullptr, 'f'},
    {"delay", required_argument, nullptr, 'd'},
    {"paced", no_argument, nullptr, 'P'},
    {"turnaround", required_argument, nullptr, 'T'},
    {"answer-all-bad-crc", no_argument, nullptr, 'A'},
    {"echo", no_argument, nullptr, 'E'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// A --station's rate until the options are all read: that of --baud.
constexpr int kMainBaud = 0;

// Reads an integer option into `field` when it lies within [min, max].
template <typename T>
bool IntInto(const std::string& arg, long min, long max, T& field) {
  long n = 0;
  if (!ParseInt(arg, min, max, n)) return false;
  field = static_cast<T>(n);
  return true;
}

// One row per option: its letter in kOptions, how its value goes into the
// settings (false when the value is wrong), and what is said then.
struct OptionRule {
  int opt;
  bool (*apply)(const std::string& arg, SimSettings& s);
  const char* complaint;
};

const OptionRule kRules[] = {
    {'a', [](const std::string& v, SimSettings& s) { return IntInto(v, 1, 255, s.controller.address); },
     "address must be 1..255"},
    {'b', [](const std::string& v, SimSettings& s) { return ParseBaud(v, s.controller.baud); },
     "baud must be 1200, 2400, 4800, 9600, 19200 or 38400"},
    // The rate left out is filled in once --baud is known (kMainBaud).
    {'S',
     [](const std::string& v, SimSettings& s) {
       ControllerOptions station;
       if (!ParseStation(v, kMainBaud, station)) return false;
       s.stations.push_back(station);
       return true;
     },
     "station must be ADDRESS[:BAUD], ADDRESS 1..255 and BAUD 1200, 2400, 4800, 9600, 19200 or "
     "38400"},
    {'s', [](const std::string& v, SimSettings& s) { return ParseScenario(v, s.controller.scenario); },
     "scenario must be none, leak or broken"},
    {'p', [](const std::string& v, SimSettings& s) { return ParseMetres(v, s.controller.leakPositionM); },
     "position must be 0..655.35 metres"},
    {'l', [](const std::string& v, SimSettings& s) { return IntInto(v, 0, 65535, s.controller.prefillLog); },
     "log must be 0..65535 entries"},
    {'f', [](const std::string& v, SimSettings& s) { return ParseFault(v, s.fault, s.faultCount); },
     "fault must be KIND[:COUNT], KIND one of none, silence, bad-crc, extra, short, exception, "
     "delay, late, other-station"},
    {'d',
     [](const std::string& v, SimSettings& s) {
       return (s.delayGiven = IntInto(v, 0, 60000, s.delayMs));
     },
     "delay must be 0..60000 ms"},
    {'P', [](const std::string&, SimSettings& s) { return s.paced = true; }, nullptr},
    {'T', [](const std::string& v, SimSettings& s) { return IntInto(v, 0, kMaxTurnaroundMs, s.turnaroundMs); },
     "turnaround must be 0..60000 ms"},
    {'A', [](const std::string&, SimSettings& s) { return s.answerAllBadCrc = true; }, nullptr},
    {'E', [](const std::string&, SimSettings& s) { return s.echo = true; }, nullptr},
    {'h', [](const std::string&, SimSettings& s) { return s.help = true; }, nullptr},
};

// One option's value into the settings; false with `error` set.
bool Apply(int opt, const std::string& arg, SimSettings& s, std::string& error) {
  for (const OptionRule& rule : kRules) {
    if (rule.opt != opt) continue;
    if (rule.apply(arg, s)) return true;
    error = rule.complaint;
    return false;
  }
  error = "unknown option";
  return false;
}

}  // namespace

bool ParseInt(const std::string& text, long min, long max, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  value = v;
  return true;
}

bool ParseBaud(const std::string& text, int& baud) {
  long n = 0;
  if (!ParseInt(text, 1, 38400, n) || !IsDeviceBaud(static_cast<uint32_t>(n))) return false;
  baud = static_cast<int>(n);
  return true;
}

bool ParseStation(const std::string& text, int baud, ControllerOptions& station) {
  const size_t colon = text.find(':');
  long address = 0;
  if (!ParseInt(text.substr(0, colon), 1, 255, address)) return false;
  if (colon != std::string::npos && !ParseBaud(text.substr(colon + 1), baud)) return false;
  station.address = static_cast<uint8_t>(address);
  station.baud = baud;
  return true;
}

bool ParseMetres(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(v >= 0 && v <= 655.35)) return false;
  value = v;
  return true;
}

bool ParseScenario(const std::string& text, Scenario& scenario) {
  for (const auto& s : kScenarios) {
    if (text == s.name) {
      scenario = s.scenario;
      return true;
    }
  }
  return false;
}

const char* ScenarioName(Scenario scenario) {
  for (const auto& s : kScenarios) {
    if (s.scenario == scenario) return s.name;
  }
  return "?";
}

bool ParseFault(const std::string& text, Fault& fault, int& count) {
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  long n = -1;
  if (colon != std::string::npos && !ParseInt(text.substr(colon + 1), 1, 1000000, n)) {
    return false;
  }
  for (const auto& f : kFaults) {
    if (kind == f.name) {
      fault = f.fault;
      count = static_cast<int>(n);
      return true;
    }
  }
  return false;
}

const char* FaultName(Fault fault) {
  for (const auto& f : kFaults) {
    if (f.fault == fault) return f.name;
  }
  return "?";
}

bool ParseCommandLine(int argc, char* argv[], SimSettings& settings, std::string& error) {
  optind = 0;  // start afresh (GNU): the parser may run more than once
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, "+", kOptions, nullptr)) != -1;) {
    if (opt == '?' || opt == ':') {
      error = std::string("bad option ") + (optind > 0 ? argv[optind - 1] : "");
      return false;
    }
    if (!Apply(opt, optarg ? optarg : "", settings, error)) return false;
  }
  if (optind < argc) {
    error = std::string("unexpected argument ") + argv[optind];
    return false;
  }
  for (ControllerOptions& station : settings.stations) {
    if (station.baud == kMainBaud) station.baud = settings.controller.baud;
  }
  return true;
}

const char* UsageText() {
  return "Usage: qd7420-sim [options]\n"
         "Simulates a QD7420 leak-detection controller on a pseudo-terminal and\n"
         "prints the device path to open as the first line of output.\n"
         "\n"
         "Options:\n"
         "  --address N         station address, 1..255 (1)\n"
         "  --baud B            1200, 2400, 4800, 9600, 19200 or 38400 (9600)\n"
         "  --station N[:B]     another controller on the same line, at station N\n"
         "                      and rate B (else --baud's); repeatable: a bus of\n"
         "                      several, where two at one address collide\n"
         "  --scenario S        none, leak or broken (none)\n"
         "  --position METRES   where the leak (or break) is (0)\n"
         "  --log N             the alarm log holds N entries at power-up, 0..65535\n"
         "                      (0); starting in alarm, the newest is its onset\n"
         "                      (with 0, the onset alone)\n"
         "  --fault KIND[:N]    silence, bad-crc, extra, short, exception, delay,\n"
         "                      late, other-station: the next N replies, or all\n"
         "                      without N\n"
         "  --delay MS          how long the delay fault holds a reply (200); the\n"
         "                      late fault waits MS when given, otherwise 1200 ms\n"
         "                      plus the wire time of request and reply\n"
         "  --paced             a real line's timing both ways: 10 bits a byte at\n"
         "                      the line's rate, a request ends at 3.5 characters\n"
         "                      of silence (bytes sent at once after it spoil it),\n"
         "                      and a request sent during a reply is lost\n"
         "  --turnaround MS     every reply starts MS after the request's last byte\n"
         "                      (paced, no sooner than the 3.5 characters of\n"
         "                      silence that end the request) (0)\n"
         "  --answer-all-bad-crc  test aid: answer every request to any station\n"
         "                      1..255 (at the right line speed only) with a bad\n"
         "                      check, so a search over all addresses never waits\n"
         "                      out a time-out; writes to other stations are not\n"
         "                      carried out\n"
         "  --echo              the line echoes every byte the console sends before\n"
         "                      the reply, as a 2-wire adapter whose receiver stays\n"
         "                      on while it sends\n"
         "  --help              this text\n"
         "\n"
         "Commands on standard input: leak METRES, break [METRES], clear,\n"
         "log N (the log then holds N entries, replacing what it held),\n"
         "fault KIND [N], paced on|off, echo on|off, status, help.\n";
}

}  // namespace sim
