// The quick parameter search, measured in one run on the paced simulated
// line (a real line's timing: 10 bits a byte, the 3.5-character silence).
//
//   1. The real window's quick search over all six rates and 255 addresses
//      with no controller answering: its total time against the sum of the
//      probes' wire times and turnaround budgets (target ratio <= 1.10) and
//      against the sum of the probes' planned waits.
//   2. What a probe costs beyond its wait (open, line settings, lock file,
//      the ownership look, the exchange's own steps, close): the median
//      over probes to a silent station (target < 2 ms).
//   3. The normal search's time for one rate, from its first probes.
//   4. The survey ("搜索全部"), quick, over all six rates and 255 addresses of
//      a line with stations 1 at 9600 and 17 at 38400: its total time, what
//      it listed, and its time against the full quick search's.
//   5. Found rate: the controller at 30 seeded random rate and address
//      pairs, the search's probes in the search's order over the addresses
//      around it; with a turnaround of 20 ms every one must be found at its
//      own pair, with the budget + 20 ms none may be found elsewhere.
//
//   bench_search [--seed S] [--skip-full]
#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "window/ConsoleDlg.h"
#include "window/Globals.h"
#include "dialog/MessageService.h"
#include "search/ParameterSearch.h"
#include "search/SearchPlan.h"
#include "pty_server.h"
#include "resource.h"
#include "serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRateBoxes[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                              IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};
constexpr int kAddresses = kSearchLastAddress - kSearchFirstAddress + 1;
constexpr int kSettings = 30;
constexpr int kFoundTurnaroundMs = 20;
constexpr int kNeighbours = 2;  // addresses searched either side of the controller
constexpr int kCostProbes = 200;
constexpr int kNormalSample = 8;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double WireMs(int baud) { return (kProbeRequestBytes + kProbeReplyBytes) * 10 * 1000.0 / baud; }

class PrintingMessages : public CMessageService {
 public:
  void Show(QWidget*, const QString& text) override {
    std::printf("  message box: %s\n", text.toUtf8().constData());
  }
};

CSearchPlan Plan(bool quick) {
  CSearchPlan::Settings settings;
  settings.ticked.fill(true);
  settings.quick = quick;
  return CSearchPlan(settings);
}

// A paced simulator that never answers.
struct SilentLine {
  SilentLine() {
    server.SetPacing(true);
    server.InjectFault(sim::Fault::Silence, -1);
    if (!server.Start()) std::exit(1);
    SetPortPath(1, server.DevicePath());
  }
  sim::PtyServer server;
};

// Runs the window's search with `ticked` rates until `done` says so, and
// returns the seconds from the click.
template <typename Done>
double RunWindowSearch(bool quick, std::initializer_list<int> ticked, Done done, bool survey = false) {
  CConsoleDlg dlg;
  dlg.SetQuickSearch(quick);
  dlg.SetSearchAll(survey);
  Clock::time_point start;
  double seconds = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &dlg, [&] {
    if (!done(dlg)) return;
    seconds = MsSince(start) / 1000;
    if (dlg.GetDlgItemText(IDC_SEARCH) == QStringLiteral("停止搜索"))
      qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_SEARCH))->click();
    watch.stop();
    dlg.reject();
  });
  QTimer::singleShot(500, &dlg, [&] {
    for (int id : kRateBoxes) dlg.CheckDlgButton(id, false);
    for (int id : ticked) dlg.CheckDlgButton(id, true);
    g_nSearchAddress = 0;
    start = Clock::now();
    qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_SEARCH))->click();
    watch.start(20);
  });
  dlg.DoModal();
  return seconds;
}

constexpr std::initializer_list<int> kAllRates = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                                                  IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};

// The survey's time, or 0 when it did not list both stations.
double Survey() {
  sim::PtyServer server;
  server.SetPacing(true);
  sim::ControllerOptions far;
  far.address = 17;
  far.baud = 38400;
  server.AddStation(far);
  if (!server.Start()) std::exit(1);
  SetPortPath(1, server.DevicePath());
  QString listed;
  const double total = RunWindowSearch(true, kAllRates, [&](CConsoleDlg& dlg) {
    listed = dlg.GetDlgItemText(IDC_SEARCH_RESULT);
    return dlg.GetDlgItemText(IDC_SEARCH) == QStringLiteral("搜索参数");
  }, true);
  std::printf("survey, quick, six rates x 255 addresses, stations 1 at 9600 and 17 at 38400:\n");
  std::printf("  total %.1f s (about 150 s expected), \"%s\"\n", total, listed.toUtf8().constData());
  return listed == QStringLiteral("搜索完成，找到 2 台控制器") ? total : 0;
}

