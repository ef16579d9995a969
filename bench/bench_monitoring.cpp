// The monitoring poll of the real console window, measured in one run: the
// CPU time the console process uses while it polls once a second, the
// rhythm of the polls (each period against 1000 ms, and the drift over the
// run), and how quickly the window answers while the controller is silent.
// The controller is the simulator running as a process of its own, so the
// CPU time counted is the console's alone.
//
//   bench_monitoring [--polls N] [--idle SECONDS] [--silent SECONDS] [--sim PATH] [--traffic M [--backlog K]]
//                    [--leak] [--window traffic|journal]
//
// First the window sits idle for SECONDS (default 10; what the console costs
// without monitoring, the text cursor blinking in the address edit), then it
// makes N polls (default 61, so 60 periods) at station 1, 9600 baud,
// measurement mode. Then the simulator stops answering and, for --silent
// SECONDS (default 30; 0 leaves it out), a probe thread asks the window to
// run a queued call, waits until it ran, and asks again 20 ms later: the
// window's event-loop latency while each poll waits out its reply. Last,
// "停止读取" is clicked through the same kind of queued call while a poll
// waits, and timed until the caption has changed. The window runs on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
// With --traffic M, the N polls are followed by M more with the traffic
// window open (after a settle of two seconds): the CPU time of the two runs
// side by side, and the console's resident memory over each, the open run's
// also over its second half (past the first paints' caches). Every exchange
// goes to the traffic log in both runs, as in the console. 1800 polls are the
// half hour of monitoring a technician might leave the window open for;
// --backlog K puts K more copies of the last poll into the log before the
// window opens, as after K seconds of monitoring (10000 fills the ring).
//
// --leak starts the simulator with a leak at 123.45 m: the whole run then
// polls an unacknowledged alarm, its state static flashing and its sound
// wanted. --window journal makes the M polls of --traffic those with the
// monitoring journal ("监测记录") open instead of the traffic window.
#include <QAbstractButton>
#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alarms/AlarmIndicator.h"
#include "alarms/MonitoringJournal.h"
#include "window/ConsoleDlg.h"
#include "dialog/MessageService.h"
#include "traffic/TrafficDlg.h"
#include "traffic/TrafficLog.h"
#include "exchange.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPeriodMs = 1000.0;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The machine's one-minute load average, for reading the jitter figures.
std::string LoadAverage() {
  FILE* f = std::fopen("/proc/loadavg", "r");
  if (!f) return "unknown";
  char text[32] = {};
  const int got = std::fscanf(f, "%31s", text);
  std::fclose(f);
  return got == 1 ? text : "unknown";
}

// The process's resident memory in kB.
long ResidentKb() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  long size = 0, resident = 0;
  const int got = std::fscanf(f, "%ld %ld", &size, &resident);
  std::fclose(f);
  return got == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Message boxes would stop the run; say what they said instead.
class PrintingMessages : public CMessageService {
 public:
  void Show(QWidget*, const QString& text) override {
    std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    ++shown;
  }
  int shown = 0;
};

struct Options {
  int polls = 61;
  int idleSeconds = 10;
  int silentSeconds = 30;
  std::string sim = QD_SIM_PATH;
  int trafficPolls = 0;  // with the traffic window open; 0: none
  int backlog = 0;       // records put into the traffic log before it opens
  bool leak = false;     // an unacknowledged alarm all along
  bool journal = false;  // the second run opens the journal, not the traffic window
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--polls") == 0 && hasValue) {
      options.polls = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--idle") == 0 && hasValue) {
      options.idleSeconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--silent") == 0 && hasValue) {
      options.silentSeconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--sim") == 0 && hasValue) {
      options.sim = argv[++i];
    } else if (std::strcmp(argv[i], "--traffic") == 0 && hasValue) {
      options.trafficPolls = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--backlog") == 0 && hasValue) {
      options.backlog = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--leak") == 0) {
      options.leak = true;
    } else if (std::strcmp(argv[i], "--window") == 0 && hasValue &&
               (std::strcmp(argv[i + 1], "journal") == 0 || std::strcmp(argv[i + 1], "traffic") == 0)) {
      options.journal = std::strcmp(argv[++i], "journal") == 0;
    } else {
      std::fprintf(stderr,
                   "usage: bench_monitoring [--polls N] [--idle SECONDS] [--silent SECONDS] "
                   "[--sim PATH] [--traffic M [--backlog K]] [--leak] [--window traffic|journal]\n");
      return false;
    }
  }
  return options.polls >= 3 && options.idleSeconds >= 1 && options.silentSeconds >= 0 &&
         (options.trafficPolls == 0 || options.trafficPolls >= 4) && options.backlog >= 0;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs `call` on the window's thread through a queued call, from another
