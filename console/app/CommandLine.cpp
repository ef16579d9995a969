#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "app/AppInfo.h"
#include "search/SearchPlan.h"
#include "command_line.h"
#include "pty_server.h"
#include "remote_line.h"

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 9;
constexpr int kLineRates[] = {1200, 2400, 4800, 9600, 19200, 38400};
constexpr int kMaxPrefilledLog = static_cast<int>(sim::kMaxLogEntries);  // the simulator's

std::string ExitStatusHelp() {
  const std::pair<int, const char*> kRows[] = {
      {kExitOk, "the window was closed"},
      {kExitSimulatorFailed, "--simulate: the simulated controller did not start"},
      {kExitUsage, "a wrong command line"},
      {kExitNoDisplay, "no display to open the window on"},
  };
  std::string text = "\nExit status:\n";
  for (const auto& [code, meaning] : kRows) text += "  " + std::to_string(code) + "  " + meaning + '\n';
  return text;
}

CommandLine Failed(const QString& message) {
  CommandLine result;
  result.run = false;
  result.exitCode = kExitUsage;
  result.error = "qd7420: " + message.toStdString() + "\n(see qd7420 --help)\n";
  return result;
}

bool ToInt(const QString& text, int low, int high, int& out) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < low || value > high) return false;
  out = value;
  return true;
}

// "N=PATH", N from 1 to 9, PATH not empty; a PATH with "://" must be a
// remote line the link knows (a typo there would otherwise be taken for a
// device name and fail only at the first command).
bool ParsePort(const QString& text, std::pair<int, std::string>& out) {
  const qsizetype equals = text.indexOf(QLatin1Char('='));
  if (equals < 0 || equals + 1 == text.size()) return false;
  if (!ToInt(text.left(equals), kFirstPort, kLastPort, out.first)) return false;
  out.second = text.mid(equals + 1).toStdString();
  return out.second.find("://") == std::string::npos || IsRemotePath(out.second);
}

// "none", "broken" or "leak:METRES": the simulator's own scenario names and
// metre range, with the leak position after a colon.
bool ParseScenario(const QString& text, sim::ControllerOptions& sim) {
  const std::string value = text.toStdString();
  const size_t colon = value.find(':');
  sim::Scenario scenario{};
  if (!sim::ParseScenario(value.substr(0, colon), scenario)) return false;
  const bool isLeak = scenario == sim::Scenario::Leak;
  if (isLeak != (colon != std::string::npos)) return false;
  if (isLeak && !sim::ParseMetres(value.substr(colon + 1), sim.leakPositionM)) return false;
  sim.scenario = scenario;
  return true;
}

bool IsLineRate(int baud) {
  return std::find(std::begin(kLineRates), std::end(kLineRates), baud) != std::end(kLineRates);
}

// The simulator's numeric options: one row each.
struct SimIntOption {
  const char* name;
  int low, high;
  bool lineRate;  // the value must also be one of the line's baud rates
  const char* complaint;
  void (*apply)(CommandLine&, int);
};

const SimIntOption kSimIntOptions[] = {
    {"sim-address", 1, 255, false, "--sim-address takes 1 to 255",
     [](CommandLine& c, int v) { c.sim.address = static_cast<uint8_t>(v); }},
    {"sim-baud", 1200, 38400, true, "--sim-baud takes 1200, 2400, 4800, 9600, 19200 or 38400",
     [](CommandLine& c, int v) { c.sim.baud = v; }},
    {"sim-log", 0, kMaxPrefilledLog, false, "--sim-log takes 0 to 65535",
     [](CommandLine& c, int v) { c.sim.prefillLog = v; }},
    {"sim-turnaround", 0, sim::kMaxTurnaroundMs, false, "--sim-turnaround takes 0 to 60000 (ms)",
     [](CommandLine& c, int v) { c.simTurnaroundMs = v; }},
};

// Empty on success, else what is wrong.
QString ParseSimOptions(const QCommandLineParser& parser, CommandLine& result) {
  bool anySimOption = false;
  for (const SimIntOption& option : kSimIntOptions) {
    const QString name = QLatin1String(option.name);
    if (!parser.isSet(name)) continue;
    anySimOption = true;
    int value = 0;
    if (!ToInt(parser.value(name), option.low, option.high, value) ||
        (option.lineRate && !IsLineRate(value)))
      return QLatin1String(option.complaint);
    option.apply(result, value);
  }
  const QString scenario = QStringLiteral("sim-scenario");
  if (parser.isSet(scenario)) {
    anySimOption = true;
    if (!ParseScenario(parser.value(scenario), result.sim))
      return QStringLiteral("--sim-scenario takes none, broken or leak:METRES (0 to 655.35)");
  }
  if (parser.isSet(QStringLiteral("sim-echo"))) {
    anySimOption = true;
    result.simEcho = true;
  }
  // After --sim-baud: a station without a rate takes the simulator's.
  for (const QString& value : parser.values(QStringLiteral("sim-station"))) {
    anySimOption = true;
    sim::ControllerOptions station;
    if (!sim::ParseStation(value.toStdString(), result.sim.baud, station))
      return "--sim-station takes ADDRESS[:BAUD], ADDRESS 1 to 255 and BAUD one of 1200, 2400, "
             "4800, 9600, 19200 or 38400, not " + value;
    result.simStations.push_back(station);
  }
  if (anySimOption && !result.simulate) return QStringLiteral("the --sim-... options need --simulate");
  return {};
}

