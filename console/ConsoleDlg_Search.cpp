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

#include "ConsoleDlg.h"
#include "ControlStates.h"
#include "Globals.h"
#include "MessageService.h"
#include "Messages.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "remote_line.h"
#include "resource.h"
#include "serial_port.h"

namespace {

// The order in which the rates of one address are tried, and the positions
// of the same rates in the baud-rate list 1002.
constexpr int kSearchRates[] = {1200, 2400, 4800, 9600, 19200, 38400};
constexpr int kRateBoxes[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                              IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};
static_assert(std::size(kSearchRates) == std::tuple_size<decltype(g_nSearchRates)>::value);

constexpr int kFirstAddress = 1;  // 0 is the broadcast address: nobody answers it
constexpr int kLastAddress = 255;

constexpr char kCaptionIdle[] = "搜索参数";
constexpr char kCaptionSearching[] = "停止搜索";
constexpr char kCaptionNotFound[] = "搜索通讯参数";
constexpr char kOneRateNote[] = "（TCP线路只试此波特率）";

bool Is(const char* text, const char* expected) { return std::strcmp(text, expected) == 0; }

}  // namespace

// --- The button -------------------------------------------------------------------

void CConsoleDlg::OnSearchParameters() {
  if (GetDlgItemText(IDC_SEARCH) == QString::fromUtf8(kCaptionIdle))
    StartSearch();
  else
    StopSearch();
}

void CConsoleDlg::StartSearch() {
  ApplyControlStates(*this, kSearchStates, kSearchStarted);
  // What the worker searches is fixed now; ticking a box later changes nothing.
  for (size_t i = 0; i < std::size(kRateBoxes); ++i)
    g_nSearchRates[i] = IsDlgButtonChecked(kRateBoxes[i]) ? 1 : 0;
  g_nSearchPort = GetComboSel(IDC_PORT) + 1;
  KeepOneRateOnRawLine();
  unsigned generation = 0;
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    generation = ++g_nSearchGeneration;
    g_bSearching = 1;
    g_strSearchResult = "";
  }
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionSearching));

  // The previous worker finishes at most the probe it has under way; the
  // new one waits for it on its own thread, so the window never blocks and
  // two workers never share the line.
  std::thread previous = std::move(m_searchWorker);
  m_searchWorker = std::thread([this, generation, previous = std::move(previous)]() mutable {
    if (previous.joinable()) previous.join();
    SearchThreadProc(this, generation);
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
  // Everything the search locked comes back, whatever the working mode.
  ApplyControlStates(*this, kSearchStates, kSearchStopped);
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionIdle));
  g_bSearching = 0;  // the worker sees it before its next probe
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

unsigned CConsoleDlg::SearchThreadProc(CConsoleDlg* dlg, unsigned generation) {
  const auto wanted = [generation] {
    return g_bSearching == 1 && g_nSearchGeneration == generation;
  };
  for (int address = kFirstAddress; address <= kLastAddress; ++address) {
    for (size_t i = 0; i < std::size(kSearchRates); ++i) {
      if (g_nSearchRates[i] != 1) continue;
      if (!wanted()) return 0;
      g_nSearchBaud = kSearchRates[i];
      HPORT port = OpenDevice(PortPath(g_nSearchPort), kSearchRates[i]);
      if (!port) {
        // Shown on the window's thread; the window keeps its searching look
        // until the operator presses "停止搜索".
        dlg->RunOnDialogThread([] {
          AppMessage(QString::fromUtf8(kTextPortMissing));
          return LRESULT{0};
        });
        return 0;
      }
      const bool found = ProbeAddress(port, address);
      CloseDevice(port);
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

// One read of the A1 range register: any reply that passes the acceptance
// test means a controller answers at this address and rate, whatever station
// address it carries.
bool CConsoleDlg::ProbeAddress(HPORT port, int address) {
  uint8_t reply[ReadReplyLength(1)];
  return Exchange(port, BuildReadRequest(static_cast<uint8_t>(address), REG_A1_RANGE, 1), reply,
                  sizeof reply, kProbeTimeoutMs);
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
    WindowMessage(QString::fromUtf8(kTextSearchNotFound));
    SetDlgItemText(IDC_SEARCH_RESULT, QStringLiteral("未搜索到通讯参数"));
    // The locked controls stay locked; the next click takes the stop path.
    SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionNotFound));
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
  g_nWorkMode = GetComboSel(IDC_WORK_MODE);
  for (size_t i = 0; i < std::size(kSearchRates); ++i)
    if (kSearchRates[i] == baud) SetComboSel(IDC_BAUD, static_cast<int>(i));
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionIdle));
  if (g_nWorkMode >= 0)
    ApplyControlStates(*this, kSearchStates,
                       g_nWorkMode > 0 ? kSearchFoundFactory : kSearchFoundMeasurement);
  return 1;
}
