#include "dialogs/WaitDlg.h"

#include <QLabel>
#include <QProgressBar>

#include <utility>

#include "window/Globals.h"
#include "resource.h"

namespace {

int g_tickPeriodMs = 1000;

}  // namespace

void CWaitDlg::SetTickPeriodForTest(int ms) { g_tickPeriodMs = ms; }

CWaitDlg::CWaitDlg(ClosingStep closing, QWidget* parent)
    : CFormDialog(parent), m_closing(std::move(closing)) {}

void CWaitDlg::DoDataExchange(bool) {
  m_staticSeconds = qobject_cast<QLabel*>(GetDlgItem(IDC_WAIT_SECONDS));
  m_progress = qobject_cast<QProgressBar*>(GetDlgItem(IDC_WAIT_PROGRESS));
}

bool CWaitDlg::OnInitDialog() {
  CFormDialog::OnInitDialog();
  g_nCountdown = kSeconds;
  SetTimer(kTimerId, g_tickPeriodMs);
  ShowSeconds();
  return true;  // the focus is left to the system
}

void CWaitDlg::ShowSeconds() {
  if (m_staticSeconds) m_staticSeconds->setText(QString::number(g_nCountdown));
}

// Every tick is timer 1's: the id is not looked at.
void CWaitDlg::OnTimer(int) {
  --g_nCountdown;
  ShowSeconds();
  if (g_nCountdown != 0) return;
  const bool done = m_closing && m_closing(*this);
  if (done) g_bCalibrationDone = true;
  KillTimer(kTimerId);
  EndDialog(done ? IDOK : IDCANCEL);
}
