// Communication-parameter search: button 1009 starts and stops a worker that
// probes every station address (1 to 255) at every ticked baud rate; the
// worker reports back only through WM_SEARCH_PROGRESS and WM_SEARCH_FOUND.
//
// The worker opens a port handle of its own for each probe, never the
// window's PortHandle, so it cannot close a port the window has opened. Each
// search has its generation number: a stop ends its worker for good, and a
// new start waits (on the new worker's thread, not the window's) for the
// previous worker to end before its first probe.
#include <QString>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "window/ConsoleDlg.h"
#include "window/ControlStates.h"
#include "window/Globals.h"
#include "dialog/MessageService.h"
#include "window/Messages.h"
#include "search/SearchPlan.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "remote_line.h"
#include "resource.h"
#include "ports/PortRefusal.h"
#include "serial_port.h"

namespace {

constexpr int kRateBoxes[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                              IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};
static_assert(std::size(kSearchRates) == std::tuple_size<decltype(g_nSearchRates)>::value);

constexpr char kCaptionIdle[] = "搜索参数";
constexpr char kCaptionSearching[] = "停止搜索";
constexpr char kOneRateNote[] = "（TCP线路只试此波特率）";

bool Is(const char* text, const char* expected) { return std::strcmp(text, expected) == 0; }

}  // namespace

// --- The button -------------------------------------------------------------------

void CConsoleDlg::OnSearchParameters() {
  if (GetDlgItemText(IDC_SEARCH) != QString::fromUtf8(kCaptionIdle))
    StopSearch();
  else if (const Connection connection = ReadConnection(); connection.unplugged)
    ShowUnplugged(PortPath(connection.port));  // no search on an adapter that is gone
  else
    StartSearch();
}

void CConsoleDlg::StartSearch() {
  ApplyControlStates(*this, kSearchStates, kSearchStarted);
  // What the worker searches is fixed now; ticking a box later changes nothing.
  for (size_t i = 0; i < std::size(kRateBoxes); ++i)
    g_nSearchRates[i] = IsDlgButtonChecked(kRateBoxes[i]) ? 1 : 0;
  g_nSearchPort = ReadConnection().port;
  KeepOneRateOnRawLine();
  unsigned generation = 0;
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    generation = ++g_nSearchGeneration;
    g_bSearching = 1;
    g_strSearchResult = "";
  }
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionSearching));
  m_searchPlan = MakeSearchPlan();
  ShowSearchProgress();

  // The previous worker finishes at most the probe it has under way; the
  // new one waits for it on its own thread, so the window never blocks and
  // two workers never share the line.
  std::thread previous = std::move(m_searchWorker);
  m_searchWorker = std::thread(
      [this, generation, plan = m_searchPlan, previous = std::move(previous)]() mutable {
        if (previous.joinable()) previous.join();
        SearchThreadProc(this, generation, plan);
        plan->Finished();
      });
}

void CConsoleDlg::KeepOneRateOnRawLine() {
  m_bOneRateOnly = false;
  if (LineSetsBaud(PortPath(g_nSearchPort))) return;
  const auto first = std::find(g_nSearchRates.begin(), g_nSearchRates.end(), 1);
  if (first == g_nSearchRates.end() || std::count(first, g_nSearchRates.end(), 1) == 1) return;
  std::fill(first + 1, g_nSearchRates.end(), 0);
  m_bOneRateOnly = true;
  const int baud = kSearchRates[first - g_nSearchRates.begin()];
  SetDlgItemText(IDC_SEARCH_RESULT, QString::asprintf("正在搜索波特率%d", baud) + QString::fromUtf8(kOneRateNote));
}

void CConsoleDlg::StopSearch() {
  EndSearchIdle();
  g_bSearching = 0;  // the worker sees it before its next probe
}

// Every end of a search (stopped, found, nothing found): the button ready
// for the next one, and what the search locked back as the confirmed mode
// has it (the calibration controls only in factory mode).
void CConsoleDlg::EndSearchIdle() {
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionIdle));
  ApplyControlStates(*this, kSearchStates,
                     FollowConfirmedMode() ? kSearchEndedFactory : kSearchEndedMeasurement);
}

// The window is closing: the worker ends after its probe under way, and
// its last messages are no longer handled.
void CConsoleDlg::EndSearchWorker() {
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    g_bSearching = 0;
    ++g_nSearchGeneration;
  }
  CloseMessages();
  if (m_searchWorker.joinable()) m_searchWorker.join();
}

// --- The worker ------------------------------------------------------------------------

