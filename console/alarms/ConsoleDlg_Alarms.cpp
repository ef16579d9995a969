// What monitoring sees of the cable as alarms: each poll goes into the alarm
// state, and what changed drives the state static's look, the announcement
// (attention, notification, sound) and the monitoring journal. "确认告警",
// Space on the state and the notification's "确认" acknowledge; "告警声音"
// in the window's menu switches the sound; "监测记录" (Ctrl+E) shows the
// journal.
#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "alarms/AlarmIndicator.h"
#include "alarms/AlarmState.h"
#include "alarms/Annunciator.h"
#include "alarms/JournalDlg.h"
#include "alarms/MonitoringJournal.h"
#include "window/ConsoleDlg.h"
#include "resource.h"

namespace {

constexpr char kTextSound[] = "告警声音";
constexpr char kTextJournal[] = "监测记录";
constexpr char kTextBody[] = "串口 %1，站号 %2，%3";

// The journal's event column.
const char* EventText(AlarmEvent event) {
  switch (event) {
    case AlarmEvent::Start: return "开始检测";
    case AlarmEvent::Change: return "状态变化";
    case AlarmEvent::Moved: return "位置变化";
    case AlarmEvent::Acknowledged: return "确认告警";
    case AlarmEvent::Stop: return "停止读取";
    default: return "";
  }
}

}  // namespace

void CConsoleDlg::SetUpAlarms() {
  m_pAlarm = std::make_unique<CAlarmState>();
  m_pJournal = new CMonitoringJournal(this);
  m_pAnnunciator = new CAnnunciator(this);
  auto* state = qobject_cast<QLabel*>(GetDlgItem(IDC_ALARM_STATE));
  m_pAlarmIndicator = new CAlarmIndicator(state);
  // The button beside the start button, the mark under the counters: the
  // state's own row has no room left.
  if (QWidget* start = GetDlgItem(IDC_START_DETECTION)) {
    QPushButton* button = m_pAlarmIndicator->Button();
    button->move(start->geometry().right() + 3, start->y());
    button->resize(button->width(), start->height());
  }
  if (QWidget* good = GetDlgItem(IDC_GOOD_COUNT))
    m_pAlarmIndicator->Mark()->move(good->x(), good->parentWidget()->geometry().bottom() + 1);
  connect(m_pAlarmIndicator, &CAlarmIndicator::AcknowledgeWanted, this,
          &CConsoleDlg::OnAcknowledgeAlarm);
  connect(m_pAnnunciator, &CAnnunciator::Acknowledged, this, &CConsoleDlg::OnAcknowledgeAlarm);
}

void CConsoleDlg::AddAlarmMenu() {
  QAction* sound = m_pSysMenu->addAction(QString::fromUtf8(kTextSound));
  sound->setCheckable(true);
  sound->setChecked(m_pAnnunciator->Sound().Enabled());
  connect(sound, &QAction::toggled, &m_pAnnunciator->Sound(), &CAlarmSound::SetEnabled);
  m_pAlarmSoundAction = sound;
  QAction* journal = m_pSysMenu->addAction(QString::fromUtf8(kTextJournal));
  journal->setShortcut(Qt::CTRL | Qt::Key_E);
  addAction(journal);  // Ctrl+E without the menu open
  connect(journal, &QAction::triggered, this, &CConsoleDlg::OnShowJournal);
}

void CConsoleDlg::OnShowJournal() {
  if (!m_pJournalDlg) m_pJournalDlg = new CJournalDlg(*m_pJournal, this);
  m_pJournalDlg->show();
  m_pJournalDlg->raise();
  m_pJournalDlg->activateWindow();
}

CJournalDlg* CConsoleDlg::JournalWindow() const { return m_pJournalDlg; }

void CConsoleDlg::AlarmRunStarted() {
  m_strAlarmPort = GetDlgItemText(IDC_PORT);
  ApplyAlarmChange(m_pAlarm->Start());
}

void CConsoleDlg::AlarmRunStopped() { ApplyAlarmChange(m_pAlarm->Stop()); }

void CConsoleDlg::AlarmPollAccepted(uint16_t status, uint16_t leakHundredths) {
  ApplyAlarmChange(m_pAlarm->Accepted(status, leakHundredths));
}

void CConsoleDlg::AlarmPollFailed() { ApplyAlarmChange(m_pAlarm->Failed()); }

void CConsoleDlg::OnAcknowledgeAlarm() { ApplyAlarmChange(m_pAlarm->Acknowledge()); }

void CConsoleDlg::ApplyAlarmChange(const AlarmChange& change) {
  if (change.event == AlarmEvent::None) return;
  const CAlarmState& alarm = *m_pAlarm;
  AddJournalRow(QString::fromUtf8(EventText(change.event)));
  if (change.announce)
    m_pAnnunciator->Announce(alarm.Summary(), AlarmBody(), alarm.Critical());
  else if (change.update)
    m_pAnnunciator->Update(alarm.Summary(), AlarmBody(), alarm.Critical());
  if (change.withdraw) m_pAnnunciator->Withdraw();
  m_pAnnunciator->SetSounding(alarm.Sounding());
  m_pAlarmIndicator->Apply(alarm);
}

void CConsoleDlg::AddJournalRow(const QString& event) {
  CMonitoringJournal::Row row;
  row.when = QDateTime::currentDateTime();
  row.port = m_strAlarmPort;
  row.station = GetDlgItemText(IDC_ADDRESS).toInt();
  row.event = event;
  row.state = m_pAlarm->StateText();
  row.position = m_pAlarm->PositionText();
  m_pJournal->Add(std::move(row));
}

QString CConsoleDlg::AlarmBody() const {
  return QString::fromUtf8(kTextBody)
      .arg(m_strAlarmPort, GetDlgItemText(IDC_ADDRESS),
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}