// thread, and returns the milliseconds from the request until it had run.
double TimeQueuedCall(QObject& window, const std::function<void()>& call) {
  std::mutex mutex;
  std::condition_variable ran;
  Clock::time_point end;
  bool done = false;
  const Clock::time_point sent = Clock::now();
  QMetaObject::invokeMethod(
      &window,
      [&] {
        call();
        std::lock_guard<std::mutex> lock(mutex);
        end = Clock::now();
        done = true;
        ran.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex);
  ran.wait(lock, [&] { return done; });
  return Ms(end - sent);
}

// What the trace hook sees of the polls, from whichever thread runs them.
struct PollLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Clock::time_point> answering;  // request times while the simulator answers
  int failed = 0;                            // of those
  bool silent = false;                       // the simulator has been told to be silent
  int silentPolls = 0;
  bool trafficOpen = false;                  // the answering polls go to `withTraffic`
  std::vector<Clock::time_point> withTraffic;
  long halfwayKb = 0;  // resident memory halfway through the open run
  TraceRecord last;    // the last answering poll
};

// One run of answering polls: CPU time, wall time, resident memory.
struct Run {
  double cpu = 0, wall = 0;
  long residentStartKb = 0, residentEndKb = 0;
};

void ReportTraffic(const char* window, const Run& closed, const Run& open, int closedPolls,
                   int openPolls, long halfwayKb) {
  const double closedShare = closed.cpu / closed.wall, openShare = open.cpu / open.wall;
  std::printf("%-19s %d polls with it closed, then %d with it open\n", window, closedPolls,
              openPolls);
  std::printf("  console CPU        closed %.4f %%, open %.4f %% of one core (target <= 0.2 %%); "
              "open / closed = %.2f\n",
              100.0 * closedShare, 100.0 * openShare, openShare / closedShare);
  std::printf("  resident memory    closed %+ld kB (%.2f kB a poll), open %+ld kB (%.2f kB a poll); "
              "%ld kB at the end\n",
              closed.residentEndKb - closed.residentStartKb,
              static_cast<double>(closed.residentEndKb - closed.residentStartKb) / closedPolls,
              open.residentEndKb - open.residentStartKb,
              static_cast<double>(open.residentEndKb - open.residentStartKb) / openPolls,
              open.residentEndKb);
  const int secondHalf = openPolls - openPolls / 2;
  std::printf("  second half open   %+ld kB over %d polls (%.3f kB a poll)\n",
              open.residentEndKb - halfwayKb, secondHalf,
              static_cast<double>(open.residentEndKb - halfwayKb) / secondHalf);
}

void ReportLatency(std::vector<double> latencies, double seconds, int polls, double stopMs) {
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](size_t permille) {
    return latencies[std::min(latencies.size() - 1, latencies.size() * permille / 1000)];
  };
  const auto beyond = std::count_if(latencies.begin(), latencies.end(), [](double m) { return m > 50; });
  std::printf("silent controller:  %d polls (all refused) over %.1f s\n", polls, seconds);
  std::printf("  event-loop latency %zu queued calls: median %.2f ms, p99 %.2f ms (target <= 50 ms), "
              "max %.2f ms, %td beyond 50 ms\n",
              latencies.size(), at(500), at(990), latencies.back(), beyond);
  std::printf("  \"停止读取\" clicked while a poll waits: caption changed %.2f ms after the click "
              "was asked for\n",
              stopMs);
}