double FullQuickSearch() {
  SilentLine line;
  const CSearchPlan plan = Plan(true);
  double budgetS = 0, plannedS = 0;
  for (int baud : kSearchRates) {
    budgetS += kAddresses * (WireMs(baud) + kDefaultSearchTurnaroundMs) / 1000;
    plannedS += kAddresses * (plan.WaitMs(baud) + plan.QuietMs()) / 1000.0;
  }
  const double total = RunWindowSearch(true, kAllRates, [](CConsoleDlg& dlg) {
    return dlg.GetDlgItemText(IDC_SEARCH_RESULT) == QStringLiteral("未搜索到通讯参数");
  });
  const int probes = kAddresses * static_cast<int>(kSearchRateCount);
  std::printf("quick search, six rates x 255 addresses, nobody answering (%d probes):\n", probes);
  std::printf("  total                 %.1f s (target <= 140 s)\n", total);
  std::printf("  wire times + budgets  %.1f s; total / that = %.3f (target <= 1.10)\n", budgetS,
              total / budgetS);
  std::printf("  planned waits + quiet %.1f s; total / that = %.3f; %.2f ms a probe beyond them\n",
              plannedS, total / plannedS, (total - plannedS) * 1000 / probes);
  return total;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void ProbeCost() {
  SilentLine line;
  const CSearchPlan plan = Plan(true);
  std::vector<double> beyond, openClose;
  for (int i = 0; i < kCostProbes; ++i) {
    const int baud = kSearchRates[i % kSearchRateCount];
    const auto start = Clock::now();
    HPORT port = OpenDevice(PortPath(1), baud);
    const double opened = MsSince(start);
    if (!port) std::exit(1);
    CParameterSearch::ProbeAddress(port, 1 + i / static_cast<int>(kSearchRateCount), plan);
    const auto closing = Clock::now();
    CloseDevice(port);
    openClose.push_back(opened + MsSince(closing));
    beyond.push_back(MsSince(start) - plan.WaitMs(baud) - plan.QuietMs());
  }
  std::printf("a probe beyond its wait and quiet, median of %d: %.3f ms (target < 2 ms); "
              "open + settings + lock + look + close alone %.3f ms\n",
              kCostProbes, Median(beyond), Median(openClose));
}

void NormalSearchOneRate() {
  SilentLine line;
  const double seconds = RunWindowSearch(false, {IDC_SEARCH_9600}, [](CConsoleDlg&) {
    return g_nSearchAddress >= kNormalSample;
  });
  std::printf("normal search, one rate: %d probes in %.2f s, so 255 addresses take about %.0f s "
              "(extrapolated)\n",
              kNormalSample, seconds, seconds / kNormalSample * kAddresses);
}

struct Finds {
  int right = 0, wrong = 0, none = 0;
};

// The search's order over the addresses around the controller: the first
// probe that is answered is the find.
Finds FoundRate(std::mt19937& random, int turnaroundMs) {
  Finds finds;
  std::uniform_int_distribution<int> address(kSearchFirstAddress, kSearchLastAddress);
  std::uniform_int_distribution<int> rate(0, static_cast<int>(kSearchRateCount) - 1);
  const CSearchPlan plan = Plan(true);
  for (int n = 0; n < kSettings; ++n) {
    sim::ControllerOptions options;
    options.address = static_cast<uint8_t>(address(random));
    options.baud = kSearchRates[rate(random)];
    sim::PtyServer server(options);
    server.SetPacing(true);
    server.SetTurnaround(turnaroundMs);
    if (!server.Start()) std::exit(1);
    int foundAddress = 0, foundBaud = 0;
    const int from = std::max(kSearchFirstAddress, options.address - kNeighbours);
    const int to = std::min(kSearchLastAddress, options.address + kNeighbours);
    for (int a = from; a <= to && foundAddress == 0; ++a) {
      for (int baud : kSearchRates) {
        HPORT port = OpenDevice(server.DevicePath(), baud);
        if (!port) std::exit(1);
        const bool found = CParameterSearch::ProbeAddress(port, a, plan);
        CloseDevice(port);
        if (found) {
          foundAddress = a;
          foundBaud = baud;
          break;
        }
      }
    }
    if (foundAddress == 0)
      ++finds.none;
    else if (foundAddress == options.address && foundBaud == options.baud)
      ++finds.right;
    else {
      ++finds.wrong;
      std::printf("  wrong find: controller at %d baud address %d, found at %d baud address %d\n",
                  options.baud, options.address, foundBaud, foundAddress);
    }
  }
  return finds;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  unsigned seed = 7420;
  bool full = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--skip-full") == 0) {
      full = false;
    } else {
      std::fprintf(stderr, "usage: bench_search [--seed S] [--skip-full]\n");
      return 2;
    }
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it is measured
  PrintingMessages messages;
  InstallMessageService(&messages);
  bool surveyed = true;
  if (full) {
    const double search = FullQuickSearch();
    const double survey = Survey();
    surveyed = survey > 0;
    if (surveyed) std::printf("  survey / full quick search = %.3f\n", survey / search);
  }
  ProbeCost();
  NormalSearchOneRate();
  std::mt19937 random(seed);
  const Finds fast = FoundRate(random, kFoundTurnaroundMs);
  std::printf("found rate, %d seeded settings (seed %u), turnaround %d ms: %d / %d found at "
              "their own rate and address, %d elsewhere, %d not found\n",
              kSettings, seed, kFoundTurnaroundMs, fast.right, kSettings, fast.wrong, fast.none);
  const int slowMs = static_cast<int>(kDefaultSearchTurnaroundMs) + kFoundTurnaroundMs;
  const Finds slow = FoundRate(random, slowMs);
  std::printf("found rate, turnaround %d ms (budget + 20): %d at a wrong address or rate "
              "(must be 0), %d right, %d not found\n",
              slowMs, slow.wrong, slow.right, slow.none);
  return fast.right == kSettings && slow.wrong == 0 && surveyed ? 0 : 1;
}
