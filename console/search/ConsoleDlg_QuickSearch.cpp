// The quick parameter search and the search's progress line.
//
// "快速搜索" in the context menu of the search group and of button 1009
// makes every probe wait only what a reply needs at the probed rate (the
// wire time of request and reply, the controller's turnaround budget and
// the adapter's latency) instead of 1000 ms. The search is otherwise the
// same. Any search, quick or not, shows in its group how many probes are
// done of how many and about how long is left, refreshed twice a second.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include "window/ConsoleDlg.h"
#include "window/Globals.h"
#include "window/Messages.h"
#include "search/SearchPlan.h"
#include "adapter_latency.h"
#include "resource.h"
#include "serial_port.h"
#include "ui_console_dlg.h"

namespace {

constexpr int kProgressRefreshMs = 500;
constexpr char kQuickSearchText[] = "快速搜索";
// The not-found box's added line after a quick search.
constexpr char kTextTrySlowerSearch[] = "应答较慢的控制器可能需要关闭快速搜索后再搜索一次";
// The progress line sits in the group's title row, right of the title.
constexpr int kProgressLeft = 96;
constexpr int kProgressHeight = 18;

}  // namespace

void CConsoleDlg::SetUpSearchMenu() {
  m_pSearchMenu = new QMenu(this);
  m_pQuickSearchAction = m_pSearchMenu->addAction(QString::fromUtf8(kQuickSearchText));
  m_pQuickSearchAction->setCheckable(true);
  m_pQuickSearchAction->setChecked(m_bQuickSearch);
  connect(m_pQuickSearchAction, &QAction::toggled, this, [this](bool on) { m_bQuickSearch = on; });
  for (QWidget* owner : {static_cast<QWidget*>(m_ui->grp_search), GetDlgItem(IDC_SEARCH)}) {
    owner->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(owner, &QWidget::customContextMenuRequested, this,
            [this, owner](const QPoint& at) { m_pSearchMenu->popup(owner->mapToGlobal(at)); });
  }

  QGroupBox* group = m_ui->grp_search;
  m_pSearchProgress = new QLabel(group);
  m_pSearchProgress->setGeometry(kProgressLeft, 0, group->width() - kProgressLeft - 6,
                                 kProgressHeight);
  m_pSearchProgress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_pSearchProgressTimer = new QTimer(this);
  m_pSearchProgressTimer->setInterval(kProgressRefreshMs);
  connect(m_pSearchProgressTimer, &QTimer::timeout, this, &CConsoleDlg::ShowSearchProgress);
}

void CConsoleDlg::SetQuickSearch(bool on) {
  m_bQuickSearch = on;
  if (m_pQuickSearchAction) m_pQuickSearchAction->setChecked(on);
}

std::shared_ptr<CSearchPlan> CConsoleDlg::MakeSearchPlan() const {
  CSearchPlan::Settings settings;
  for (size_t i = 0; i < kSearchRateCount; ++i) settings.ticked[i] = g_nSearchRates[i] == 1;
  settings.quick = m_bQuickSearch;
  settings.turnaroundMs = m_nSearchTurnaroundMs;
  if (m_bQuickSearch) settings.adapterLatencyMs = AdapterLatencyMs(PortPath(g_nSearchPort));
  return std::make_shared<CSearchPlan>(settings);
}

// Runs while a search does; a search that has ended (found, not found,
// stopped, port failed) takes its line away.
void CConsoleDlg::ShowSearchProgress() {
  CSearchPlan::Progress progress = m_searchPlan ? m_searchPlan->Now() : CSearchPlan::Progress{};
  if (m_nShownProbe > 0) progress.number = m_nShownProbe;
  if (!m_searchPlan || progress.finished) {
    m_pSearchProgressTimer->stop();
    m_pSearchProgress->clear();
    return;
  }
  if (!m_pSearchProgressTimer->isActive()) m_pSearchProgressTimer->start();
  if (progress.started) m_pSearchProgress->setText(SearchProgressText(progress));
}

QString CConsoleDlg::SearchProgressLine() const {
  return m_pSearchProgress ? m_pSearchProgress->text() : QString();
}

QString CConsoleDlg::SearchNotFoundText() const {
  QString text = QString::fromUtf8(kTextSearchNotFound);
  if (m_searchPlan && m_searchPlan->Quick())
    text += QLatin1Char('\n') + QString::fromUtf8(kTextTrySlowerSearch);
  return text;
}
