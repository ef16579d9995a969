// Where no window can be opened (a server, a container, ssh without -X), Qt
// ends the program with an abort and the advice to reinstall it. The console
// says instead, in one sentence on standard error, what is missing and how to
// look at it without a display, and ends with kExitNoDisplay (AppInfo.h).
#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <string>

using EnvironmentReader = std::function<QByteArray(const char* name)>;

// Before the application object exists: the sentence when the window system
// Qt will use needs a display and none is named; empty to go on. Platforms
// other than X11 and Wayland (offscreen, vnc...) are Qt's to judge.
std::string MissingDisplay(const QStringList& arguments, const EnvironmentReader& env);

// Held while the application object is constructed: Qt's fatal "no platform
// plugin could be initialized" becomes that sentence and the exit code, and
// Qt's window-system warnings of that moment are held back (passed on once
// the construction has succeeded).
class CDisplayGuard {
 public:
  explicit CDisplayGuard(const EnvironmentReader& env);
  ~CDisplayGuard();
  CDisplayGuard(const CDisplayGuard&) = delete;
  CDisplayGuard& operator=(const CDisplayGuard&) = delete;
};