void Report(const std::vector<Clock::time_point>& polls, double cpu, double wall, int failed,
            double idleCpu, double idleWall) {
  std::vector<double> deviations;
  for (size_t i = 1; i < polls.size(); ++i)
    deviations.push_back(std::chrono::duration<double, std::milli>(polls[i] - polls[i - 1]).count() -
                         kPeriodMs);
  double sum = 0, worst = 0;
  for (double d : deviations) {
    sum += d;
    if (std::fabs(d) > std::fabs(worst)) worst = d;
  }
  // Drift: the least-squares period of the request times against 1000 ms,
  // over the whole run (one late first poll does not pass for drift).
  const double n = static_cast<double>(polls.size());
  double meanI = 0, meanT = 0;
  for (size_t i = 0; i < polls.size(); ++i) {
    meanI += static_cast<double>(i) / n;
    meanT += std::chrono::duration<double, std::milli>(polls[i] - polls.front()).count() / n;
  }
  double num = 0, den = 0;
  for (size_t i = 0; i < polls.size(); ++i) {
    const double di = static_cast<double>(i) - meanI;
    num += di * (std::chrono::duration<double, std::milli>(polls[i] - polls.front()).count() - meanT);
    den += di * di;
  }
  const double fittedPeriod = num / den;
  const double drift = (fittedPeriod - kPeriodMs) * static_cast<double>(deviations.size());
  std::printf("monitoring: %zu polls (%d failed) over %.1f s of wall time; load average %s\n",
              polls.size(), failed, wall, LoadAverage().c_str());
  const double share = cpu / wall, idleShare = idleCpu / idleWall;
  std::printf("  console CPU time   %.3f s = %.4f %% of one core (target <= 0.1 %%), %.0f us per poll\n",
              cpu, 100.0 * share, 1e6 * cpu / static_cast<double>(polls.size()));
  std::printf("  idle window        %.4f %% of one core over %.0f s (text cursor blinking in the "
              "address edit); monitoring / idle = %.2f\n",
              100.0 * idleShare, idleWall, share / idleShare);
  std::vector<double> magnitudes;
  for (double d : deviations) magnitudes.push_back(std::fabs(d));
  std::sort(magnitudes.begin(), magnitudes.end());
  const double median = magnitudes[magnitudes.size() / 2];
  const double p95 = magnitudes[std::min(magnitudes.size() - 1, magnitudes.size() * 95 / 100)];
  const auto beyond = std::count_if(magnitudes.begin(), magnitudes.end(), [](double m) { return m > 20; });
  std::printf("  poll period        mean deviation %+.3f ms, worst %+.3f ms over %zu periods (target +-20 ms)\n",
              sum / static_cast<double>(deviations.size()), worst, deviations.size());
  std::printf("                     |deviation| median %.3f ms, p95 %.3f ms, %td beyond 20 ms\n", median,
              p95, beyond);
  std::printf("  drift              fitted period %.4f ms: %+.3f ms over the %zu periods\n",
              fittedPeriod, drift, deviations.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;

  QProcess sim;
  sim.start(QString::fromStdString(options.sim), {});
  if (!sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "bench_monitoring: %s did not start\n", options.sim.c_str());
    return 1;
  }
  const std::string pty = sim.readLine().trimmed().toStdString();
  SetPortPath(1, pty);
  if (options.leak) sim.write("leak 123.45\n");

  PrintingMessages messages;
  InstallMessageService(&messages);
  PollLog log;
  CConsoleDlg dlg;
  double cpuStart = 0, cpu = 0, wall = 0, idleCpu = 0, idleWall = 0;
  Run closedRun, openRun;
  long residentStart = 0;
  Clock::time_point wallStart;
  std::thread silentPhase;
  std::vector<double> latencies;
  double silentWall = 0, stopMs = 0;
  int silentPolls = 0;
  const auto stopButton = [&] {
    return qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_START_DETECTION));
  };
  // The silent phase, on a thread of its own that only asks the window.
  const auto silentRun = [&] {
    const Clock::time_point start = Clock::now();
    const auto end = start + std::chrono::seconds(options.silentSeconds);
    while (Clock::now() < end) {
      latencies.push_back(TimeQueuedCall(dlg, [] {}));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The stop comes 300 ms into a poll's wait: each silent poll follows the
    // one before at once, its exchange 50 ms after its start.
    {
      std::unique_lock<std::mutex> lock(log.mutex);
      const int seen = log.silentPolls;
      log.changed.wait_for(lock, std::chrono::seconds(5), [&] { return log.silentPolls > seen; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stopMs = TimeQueuedCall(dlg, [&] { stopButton()->click(); });
    silentWall = std::chrono::duration<double>(Clock::now() - start).count();
    {
      std::lock_guard<std::mutex> lock(log.mutex);
      silentPolls = log.silentPolls;
    }
    QMetaObject::invokeMethod(&dlg, [&] { dlg.reject(); }, Qt::QueuedConnection);
  };
  // Ends the answering run from the poll that completes it (no timer of our
  // own that would wake the process besides the poll's).
  const auto measured = [&] {
    return Run{CpuSeconds() - cpuStart,
               std::chrono::duration<double>(Clock::now() - wallStart).count(), residentStart,
               ResidentKb()};
  };
  const auto startRun = [&] {
    cpuStart = CpuSeconds();
    wallStart = Clock::now();
    residentStart = ResidentKb();
  };
  auto answered = [&] {
    bool trafficOpen = false;
    {
      std::lock_guard<std::mutex> lock(log.mutex);
      trafficOpen = log.trafficOpen;
    }
    if (!trafficOpen) {
      closedRun = measured();
      cpu = closedRun.cpu;
      wall = closedRun.wall;
    } else {
      openRun = measured();
    }
    if (options.trafficPolls > 0 && !trafficOpen) {
      TraceRecord last;
      {
        std::lock_guard<std::mutex> lock(log.mutex);
        last = log.last;
      }
      for (int i = 0; i < options.backlog; ++i) CTrafficLog::Process().Record(last);
      if (options.journal)
        dlg.OnShowJournal();
      else
        dlg.OnShowTraffic();
      QTimer::singleShot(2000, &dlg, [&] {
        startRun();
        std::lock_guard<std::mutex> lock(log.mutex);
        log.trafficOpen = true;
      });
      return;
    }
    if (options.silentSeconds == 0) {
      stopButton()->click();
      dlg.reject();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(log.mutex);
      log.silent = true;
    }
    sim.write("fault silence\n");
    silentPhase = std::thread(silentRun);
  };
  // Each poll's request time: when its exchange began, after the pause.
  SetTraceHook([&](const TraceRecord& record) {
    CTrafficLog::Process().Record(record);
    if (record.request.size() < 4 || record.request[1] != 0x03 ||
        (record.request[2] << 8 | record.request[3]) != REG_ALARM_STATUS)
      return;
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.silent) {
      ++log.silentPolls;
      log.changed.notify_all();
      return;
    }
    std::vector<Clock::time_point>& polls = log.trafficOpen ? log.withTraffic : log.answering;
    const int wanted = log.trafficOpen ? options.trafficPolls : options.polls;
    if (static_cast<int>(polls.size()) == wanted) return;
    polls.push_back(Clock::now() - std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double, std::milli>(record.roundTripMs)));
    if (!record.accepted) ++log.failed;
    log.last = record;
    if (log.trafficOpen && static_cast<int>(polls.size()) == wanted / 2) log.halfwayKb = ResidentKb();
    if (static_cast<int>(polls.size()) == wanted) QTimer::singleShot(0, &dlg, answered);
  });
  // The idle measure begins once the window has been on screen and painted.
  constexpr int kSettleMs = 2000;
  QTimer::singleShot(kSettleMs, &dlg, [&] {
    cpuStart = CpuSeconds();
    wallStart = Clock::now();
  });
  QTimer::singleShot(kSettleMs + options.idleSeconds * 1000, &dlg, [&] {
    idleCpu = CpuSeconds() - cpuStart;
    idleWall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    startRun();
    // With the mouse, as the operator does: the button takes the focus from
    // the address edit (whose text cursor would otherwise go on blinking).
    QTest::mouseClick(dlg.GetDlgItem(IDC_START_DETECTION), Qt::LeftButton);
  });
  dlg.DoModal();
  if (silentPhase.joinable()) silentPhase.join();
  SetTraceHook({});
  InstallMessageService(nullptr);
  sim.terminate();
  sim.waitForFinished(3000);

  if (static_cast<int>(log.answering.size()) < options.polls) {
    std::fprintf(stderr, "bench_monitoring: only %zu polls\n", log.answering.size());
    return 1;
  }
  if (options.leak)
    std::printf("alarm: %s, unacknowledged, %d flash phases, %d journal rows\n",
                dlg.AlarmIndicator().IsFlashing() ? "flashing" : "NOT flashing",
                dlg.AlarmIndicator().Flashes(), dlg.Journal().Count());
  Report(log.answering, cpu, wall, log.failed, idleCpu, idleWall);
  if (options.trafficPolls > 0)
    ReportTraffic(options.journal ? "journal window:" : "traffic window:", closedRun, openRun,
                  options.polls, options.trafficPolls, log.halfwayKb);
  ReportLatency(latencies, silentWall, silentPolls, stopMs);
  return messages.shown == 0 && log.failed == 0 ? 0 : 1;
}
