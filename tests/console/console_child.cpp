// The console as the tests that end it with a signal run it, in a process
// of its own: the real application object and window (offscreen) with the
// simulated controller in-process, lock files in a folder of the test's own.
//
//   console_child LOCK_FOLDER ACTIVITY [qd7420 options...]
//
// Once the window is on screen it starts ACTIVITY, "monitoring" (开始检测),
// "search" (搜索参数) or "log" (读取日志), and writes "ready" on standard
// output as soon as the activity runs and holds a lock file in LOCK_FOLDER;
// "box" is monitoring with a message box open over the window.
// "stuck" instead writes "stuck" and then holds the window's thread for a
// minute, as a wedged exchange would. The exit code is the console's.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QStringList>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/CommandLine.h"
#include "app/ConsoleApp.h"
#include "window/ConsoleDlg.h"
#include "app/SignalEnd.h"
#include "port_lock.h"
#include "resource.h"

namespace {

struct Activity {
  const char* name;
  int button;
  bool (*running)(const CConsoleDlg& dlg);
  bool box;  // then a message box over the window
};

bool Monitoring(const CConsoleDlg& dlg) {
  return dlg.GetDlgItemText(IDC_START_DETECTION) == QStringLiteral("停止读取");
}

const Activity kActivities[] = {
    {"monitoring", IDC_START_DETECTION, Monitoring, false},
    {"search", IDC_SEARCH,
     [](const CConsoleDlg& dlg) { return dlg.GetDlgItemText(IDC_SEARCH) == QStringLiteral("停止搜索"); },
     false},
    {"log", IDC_READ_LOG, [](const CConsoleDlg& dlg) { return dlg.IsReadingLog(); }, false},
    {"box", IDC_START_DETECTION, Monitoring, true},
    {"stuck", 0, nullptr, false},
};

bool HoldsLock(const QString& folder) {
  return !QDir(folder).entryList({QStringLiteral("LCK..*")}, QDir::Files).isEmpty();
}

void Say(const char* word) {
  std::printf("%s\n", word);
  std::fflush(stdout);
}

// Looks at the window every 10 ms: starts the activity once it is on screen,
// says "ready" once the activity holds the line.
void Drive(CConsoleApp& app, const Activity& activity, const QString& folder) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [&app, &activity, folder, timer, started = false,
                                              boxed = false]() mutable {
    auto* dlg = qobject_cast<CConsoleDlg*>(app.m_pMainWnd);
    if (!dlg || !dlg->isVisible()) return;
    if (!activity.running) {
      timer->stop();
      Say("stuck");
      for (int i = 0; i < 60; ++i) sleep(1);
      return;
    }
    if (!started) {
      started = true;
      if (auto* button = qobject_cast<QAbstractButton*>(dlg->GetDlgItem(activity.button)))
        button->click();
      return;
    }
    if (!activity.running(*dlg) || !HoldsLock(folder)) return;
    if (activity.box && !boxed) {
      boxed = true;  // its own event loop goes on running this timer
      QTimer::singleShot(0, dlg, [dlg] { dlg->WindowMessage(QStringLiteral("读取失败!")); });
      return;
    }
    if (activity.box && QApplication::activeModalWidget() == dlg) return;
    timer->stop();
    Say("ready");
  });
  timer->start(10);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fputs("usage: console_child LOCK_FOLDER ACTIVITY [qd7420 options...]\n", stderr);
    return 2;
  }
  CSignalEnd::CatchSignals();
  const QString folder = QString::fromLocal8Bit(argv[1]);
  SetLockFolders({argv[1]});
  const Activity* activity = nullptr;
  for (const Activity& a : kActivities)
    if (std::strcmp(a.name, argv[2]) == 0) activity = &a;
  if (!activity) return 2;

  QStringList arguments{QStringLiteral("qd7420")};
  for (int i = 3; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  CommandLine commandLine = ParseCommandLine(arguments);
  if (!commandLine.run) return commandLine.exitCode;

  QApplication application(argc, argv);
  CConsoleApp app(std::move(commandLine));
  Drive(app, *activity, folder);
  app.InitInstance();
  return app.ExitCode();
}