// Qt's own options: QApplication takes them out of argv after this parse,
// so they are known here only to be let through.
struct QtOption {
  const char* name;
  bool takesValue;
};
const QtOption kQtOptions[] = {
    {"platform", true},  {"platformpluginpath", true}, {"platformtheme", true},
    {"plugin", true},    {"qwindowgeometry", true},    {"geometry", true},
    {"qwindowicon", true}, {"icon", true},             {"qwindowtitle", true},
    {"title", true},     {"display", true},            {"name", true},
    {"style", true},     {"stylesheet", true},         {"session", true},
    {"reverse", false},  {"widgetcount", false},       {"nograb", false},
    {"dograb", false},   {"sync", false},
};

void AddQtOptions(QCommandLineParser& parser) {
  for (const QtOption& qt : kQtOptions) {
    QCommandLineOption option(QLatin1String(qt.name));
    if (qt.takesValue) option.setValueName(QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
}

// The console's own options, one row each, in the order --help lists them.
// A row without a value name is a switch.
struct OptionRow {
  QStringList names;
  const char* description;
  const char* valueName;
};

const OptionRow kOptionRows[] = {
    {{"h", "help", "?"}, "Show this help and end.", nullptr},
    {{"v", "version"}, "Show the version and end.", nullptr},
    {{"port"},
     "Com<N> (1 to 9) talks to the device <PATH>, or over the network to tcp://HOST:PORT (raw) "
     "or rfc2217://HOST:PORT; repeatable. Without it ComN is /dev/ttyS<N-1>.",
     "N=PATH"},
    {{"simulate"},
     "Start a simulated controller on a pseudo-terminal and point Com1 at it (--port may still "
     "move Com2 to Com9).",
     nullptr},
    {{"trace"}, "Write every exchange to standard error.", nullptr},
    {{"sim-address"}, "Station address of the simulator (1).", "N"},
    {{"sim-baud"}, "Baud rate of the simulator (9600).", "B"},
    {{"sim-scenario"}, "Cable state: none, leak:METRES or broken (none).", "SCENARIO"},
    {{"sim-log"}, "Alarm-log entries the simulator starts with (0).", "N"},
    {{"sim-turnaround"}, "The simulator starts each reply MS after the request's end (0).", "MS"},
    {{"sim-echo"},
     "The simulator's line echoes every request before the reply, as an adapter whose receiver "
     "stays on while it sends.",
     nullptr},
    {{"sim-station"},
     "Another simulated controller on the same line, at station ADDRESS (and rate BAUD, else the "
     "simulator's), for a bus of several; repeatable.",
     "ADDRESS[:BAUD]"},
    {{"rs485"},
     "Open Com<N> (1 to 9) in the kernel's RS-485 mode, RTS raised while sending, for UARTs "
     "wired to an RS-485 transceiver; repeatable. USB adapters that switch by themselves need "
     "nothing.",
     "N"},
    {{"rs485-delay"}, "RTS raised BEFORE ms before sending and held AFTER ms after (0,0).",
     "BEFORE,AFTER"},
    {{"echo"},
     "Whether the line's adapter echoes every request: auto (learned from the line), on or off "
     "(auto).",
     "MODE"},
    {{"quick-search"},
     "Start with the quick parameter search on (\"快速搜索\" in the search's context menu).",
     nullptr},
    {{"search-all"},
     "Start with the survey on (\"搜索全部\" in the search's context menu): the parameter search "
     "goes on over every ticked rate and all 255 addresses and lists every controller that "
     "answers.",
     nullptr},
    {{"search-turnaround"},
     "How long a controller may take to begin its reply in the quick search, 10 to 1000 ms (50).",
     "MS"},
    {{"no-settings"},
     "Start from the defaults and remember nothing of this run (the console otherwise keeps its "
     "line, search choices and window places in $XDG_CONFIG_HOME/qd7420/qd7420.ini).",
     nullptr},
};

void AddOptions(QCommandLineParser& parser) {
  // "-platform offscreen" as Qt writes it; "-h" still means help.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(QStringLiteral(
      "Operator console of the QD7420 water-leak detection controller (Modbus RTU)."));
  for (const OptionRow& row : kOptionRows) {
    QCommandLineOption option(row.names, QString::fromUtf8(row.description));
    if (row.valueName) option.setValueName(QLatin1String(row.valueName));
    parser.addOption(option);
  }
  AddQtOptions(parser);
}