unsigned CConsoleDlg::SearchThreadProc(CConsoleDlg* dlg, unsigned generation,
                                       const std::shared_ptr<CSearchPlan>& plan) {
  const auto wanted = [generation] {
    return g_bSearching == 1 && g_nSearchGeneration == generation;
  };
  for (int address = kSearchFirstAddress; address <= kSearchLastAddress; ++address) {
    for (size_t i = 0; i < std::size(kSearchRates); ++i) {
      if (g_nSearchRates[i] != 1) continue;
      if (!wanted()) return 0;
      g_nSearchBaud = kSearchRates[i];
      plan->ProbeStarted(kSearchRates[i], address);
      HPORT port = OpenDevice(PortPath(g_nSearchPort), kSearchRates[i]);
      if (!port) {
        // Shown on the window's thread; the window keeps its searching look
        // until the operator presses "停止搜索".
        dlg->RunOnDialogThread([failure = LastOpenFailure()] {
          ShowPortRefusal(failure);
          return LRESULT{0};
        });
        return 0;
      }
      const bool found = ProbeAddress(port, address, *plan);
      CloseDevice(port);
      plan->ProbeEnded();
      if (found) {
        g_nFoundAddress = address;
        dlg->SendMessage(WM_SEARCH_FOUND, generation, 0);
        return 0;
      }
      g_strSearchProgress = kTextSearching;
      g_nSearchAddress = address;
      dlg->SendMessage(WM_SEARCH_PROGRESS, generation, 0);
    }
  }
  {
    // A new search may have started meanwhile; its result must stay its own.
    std::lock_guard<std::mutex> lock(g_searchMutex);
    if (g_nSearchGeneration != generation) return 0;
    g_strSearchResult = kTextSearchNotFound;
  }
  dlg->SendMessage(WM_SEARCH_PROGRESS, generation, 0);
  return 0;
}

// One read of the A1 range register. Only a reply that names the probed
// station proves a controller there: a reply of another station, or one
// that comes too late and lands in a later probe's wait, must not put a
// wrong address into the window. The line is emptied before the request
// goes out, and a refused probe returns only once the line is quiet.
bool CConsoleDlg::ProbeAddress(HPORT port, int address, const CSearchPlan& plan) {
  uint8_t reply[ReadReplyLength(1)];
  const int baud = PortBaud(port);
  const ExchangeCounts got =
      ExchangeWaiting(port, BuildReadRequest(static_cast<uint8_t>(address), REG_A1_RANGE, 1),
                      reply, sizeof reply, plan.WaitMs(baud), plan.QuietMs());
  return IsProbeAnswer(address, reply, got.read, got.waited);
}

// --- What the worker reports ---------------------------------------------------------

// wParam carries the sender's search; a stopped worker's message that
// arrives after a new start is dropped.
LRESULT CConsoleDlg::OnSearchProgress(WPARAM wParam, LPARAM) {
  if (wParam != g_nSearchGeneration) return 1;
  if (Is(g_strSearchProgress, kTextSearching))
    SetDlgItemText(IDC_SEARCH_RESULT,
                   QString::asprintf("正在搜索波特率%d地址%d", g_nSearchBaud.load(),
                                     g_nSearchAddress.load()) +
                       (m_bOneRateOnly ? QString::fromUtf8(kOneRateNote) : QString()));
  if (GetDlgItemText(IDC_SEARCH) == QString::fromUtf8(kCaptionIdle))
    SetDlgItemText(IDC_SEARCH_RESULT, QStringLiteral("已经停止搜索参数"));
  if (Is(g_strSearchResult, kTextSearchNotFound)) {
    WindowMessage(SearchNotFoundText());
    SetDlgItemText(IDC_SEARCH_RESULT, QStringLiteral("未搜索到通讯参数"));
    EndSearchIdle();
  }
  return 1;
}

LRESULT CConsoleDlg::OnSearchFound(WPARAM wParam, LPARAM) {
  if (wParam != g_nSearchGeneration) return 1;
  const int baud = g_nSearchBaud;
  const int address = g_nFoundAddress;
  SetDlgItemText(IDC_SEARCH_RESULT, QString::asprintf("搜索到的参数为:波特率%d地址%d", baud, address));
  WindowMessage(QString::asprintf("产品参数为：波特率%d地址%d", baud, address));
  SetDlgItemText(IDC_ADDRESS, QString::number(address));
  for (size_t i = 0; i < std::size(kSearchRates); ++i)
    if (kSearchRates[i] == baud) SetComboSel(IDC_BAUD, static_cast<int>(i));
  RememberLine(ReadConnection());
  EndSearchIdle();
  return 1;
}
