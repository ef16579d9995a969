// The survey of the line: "搜索全部" in the search's context menu (and
// --search-all) makes the next search go on past a find, over every ticked
// rate and all 255 addresses, and list each controller that answered, and
// each address whose replies collided, in the survey window. The search's
// button, progress line and stop are the search's own.
#include <QAction>

#include "window/ConsoleDlg.h"
#include "search/ParameterSearch.h"
#include "search/SurveyDlg.h"
#include "resource.h"

namespace {

constexpr char kTextSurveyDone[] = "搜索完成，找到 %1 台控制器";
constexpr char kTextSurveyStopped[] = "已经停止搜索参数，找到 %1 台控制器";

}  // namespace

void CConsoleDlg::SetSearchAll(bool on) {
  m_pSearch->SetSurvey(on);
  if (m_pSearchAllAction) m_pSearchAllAction->setChecked(on);
}

bool CConsoleDlg::IsSearchAll() const { return m_pSearch->Survey(); }

void CConsoleDlg::BeginSurvey() {
  if (!m_pSurveyDlg) {
    m_pSurveyDlg = new CSurveyDlg(this);
    connect(m_pSurveyDlg, &CSurveyDlg::Use, this, &CConsoleDlg::OnSurveyUse);
    PlaceBeside(*m_pSurveyDlg);  // off the search group, whose progress it follows
  }
  m_pSurveyDlg->Begin();
  m_pSurveyDlg->show();
  m_pSurveyDlg->raise();
}

void CConsoleDlg::OnSurveyListed(int baud, int address, int value, int exception) {
  if (m_pSurveyDlg) m_pSurveyDlg->AddController(baud, address, value, exception);
}

void CConsoleDlg::OnSurveyGarbled(int baud, int address) {
  if (m_pSurveyDlg) m_pSurveyDlg->AddCollision(baud, address);
}

// Nothing found ends as a search without a find does.
void CConsoleDlg::OnSurveyEnded() {
  const int found = m_pSurveyDlg ? m_pSurveyDlg->ControllerCount() : 0;
  if (found == 0) {
    OnSearchNotFound();
    if (m_pSurveyDlg) m_pSurveyDlg->SetStatus(GetDlgItemText(IDC_SEARCH_RESULT));
    return;
  }
  const QString text = QString::fromUtf8(kTextSurveyDone).arg(found);
  m_pSurveyDlg->SetStatus(text);
  SetDlgItemText(IDC_SEARCH_RESULT, text);
  EndSearchIdle();
}

void CConsoleDlg::OnSurveyStopped() {
  if (m_pSurveyDlg)
    m_pSurveyDlg->SetStatus(QString::fromUtf8(kTextSurveyStopped).arg(m_pSurveyDlg->ControllerCount()));
}
