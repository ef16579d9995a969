// The alarm-log read of the real main window ("读取日志", offscreen) against
// the simulated controller pacing its bytes at the line's speed, timed from
// the click to the last row listed and set against the wire time of the
// same frames (10 bits a byte: the count read, then every request and its
// reply) plus the 50 ms pause before each page. Also the longest the window
// went without turning its event loop (no painting), set against the wire
// time of the longest single exchange. The time is also split into the
// exchanges' own (request written to reply read, as the link measures it)
// and the console's (the rest, less the pauses): a loaded machine slows the
// first, the console's work between pages shows in the second.
//
//   bench_log_read [--trace] [--case ENTRIES:BAUD]...   (default: the five below)
//
// --trace prints every exchange on standard error.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "window/ConsoleDlg.h"
#include "alarmlog/LogPages.h"
#include "dialog/MessageService.h"
#include "traffic/Trace.h"
#include "exchange.h"
#include "pty_server.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

struct Case {
  int entries;
  int baud;
};

const Case kDefaultCases[] = {{24, 1200}, {480, 1200}, {24, 9600}, {480, 9600}, {13128, 38400}};

constexpr double kBitsPerByte = 10;
constexpr double kPageGapMs = 50;

// Counts the boxes instead of showing them: a bench must not block.
class CountingMessages : public CMessageService {
 public:
  void Show(QWidget*, const QString& text) override {
    ++count;
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  }
  int count = 0;
};

// Every exchange's round trip, and its trace line with --trace.
bool g_trace = false;
double g_exchangeMs = 0;

void OnExchange(const TraceRecord& record) {
  g_exchangeMs += record.roundTripMs;
  if (g_trace) std::fprintf(stderr, "%s\n", FormatTraceRecord(record).c_str());
}

struct Result {
  double ms = 0;
  double exchangeMs = 0;
  double wireMs = 0;
  double pausesMs = 0;
  double longestStallMs = 0;
  double longestExchangeWireMs = 0;
  int rows = 0;
};

double WireMs(size_t bytes, int baud) { return bytes * kBitsPerByte * 1000.0 / baud; }

void Expectation(const Case& c, Result& r) {
  const LogReadPlan plan = PlanLogRead(c.entries);
  r.wireMs = WireMs(8 + ReadReplyLength(1), c.baud);
  for (const LogPage& page : plan.pages) {
    const double exchange = WireMs(12 + FileRecordReplyLength(page.entries), c.baud);
    r.wireMs += exchange;
    r.longestExchangeWireMs = std::max(r.longestExchangeWireMs, exchange);
  }
  r.pausesMs = plan.paged ? kPageGapMs * static_cast<double>(plan.pages.size()) : 0;
}

int BaudIndex(int baud) {
  const int rates[] = {1200, 2400, 4800, 9600, 19200, 38400};
  for (int i = 0; i < 6; ++i)
    if (rates[i] == baud) return i;
  return -1;
}

bool Run(const Case& c, Result& r) {
  sim::ControllerOptions options;
  options.baud = c.baud;
  options.logCapacity = 65535;
  options.prefillLog = c.entries;
  sim::PtyServer server(options);
  if (!server.Start()) return false;
  server.SetPacing(true);
  SetPortPath(1, server.DevicePath());
  Expectation(c, r);

  CConsoleDlg dlg;
  bool ok = false;
  QTimer::singleShot(0, &dlg, [&] {
    // The window's first painting is no part of the read.
    if (!QTest::qWaitForWindowExposed(&dlg)) return dlg.reject();
    QTest::qWait(100);
    dlg.SetComboSel(IDC_BAUD, BaudIndex(c.baud));
    auto* list = qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_ALARM_LIST));
    auto* button = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_READ_LOG));
    // A fast ticker: the longest gap between its ticks is the longest the
    // window's loop stood still.
    QElapsedTimer sinceTick;
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      r.longestStallMs = std::max(r.longestStallMs, sinceTick.nsecsElapsed() / 1e6);
      sinceTick.start();
      if (!dlg.IsReadingLog()) loop.quit();
    });
    sinceTick.start();
    ticker.start(1);
    QElapsedTimer clock;
    g_exchangeMs = 0;
    clock.start();
    button->click();  // up to 24 entries: the whole read happens in here
    loop.exec();
    r.ms = clock.nsecsElapsed() / 1e6;
    r.exchangeMs = g_exchangeMs;
    r.rows = list->topLevelItemCount();
    ok = r.rows == c.entries;
    dlg.reject();
  });
  dlg.DoModal();
  return ok;
}

std::vector<Case> ParseCases(int argc, char** argv) {
  std::vector<Case> cases;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trace") == 0) {
      g_trace = true;
      continue;
    }
    Case c{};
    if (std::strcmp(argv[i], "--case") == 0 && i + 1 < argc &&
        std::sscanf(argv[++i], "%d:%d", &c.entries, &c.baud) == 2 && BaudIndex(c.baud) >= 0 &&
        c.entries >= 0) {
      cases.push_back(c);
      continue;
    }
    std::fprintf(stderr, "usage: %s [--trace] [--case ENTRIES:BAUD]...\n", argv[0]);
    std::exit(2);
  }
  if (cases.empty()) cases.assign(std::begin(kDefaultCases), std::end(kDefaultCases));
  return cases;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::vector<Case> cases = ParseCases(argc, argv);
  CountingMessages messages;
  InstallMessageService(&messages);
  SetTraceHook(OnExchange);

  std::printf("%7s %6s %10s %10s %9s %10s %7s %8s %10s %10s %9s %10s\n", "entries", "baud",
              "read ms", "wire ms", "pauses", "target ms", "ratio", "result", "exchanges",
              "console", "stall ms", "exch wire");
  int failures = 0;
  for (const Case& c : cases) {
    Result r;
    const bool ok = Run(c, r);
    const double target = 1.1 * r.wireMs + r.pausesMs;
    // The read against the wire time alone, once the deliberate pauses are off.
    const double ratio = (r.ms - r.pausesMs) / r.wireMs;
    const bool met = ok && r.ms <= target;
    failures += met ? 0 : 1;
    std::printf("%7d %6d %10.1f %10.1f %9.0f %10.1f %7.3f %8s %10.1f %10.1f %9.1f %10.1f\n",
                c.entries, c.baud, r.ms, r.wireMs, r.pausesMs, target, ratio,
                !ok ? "FAILED" : met ? "ok" : "slow", r.exchangeMs, r.ms - r.exchangeMs - r.pausesMs,
                r.longestStallMs, r.longestExchangeWireMs);
    std::fflush(stdout);
  }
  SetTraceHook({});
  InstallMessageService(nullptr);
  return failures == 0 ? 0 : 1;
}
