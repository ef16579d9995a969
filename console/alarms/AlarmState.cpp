#include "alarms/AlarmState.h"

#include <cstdlib>

#include "window/Messages.h"
#include "frame_codec.h"

namespace {

constexpr char kTextNoReply[] = "无应答";
constexpr char kTextNoReplySummary[] = "控制器无应答";

CAlarmState::Kind KindOf(uint16_t status) {
  switch (status) {
    case 0: return CAlarmState::Kind::Normal;
    case 1: return CAlarmState::Kind::Leak;
    case 2: return CAlarmState::Kind::Broken;
    default: return CAlarmState::Kind::Unknown;
  }
}

}  // namespace

bool CAlarmState::IsAlarm(Kind kind) {
  return kind == Kind::Leak || kind == Kind::Broken || kind == Kind::NoReply;
}

CAlarmState::Change CAlarmState::Start() {
  // A new run knows nothing yet: its first poll is a transition, and an
  // alarm still on is announced again. An acknowledgement still owed stays.
  m_bRunning = true;
  m_kind = Kind::None;
  m_nFailedPolls = 0;
  return {Event::Start};
}

CAlarmState::Change CAlarmState::Stop() {
  m_bRunning = false;
  m_nFailedPolls = 0;
  return {Event::Stop};
}

CAlarmState::Change CAlarmState::Accepted(uint16_t status, uint16_t leakHundredths) {
  m_nFailedPolls = 0;
  return Enter(KindOf(status), status, leakHundredths);
}

CAlarmState::Change CAlarmState::Failed() {
  // One or two lost replies are a noisy line, not a lost cable.
  if (++m_nFailedPolls < kFailedPollsForNoReply) return {};
  return Enter(Kind::NoReply, 0, 0);
}

CAlarmState::Change CAlarmState::Acknowledge() {
  if (!m_bUnacknowledged) return {};
  m_bUnacknowledged = false;
  Change change{Event::Acknowledged};
  change.withdraw = true;
  return change;
}

CAlarmState::Change CAlarmState::Enter(Kind kind, uint16_t status, uint16_t hundredths) {
  if (kind == m_kind && (kind != Kind::Unknown || status == m_status)) {
    if (kind != Kind::Leak || std::abs(int{hundredths} - int{m_hundredths}) <= kMovedHundredths)
      return {};
    m_hundredths = hundredths;
    Change moved{Event::Moved};
    moved.update = m_bUnacknowledged;
    return moved;
  }
  m_kind = kind;
  m_status = status;
  m_hundredths = kind == Kind::Leak ? hundredths : 0;
  Change change{Event::Change};
  if (IsAlarm(kind)) {
    m_bUnacknowledged = true;
    change.announce = true;
  }
  return change;
}

CAlarmState::Severity CAlarmState::Look() const {
  switch (m_kind) {
    case Kind::Leak:
    case Kind::Broken: return Severity::Alarm;
    case Kind::NoReply:
    case Kind::Unknown: return Severity::Warning;
    default: return Severity::Plain;
  }
}

bool CAlarmState::Flashing() const { return m_bUnacknowledged && IsAlarm(m_kind); }

QString CAlarmState::StateText() const {
  switch (m_kind) {
    case Kind::Normal:
    case Kind::Leak:
    case Kind::Broken: return QString::fromUtf8(kTextAlarmStates[m_status]);
    case Kind::NoReply: return QString::fromUtf8(kTextNoReply);
    case Kind::Unknown: return QString::asprintf("未知状态(%u)", unsigned{m_status});
    default: return QString();
  }
}

QString CAlarmState::PositionText() const {
  return m_kind == Kind::Leak ? QString::asprintf("%.2f米", FromHundredths(m_hundredths))
                              : QString();
}

QString CAlarmState::Summary() const {
  if (m_kind == Kind::NoReply) return QString::fromUtf8(kTextNoReplySummary);
  const QString position = PositionText();
  return position.isEmpty() ? StateText() : StateText() + QLatin1Char(' ') + position;
}
