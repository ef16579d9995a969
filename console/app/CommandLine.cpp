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

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // "-platform offscreen" as Qt writes it; "-h" still means help.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(QStringLiteral(
      "Operator console of the QD7420 water-leak detection controller (Modbus RTU)."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                QStringLiteral("Show this help and end."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and end."));
  const QCommandLineOption port(
      QStringLiteral("port"),
      QStringLiteral("Com<N> (1 to 9) talks to the device <PATH>, or over the network "
                     "to tcp://HOST:PORT (raw) or rfc2217://HOST:PORT; repeatable. "
                     "Without it ComN is /dev/ttyS<N-1>."),
      QStringLiteral("N=PATH"));
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Start a simulated controller on a pseudo-terminal and point Com1 at it "
                     "(--port may still move Com2 to Com9)."));
  const QCommandLineOption trace(
      QStringLiteral("trace"), QStringLiteral("Write every exchange to standard error."));
  parser.addOptions({help, version, port, simulate, trace});
  parser.addOptions({
      {QStringLiteral("sim-address"), QStringLiteral("Station address of the simulator (1)."),
       QStringLiteral("N")},
      {QStringLiteral("sim-baud"), QStringLiteral("Baud rate of the simulator (9600)."),
       QStringLiteral("B")},
      {QStringLiteral("sim-scenario"),
       QStringLiteral("Cable state: none, leak:METRES or broken (none)."),
       QStringLiteral("SCENARIO")},
      {QStringLiteral("sim-log"), QStringLiteral("Alarm-log entries the simulator starts with (0)."),
       QStringLiteral("N")},
      {QStringLiteral("sim-turnaround"),
       QStringLiteral("The simulator starts each reply MS after the request's end (0)."),
       QStringLiteral("MS")},
  });
  const QCommandLineOption quickSearch(
      QStringLiteral("quick-search"),
      QStringLiteral("Start with the quick parameter search on (\"快速搜索\" in the search's "
                     "context menu)."));
  const QCommandLineOption searchTurnaround(
      QStringLiteral("search-turnaround"),
      QStringLiteral("How long a controller may take to begin its reply in the quick search, "
                     "10 to 1000 ms (50)."),
      QStringLiteral("MS"));
  parser.addOptions({quickSearch, searchTurnaround});

  AddQtOptions(parser);

  if (!parser.parse(arguments)) return Failed(parser.errorText());
  CommandLine result;
  if (parser.isSet(help)) {
    result.run = false;
    // Parsed before the application object exists, which would name the program.
    result.output = parser.helpText()
                        .replace(QLatin1String("<executable_name>"), QLatin1String("qd7420"))
                        .toStdString() +
                    ExitStatusHelp();
    return result;
  }
  if (parser.isSet(version)) {
    result.run = false;
    result.output = std::string(kApplicationName) + ' ' + kApplicationVersion + '\n';
    return result;
  }
  if (!parser.positionalArguments().isEmpty())
    return Failed("unexpected argument " + parser.positionalArguments().first());

  for (const QString& value : parser.values(port)) {
    std::pair<int, std::string> mapping;
    if (!ParsePort(value, mapping)) return Failed("--port takes N=PATH with N from 1 to 9 and PATH a device, "
                    "tcp://HOST:PORT or rfc2217://HOST:PORT, not " + value);
    result.ports.push_back(mapping);
  }
  result.simulate = parser.isSet(simulate);
  result.trace = parser.isSet(trace);
  result.quickSearch = parser.isSet(quickSearch);
  if (parser.isSet(searchTurnaround) &&
      !ToInt(parser.value(searchTurnaround), static_cast<int>(kMinSearchTurnaroundMs),
             static_cast<int>(kMaxSearchTurnaroundMs),
             result.searchTurnaroundMs))
    return Failed(QStringLiteral("--search-turnaround takes 10 to 1000 (ms)"));
  // Both would name Com1's device; the simulator would win without a word.
  for (const auto& [number, path] : result.ports) {
    if (result.simulate && number == 1)
      return Failed("--simulate puts the simulated controller on Com1, so --port 1=" +
                    QString::fromStdString(path) + " cannot go with it (--port 2= to 9= can)");
  }
  const QString error = ParseSimOptions(parser, result);
  if (!error.isEmpty()) return Failed(error);
  return result;
}
