// Communication-parameter search: button 1009 starts and stops the search
// (CParameterSearch), whose worker probes every station address at every
// ticked baud rate; the window shows what the search hands back on the
// window's thread: each probe that got no answer, the find, the end of a
// scan without one, a port that would not open.
#include <QString>

#include <iterator>

#include "window/ConsoleDlg.h"
#include "window/ControlStates.h"
#include "search/ParameterSearch.h"
#include "search/SearchPlan.h"
#include "resource.h"
#include "ports/PortRefusal.h"
#include "serial_port.h"

namespace {

constexpr int kRateBoxes[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                              IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};
static_assert(std::size(kRateBoxes) == kSearchRateCount);

constexpr char kCaptionIdle[] = "搜索参数";
constexpr char kCaptionSearching[] = "停止搜索";
constexpr char kOneRateNote[] = "（TCP线路只试此波特率）";

// The status line once a controller is found or taken from the survey.
QString FoundText(int baud, int address) {
  return QString::asprintf("搜索到的参数为:波特率%d地址%d", baud, address);
}

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
  std::array<bool, kSearchRateCount> ticked{};
  for (size_t i = 0; i < kSearchRateCount; ++i) ticked[i] = IsDlgButtonChecked(kRateBoxes[i]);
  if (m_pSearch->Survey()) BeginSurvey();
  m_pSearch->Start(ReadConnection().port, ticked, LikelyProbes());
  if (const int baud = m_pSearch->OneRate())
    SetDlgItemText(IDC_SEARCH_RESULT,
                   QString::asprintf("正在搜索波特率%d", baud) + QString::fromUtf8(kOneRateNote));
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionSearching));
  m_nShownProbe = 0;
  ShowSearchProgress();
}

void CConsoleDlg::StopSearch() {
  EndSearchIdle();
  if (m_pSearch->Survey()) OnSurveyStopped();
  m_pSearch->Stop();  // the worker sees it before its next probe
}

// Every end of a search (stopped, found, nothing found): the button ready
// for the next one, and what the search locked back as the confirmed mode
// has it (the calibration controls only in factory mode).
void CConsoleDlg::EndSearchIdle() {
  SetDlgItemText(IDC_SEARCH, QString::fromUtf8(kCaptionIdle));
  ApplyControlStates(*this, kSearchStates,
                     FollowConfirmedMode() ? kSearchEndedFactory : kSearchEndedMeasurement);
}

// --- What the search hands back ------------------------------------------------------

// The search may have been stopped meanwhile: the probe's report still
// arrives, and the status line then says so.
void CConsoleDlg::OnSearchProgress(int baud, int address) {
  SetDlgItemText(IDC_SEARCH_RESULT,
                 QString::asprintf("正在搜索波特率%d地址%d", baud, address) +
                     (m_pSearch->OneRate() ? QString::fromUtf8(kOneRateNote) : QString()));
  // The counter counts the probe whose address the line shows.
  m_nShownProbe = m_pSearch->ProbeNumber(baud, address);
  ShowSearchProgress();
  if (GetDlgItemText(IDC_SEARCH) == QString::fromUtf8(kCaptionIdle))
    SetDlgItemText(IDC_SEARCH_RESULT, QStringLiteral("已经停止搜索参数"));
}

void CConsoleDlg::OnSearchNotFound() {
  WindowMessage(SearchNotFoundText());
  SetDlgItemText(IDC_SEARCH_RESULT, QStringLiteral("未搜索到通讯参数"));
  EndSearchIdle();
}

void CConsoleDlg::OnSearchFound(int baud, int address) {
  SetDlgItemText(IDC_SEARCH_RESULT, FoundText(baud, address));
  WindowInformation(QString::asprintf("产品参数为：波特率%d地址%d", baud, address));
  TakeFoundLine(baud, address);
  EndSearchIdle();
}

void CConsoleDlg::TakeFoundLine(int baud, int address) {
  SetDlgItemText(IDC_ADDRESS, QString::number(address));
  for (size_t i = 0; i < std::size(kSearchRates); ++i)
    if (kSearchRates[i] == baud) SetComboSel(IDC_BAUD, static_cast<int>(i));
  RememberLine(ReadConnection());
}

// A controller taken from the survey's list: as a find, without its box.
void CConsoleDlg::OnSurveyUse(int baud, int address) {
  SetDlgItemText(IDC_SEARCH_RESULT, FoundText(baud, address));
  TakeFoundLine(baud, address);
}
