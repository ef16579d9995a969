#include "command_interpreter.h"

#include <cstdio>
#include <iterator>
#include <sstream>

#include "command_line.h"
#include "registers.h"

namespace sim {
namespace {

struct Command {
  const char* name;
  size_t minArgs, maxArgs;
  std::string (CommandInterpreter::*run)(const std::vector<std::string>&);
};

std::string Metres(double m) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f m", m);
  return text;
}

}  // namespace

std::string CommandInterpreter::Execute(const std::string& line) {
  static const Command kCommands[] = {
      {"leak", 1, 1, &CommandInterpreter::Leak},
      {"break", 0, 1, &CommandInterpreter::Break},
      {"clear", 0, 0, &CommandInterpreter::Clear},
      {"log", 1, 1, &CommandInterpreter::Log},
      {"fault", 1, 3, &CommandInterpreter::InjectFault},
      {"paced", 1, 1, &CommandInterpreter::Paced},
      {"echo", 1, 1, &CommandInterpreter::Echo},
      {"status", 0, 0, &CommandInterpreter::Status},
      {"help", 0, 0, &CommandInterpreter::Help},
  };
  std::istringstream in(line);
  std::string name;
  in >> name;
  Args args{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
  if (name.empty()) return "?";
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    if (args.size() < c.minArgs || args.size() > c.maxArgs) return "error: wrong arguments";
    return (this->*c.run)(args);
  }
  return "error: unknown command " + name + " (try help)";
}

std::string CommandInterpreter::Leak(const Args& args) {
  double m = 0;
  if (!ParseMetres(args[0], m)) return "error: position must be 0..655.35 metres";
  server_.Device().SetScenario(Scenario::Leak, m);
  return "leak at " + Metres(m);
}

std::string CommandInterpreter::Break(const Args& args) {
  double m = 0;
  if (!args.empty() && !ParseMetres(args[0], m)) {
    return "error: position must be 0..655.35 metres";
  }
  server_.Device().SetScenario(Scenario::Broken, m);
  return "broken cable at " + Metres(m);
}

std::string CommandInterpreter::Clear(const Args&) {
  server_.Device().SetScenario(Scenario::NoAlarm);
  return "no alarm";
}

std::string CommandInterpreter::Log(const Args& args) {
  long n = 0;
  if (!ParseInt(args[0], 0, 65535, n)) return "error: log N, N 0..65535";
  server_.Device().FillLog(static_cast<size_t>(n));
  return "log holds " + std::to_string(server_.Device().LogCount()) + " entries";
}

std::string CommandInterpreter::InjectFault(const Args& args) {
  // fault KIND [COUNT] [DELAY_MS]
  Fault fault = Fault::None;
  int count = -1;
  long n = -1, delay = 0;
  if (!ParseFault(args[0], fault, count)) return "error: unknown fault " + args[0];
  if (args.size() > 1 && !ParseInt(args[1], 1, 1000000, n)) return "error: bad count";
  if (args.size() > 2 && !ParseInt(args[2], 0, 60000, delay)) return "error: bad delay";
  if (args.size() > 1) count = static_cast<int>(n);
  if (fault == Fault::Delay && args.size() < 3) delay = 200;
  server_.InjectFault(fault, count, static_cast<int>(delay));
  if (fault == Fault::None) return "no faults";
  return std::string("fault ") + FaultName(fault) +
         (count < 0 ? " on every reply" : " on the next " + std::to_string(count));
}

std::string CommandInterpreter::Paced(const Args& args) {
  if (args[0] != "on" && args[0] != "off") return "error: paced on|off";
  server_.SetPacing(args[0] == "on");
  return "pacing " + args[0];
}

std::string CommandInterpreter::Echo(const Args& args) {
  if (args[0] != "on" && args[0] != "off") return "error: echo on|off";
  server_.SetEcho(args[0] == "on");
  return "echo " + args[0];
}

std::string CommandInterpreter::Status(const Args&) {
  Controller& d = server_.Device();
  std::ostringstream out;
  out << "address " << int{d.Address()} << ", baud " << d.Baud() << " (line "
      << server_.LineBaud() << "), " << ScenarioName(d.CurrentScenario());
  if (d.CurrentScenario() != Scenario::NoAlarm) {
    out << " at " << Metres(d.Register(REG_LEAK_POSITION) / 100.0);
  }
  out << ", mode " << d.Register(REG_WORK_MODE) << ", log " << d.LogCount()
      << " entries, " << server_.Requests().size() << " requests"
      << (server_.Echo() ? ", echo on" : "");
  for (size_t i = 1; i < server_.StationCount(); ++i) {
    const Controller& station = server_.Station(i);
    out << (i == 1 ? ", stations " : " ") << int{station.Address()} << '@' << station.Baud();
  }
  return out.str();
}

std::string CommandInterpreter::Help(const Args&) {
  return "leak METRES | break [METRES] | clear | log N (holds N entries) | "
         "fault KIND [N [MS]] | paced on|off | echo on|off | status";
}

}  // namespace sim
