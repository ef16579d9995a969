// SIGINT (Ctrl+C in the terminal), SIGTERM (kill, a shutdown) and SIGHUP (the
// terminal or the session gone) end the console the way closing its window
// does: the dialogs open over the window are closed, innermost first, then
// the window itself, which stops monitoring, a search, a log read or a
// countdown and lets the port and its lock file go; the program then ends
// with exit code 0 as after any close.
//
// The handler does nothing but write the signal's number into a pipe, which
// the event loop watches; everything else runs on the window's thread. A
// second signal of a kind already received (Ctrl+C pressed again while the
// end waits for a probe under way, or the window's thread is stuck) ends the
// process at once, with exit code 128 + the signal's number.
#pragma once

#include <QObject>

class QEvent;
class QSocketNotifier;
class QWidget;

class CSignalEnd : public QObject {
  Q_OBJECT

 public:
  // Catches the three signals for the rest of the process's life; the
  // first call does it, later calls do nothing. A signal ignored when the
  // program started (nohup, a background job) stays ignored. False when the
  // pipe cannot be made: the signals then end the process as they always do.
  static bool CatchSignals();

  // From now until its destruction a signal closes `window` (a dialog shown
  // later, the window included when it is not on screen yet, is closed as
  // soon as it shows).
  explicit CSignalEnd(QWidget& window);
  ~CSignalEnd() override;
  CSignalEnd(const CSignalEnd&) = delete;
  CSignalEnd& operator=(const CSignalEnd&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnSignalled();
  void CloseWindows();

  QWidget& m_window;
  QSocketNotifier* m_pNotifier = nullptr;
  bool m_bEnding = false;
};
