#include "app/DisplayCheck.h"

#include <QMessageLogContext>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "app/AppInfo.h"

namespace {

std::string Sentence(const std::string& missing) {
  return "qd7420: " + missing +
         ": start it in a desktop session (or over 'ssh -X'); to look at it without a display, "
         "run scripts/screenshot.sh, which takes a picture of 'qd7420 --simulate' on a private "
         "Xvfb.\n";
}

// "-platform NAME" or "--platform NAME", as Qt reads it, else QT_QPA_PLATFORM.
QString PlatformName(const QStringList& arguments, const EnvironmentReader& env) {
  for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("-platform") || arguments[i] == QLatin1String("--platform"))
      return arguments[i + 1];
  }
  return QString::fromLocal8Bit(env("QT_QPA_PLATFORM"));
}

// What the guard's handler needs while Qt starts.
struct GuardState {
  QtMessageHandler previous = nullptr;
  std::string sentence;
  struct Held {
    QtMsgType type;
    std::string category;
    QString text;
  };
  std::vector<Held> held;
};
GuardState* g_guard = nullptr;

void GuardHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    std::fputs(g_guard->sentence.c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(kExitNoDisplay);
  }
  const char* category = context.category ? context.category : "";
  if (std::strncmp(category, "qt.qpa", 6) == 0) {
    g_guard->held.push_back({type, category, text});
    return;
  }
  if (g_guard->previous) g_guard->previous(type, context, text);
}

}  // namespace

std::string MissingDisplay(const QStringList& arguments, const EnvironmentReader& env) {
  const QString platform = PlatformName(arguments, env);
  const bool x11 = platform == QLatin1String("xcb");
  if (!platform.isEmpty() && !x11) return {};
  if (!env("DISPLAY").isEmpty()) return {};
  if (x11) return Sentence("no display to open the window on (DISPLAY is not set)");
  if (!env("WAYLAND_DISPLAY").isEmpty()) return {};
  return Sentence("no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

CDisplayGuard::CDisplayGuard(const EnvironmentReader& env) {
  g_guard = new GuardState;
  const QByteArray display = env("DISPLAY");
  g_guard->sentence =
      display.isEmpty()
          ? Sentence("no window system could be started here")
          : Sentence("the display '" + display.toStdString() + "' named by DISPLAY cannot be opened");
  g_guard->previous = qInstallMessageHandler(GuardHandler);
}

CDisplayGuard::~CDisplayGuard() {
  qInstallMessageHandler(g_guard->previous);
  for (const GuardState::Held& held : g_guard->held) {
    const QMessageLogContext context(nullptr, 0, nullptr, held.category.c_str());
    if (g_guard->previous)
      g_guard->previous(held.type, context, held.text);
    else
      std::fprintf(stderr, "%s: %s\n", held.category.c_str(), qPrintable(held.text));
  }
  delete g_guard;
  g_guard = nullptr;
}