// --help and --version: the text to print, or nothing to print.
bool AnswerAndEnd(const QCommandLineParser& parser, CommandLine& result) {
  if (parser.isSet(QStringLiteral("help"))) {
    // Parsed before the application object exists, which would name the program.
    result.output = parser.helpText()
                        .replace(QLatin1String("<executable_name>"), QLatin1String("qd7420"))
                        .toStdString() +
                    ExitStatusHelp();
  } else if (parser.isSet(QStringLiteral("version"))) {
    result.output = std::string(kApplicationName) + ' ' + kApplicationVersion + '\n';
  } else {
    return false;
  }
  result.run = false;
  return true;
}

// Empty on success, else what is wrong.
QString ParsePorts(const QCommandLineParser& parser, CommandLine& result) {
  for (const QString& value : parser.values(QStringLiteral("port"))) {
    std::pair<int, std::string> mapping;
    if (!ParsePort(value, mapping))
      return "--port takes N=PATH with N from 1 to 9 and PATH a device, "
             "tcp://HOST:PORT or rfc2217://HOST:PORT, not " + value;
    // Both would name Com1's device; the simulator would win without a word.
    if (result.simulate && mapping.first == 1)
      return "--simulate puts the simulated controller on Com1, so --port 1=" +
             QString::fromStdString(mapping.second) + " cannot go with it (--port 2= to 9= can)";
    result.ports.push_back(mapping);
  }
  return {};
}

QString ParseSearchOptions(const QCommandLineParser& parser, CommandLine& result) {
  result.quickSearch = parser.isSet(QStringLiteral("quick-search"));
  result.searchAll = parser.isSet(QStringLiteral("search-all"));
  const QString turnaround = QStringLiteral("search-turnaround");
  result.searchTurnaroundGiven = parser.isSet(turnaround);
  if (result.searchTurnaroundGiven &&
      !ToInt(parser.value(turnaround), static_cast<int>(kMinSearchTurnaroundMs),
             static_cast<int>(kMaxSearchTurnaroundMs), result.searchTurnaroundMs))
    return QStringLiteral("--search-turnaround takes 10 to 1000 (ms)");
  return {};
}

// --rs485, --rs485-delay and --echo: how the line itself behaves.
QString ParseLineOptions(const QCommandLineParser& parser, CommandLine& result) {
  for (const QString& value : parser.values(QStringLiteral("rs485"))) {
    int number = 0;
    if (!ToInt(value, kFirstPort, kLastPort, number)) return "--rs485 takes 1 to 9, not " + value;
    result.rs485Ports.push_back(number);
  }
  const QString delay = QStringLiteral("rs485-delay");
  if (parser.isSet(delay)) {
    const QStringList parts = parser.value(delay).split(QLatin1Char(','));
    int before = 0, after = 0;
    if (parts.size() != 2 || !ToInt(parts[0], 0, 1000, before) || !ToInt(parts[1], 0, 1000, after))
      return QStringLiteral("--rs485-delay takes BEFORE,AFTER in ms, each 0 to 1000");
    result.rs485BeforeMs = static_cast<uint32_t>(before);
    result.rs485AfterMs = static_cast<uint32_t>(after);
  }
  const QString echo = QStringLiteral("echo");
  if (parser.isSet(echo) && !ParseEchoMode(parser.value(echo).toStdString(), result.echo))
    return QStringLiteral("--echo takes auto, on or off");
  return {};
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  AddOptions(parser);
  if (!parser.parse(arguments)) return Failed(parser.errorText());
  CommandLine result;
  if (AnswerAndEnd(parser, result)) return result;
  if (!parser.positionalArguments().isEmpty())
    return Failed("unexpected argument " + parser.positionalArguments().first());
  result.simulate = parser.isSet(QStringLiteral("simulate"));
  result.trace = parser.isSet(QStringLiteral("trace"));
  result.noSettings = parser.isSet(QStringLiteral("no-settings"));
  // Each step: empty when its options are right, else what is wrong.
  for (auto step : {ParsePorts, ParseLineOptions, ParseSearchOptions, ParseSimOptions}) {
    const QString error = step(parser, result);
    if (!error.isEmpty()) return Failed(error);
  }
  return result;
}
