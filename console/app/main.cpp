// qd7420: the operator console of the QD7420 water-leak detection controller.
#include <QApplication>
#include <QFont>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <string>

#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "app/ConsoleApp.h"
#include "app/DisplayCheck.h"
#include "app/SignalEnd.h"
#include "app/Translations.h"

int main(int argc, char* argv[]) {
  // Parsed before the GUI starts, so --help, --version and a mistyped option
  // answer on a machine without a display too.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  CommandLine commandLine = ParseCommandLine(arguments);
  std::fputs(commandLine.output.c_str(), stdout);
  std::fputs(commandLine.error.c_str(), stderr);
  if (!commandLine.run) return commandLine.exitCode;
  // From here on a signal ends the program through its window (SignalEnd.h).
  CSignalEnd::CatchSignals();

  const EnvironmentReader env = [](const char* name) { return qgetenv(name); };
  const std::string missing = MissingDisplay(arguments, env);
  if (!missing.empty()) {
    std::fputs(missing.c_str(), stderr);
    return kExitNoDisplay;
  }
  auto guard = std::make_unique<CDisplayGuard>(env);
  QApplication application(argc, argv);
  guard.reset();
  InstallQtTranslations();
  QApplication::setApplicationName(QString::fromUtf8(kApplicationName));
  QApplication::setApplicationVersion(QString::fromUtf8(kApplicationVersion));
  // The dialogs ask for 宋体 9 pt; on Linux a CJK font of the system stands in.
  QFont::insertSubstitutions(QStringLiteral("宋体"),
                             {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                              QStringLiteral("Noto Sans CJK SC")});
  CConsoleApp theApp(std::move(commandLine));
  theApp.InitInstance();
  return theApp.ExitCode();
}
