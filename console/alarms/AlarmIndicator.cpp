#include "alarms/AlarmIndicator.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "alarms/AlarmState.h"

namespace {

constexpr char kTextAcknowledge[] = "确认告警";
constexpr char kTextRecovered[] = "已恢复，未确认";

const QColor kAlarmBackground(0xC0, 0x00, 0x00);
const QColor kWarningBackground(0xFF, 0xBF, 0x00);

QPalette Coloured(QPalette palette, const QColor& background, const QColor& text) {
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::WindowText, text);
  return palette;
}

}  // namespace

CAlarmIndicator::CAlarmIndicator(QLabel* state)
    : QObject(state),
      m_pState(state),
      m_pButton(new QPushButton(QString::fromUtf8(kTextAcknowledge), state->parentWidget())),
      m_pMark(new QLabel(QString::fromUtf8(kTextRecovered), state->parentWidget())) {
  // Where they stand is the window's layout; they are made at their sizes.
  m_pButton->resize(m_pButton->sizeHint());
  m_pMark->resize(m_pMark->sizeHint());
  m_pButton->setEnabled(false);
  m_pButton->setFocusPolicy(Qt::TabFocus);
  QPalette grey = m_pMark->palette();
  grey.setColor(QPalette::WindowText, grey.color(QPalette::Disabled, QPalette::WindowText));
  m_pMark->setPalette(grey);
  m_pMark->hide();
  m_pState->installEventFilter(this);
  m_pState->setAutoFillBackground(true);
  m_flash.setInterval(kFlashHalfMs);
  connect(&m_flash, &QTimer::timeout, this, &CAlarmIndicator::Flash);
  connect(m_pButton, &QPushButton::clicked, this, &CAlarmIndicator::AcknowledgeWanted);
}

void CAlarmIndicator::Apply(const CAlarmState& alarm) {
  const CAlarmState::Severity look = alarm.Look();
  m_bSevere = look != CAlarmState::Severity::Plain;
  if (look == CAlarmState::Severity::Alarm)
    m_severe = Coloured(m_pState->parentWidget()->palette(), kAlarmBackground, Qt::white);
  else if (look == CAlarmState::Severity::Warning)
    m_severe = Coloured(m_pState->parentWidget()->palette(), kWarningBackground, Qt::black);
  QFont font = m_pState->font();
  if (font.bold() != (look == CAlarmState::Severity::Alarm)) {
    font.setBold(look == CAlarmState::Severity::Alarm);
    m_pState->setFont(font);
  }
  if (alarm.Flashing() != m_flash.isActive()) {
    if (alarm.Flashing())
      m_flash.start();
    else
      m_flash.stop();
  }
  if (!m_flash.isActive()) m_bLit = true;
  Paint();
  m_pButton->setEnabled(alarm.Unacknowledged());
  // Space acknowledges on the focused state: it takes focus only then.
  m_pState->setFocusPolicy(alarm.Unacknowledged() ? Qt::StrongFocus : Qt::NoFocus);
  m_pMark->setVisible(alarm.Recovered());
}

void CAlarmIndicator::Flash() {
  m_bLit = !m_bLit;
  ++m_nFlashes;
  Paint();
}

void CAlarmIndicator::Paint() {
  // Plain is no palette of its own: the window's, dark or high-contrast too.
  m_pState->setPalette(m_bSevere && m_bLit ? m_severe : QPalette());
}

bool CAlarmIndicator::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_pState && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space && m_pButton->isEnabled()) {
    emit AcknowledgeWanted();
    return true;
  }
  return QObject::eventFilter(watched, event);
}
