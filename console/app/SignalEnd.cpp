#include "app/SignalEnd.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMetaObject>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "traffic/Trace.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the handler, read by the event loop; made once, never closed
// (a handler may run until the very end of the process).
int g_pipe[2] = {-1, -1};
// Which kinds have come; lock-free, so the handler may touch them.
std::atomic<bool> g_received[NSIG];
static_assert(std::atomic<bool>::is_always_lock_free);

// Async-signal-safe calls only: write, _exit, and the lock-free atomics.
void OnSignal(int signo) {
  if (g_received[signo].exchange(true)) _exit(128 + signo);
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signo);
  (void)!write(g_pipe[1], &number, 1);
  errno = saved;
}

bool MakePipe() {
  return pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

void Catch(int signo) {
  struct sigaction old {};
  if (sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int other : kSignals) sigaddset(&action.sa_mask, other);
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

std::string SignalName(int signo) {
  const char* name = sigabbrev_np(signo);
  return name ? std::string("SIG") + name : std::to_string(signo);
}

}  // namespace

bool CSignalEnd::CatchSignals() {
  static const bool caught = [] {
    if (!MakePipe()) return false;
    for (int signo : kSignals) Catch(signo);
    return true;
  }();
  return caught;
}

CSignalEnd::CSignalEnd(QWidget& window) : m_window(window) {
  if (!CatchSignals()) return;
  // A signal that came before is still in the pipe: the notifier reports it
  // as soon as the event loop runs.
  m_pNotifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(m_pNotifier, &QSocketNotifier::activated, this, &CSignalEnd::OnSignalled);
}

CSignalEnd::~CSignalEnd() {
  if (m_bEnding) qApp->removeEventFilter(this);
}

void CSignalEnd::OnSignalled() {
  unsigned char numbers[16];
  const ssize_t n = read(g_pipe[0], numbers, sizeof numbers);
  for (ssize_t i = 0; i < n; ++i)
    TraceNote(SignalName(numbers[i]) + " received: closing the window");
  if (n <= 0 || m_bEnding) return;
  m_bEnding = true;
  qApp->installEventFilter(this);
  CloseWindows();
}

// As the operator would: the innermost dialog first (a message box, the
// countdown, the access code), each as by its close box, then the window.
void CSignalEnd::CloseWindows() {
  QWidget* last = nullptr;
  while (QWidget* modal = QApplication::activeModalWidget()) {
    if (modal == &m_window || modal == last) break;  // one that will not close stays
    last = modal;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
  }
  m_window.close();
}

// A dialog that shows once the end has begun (a box the code after a closed
// one puts up, or the window itself before it was first on screen) is
// closed as soon as its own event loop runs.
bool CSignalEnd::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) {
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (dialog && dialog->isWindow())
      QMetaObject::invokeMethod(dialog, [dialog] { dialog->reject(); }, Qt::QueuedConnection);
  }
  return QObject::eventFilter(watched, event);
}
