// The quick parameter search and the search's progress line.
//
// "快速搜索" in the context menu of the search group and of button 1009
// makes every probe wait only what a reply needs at the probed rate (the
// wire time of request and reply, the controller's turnaround budget and
// the adapter's latency) instead of 1000 ms. The search is otherwise the
// same. Any search, quick or not, shows in its group how many probes are
// done of how many and about how long is left, as each probe begins and ends.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include "window/ConsoleDlg.h"
#include "window/Messages.h"
#include "search/ParameterSearch.h"
#include "search/SearchPlan.h"
#include "resource.h"
#include "ui_console_dlg.h"

namespace {

constexpr char kQuickSearchText[] = "快速搜索";
constexpr char kSearchAllText[] = "搜索全部";  // the survey: ConsoleDlg_Survey.cpp
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
  m_pQuickSearchAction->setChecked(m_pSearch->Quick());
  connect(m_pQuickSearchAction, &QAction::toggled, m_pSearch, &CParameterSearch::SetQuick);
  m_pSearchAllAction = m_pSearchMenu->addAction(QString::fromUtf8(kSearchAllText));
  m_pSearchAllAction->setCheckable(true);
  m_pSearchAllAction->setChecked(m_pSearch->Survey());
  connect(m_pSearchAllAction, &QAction::toggled, m_pSearch, &CParameterSearch::SetSurvey);
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
}

void CConsoleDlg::SetQuickSearch(bool on) {
  m_pSearch->SetQuick(on);
  if (m_pQuickSearchAction) m_pQuickSearchAction->setChecked(on);
}

bool CConsoleDlg::IsQuickSearch() const { return m_pSearch->Quick(); }

void CConsoleDlg::SetSearchTurnaround(uint32_t ms) { m_pSearch->SetTurnaround(ms); }

// A search that has ended (found, not found, stopped, port failed) takes
// its line away.
void CConsoleDlg::ShowSearchProgress() {
  CSearchPlan::Progress progress = m_pSearch->Progress();
  if (m_nShownProbe > 0) progress.number = m_nShownProbe;
  if (progress.finished)
    m_pSearchProgress->clear();
  else if (progress.started)
    m_pSearchProgress->setText(SearchProgressText(progress));
}

QString CConsoleDlg::SearchProgressLine() const {
  return m_pSearchProgress ? m_pSearchProgress->text() : QString();
}

QString CConsoleDlg::SearchNotFoundText() const {
  QString text = QString::fromUtf8(kTextSearchNotFound);
  if (m_pSearch->WasQuick())
    text += QLatin1Char('\n') + QString::fromUtf8(kTextTrySlowerSearch);
  return text;
}
