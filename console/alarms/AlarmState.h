// The alarm state of one monitored cable as the operator is to see it: what
// the controller last said (or that it stopped answering), whether that is
// an alarm, and whether the operator has acknowledged it. No window here:
// each input returns what changed, and the window's parts act on that
// (look, announcement, journal).
//
// An alarm (水浸, 断线, or 无应答 once three polls in a row failed) stays
// unacknowledged until the operator acknowledges it, even when the cable
// returns to normal meanwhile: that shows as recovered and unacknowledged.
#pragma once

#include <QString>

#include <cstdint>

enum class AlarmEvent { None, Start, Change, Moved, Acknowledged, Stop };

// What one input changed. `event` is None when nothing did (a poll that
// repeats the state, a first or second failed poll).
struct AlarmChange {
  AlarmEvent event = AlarmEvent::None;
  bool announce = false;  // a new alarm: attention, a new notification, the sound
  bool update = false;    // the same leak moved: the notification is updated
  bool withdraw = false;  // acknowledged: the notification goes
};

class CAlarmState {
 public:
  enum class Kind { None, Normal, Leak, Broken, NoReply, Unknown };
  enum class Severity { Plain, Warning, Alarm };
  using Event = AlarmEvent;
  using Change = AlarmChange;

  // Failed polls in a row after which the controller counts as not answering.
  static constexpr int kFailedPollsForNoReply = 3;
  // A leak that moves by more than this (in 0.01 m) is journalled and updates
  // the notification; smaller moves are the measurement's own jitter.
  static constexpr int kMovedHundredths = 100;

  Change Start();
  Change Accepted(uint16_t status, uint16_t leakHundredths);
  Change Failed();
  Change Acknowledge();
  Change Stop();

  Kind State() const { return m_kind; }
  uint16_t Status() const { return m_status; }
  uint16_t LeakHundredths() const { return m_hundredths; }
  bool Running() const { return m_bRunning; }
  Severity Look() const;
  // Something awaits acknowledgement (the button is enabled).
  bool Unacknowledged() const { return m_bUnacknowledged; }
  // An unacknowledged alarm that still lasts: the state flashes.
  bool Flashing() const;
  // An unacknowledged alarm that has cleared: "已恢复，未确认".
  bool Recovered() const { return m_bUnacknowledged && m_kind == Kind::Normal; }
  // The sound plays while an unacknowledged alarm lasts and monitoring runs.
  bool Sounding() const { return m_bRunning && Flashing(); }
  // Critical urgency: a leak or a broken cable.
  bool Critical() const { return m_kind == Kind::Leak || m_kind == Kind::Broken; }

  // The state's text as the state static shows it ("水浸", "未知状态(3)").
  QString StateText() const;
  // The leak position as "123.45米"; empty but for a leak.
  QString PositionText() const;
  // The notification's summary: "水浸 123.45米", "断线", "控制器无应答".
  QString Summary() const;
  static bool IsAlarm(Kind kind);

 private:
  Change Enter(Kind kind, uint16_t status, uint16_t hundredths);

  Kind m_kind = Kind::None;
  uint16_t m_status = 0;
  uint16_t m_hundredths = 0;  // of the leak, as last journalled
  int m_nFailedPolls = 0;
  bool m_bRunning = false;
  bool m_bUnacknowledged = false;
};
