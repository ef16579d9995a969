// The alarm sound: the desktop sound theme's "alarm-clock-elapsed" event,
// played again every few seconds while it is on. The theme's sound is the
// one the desktop already uses for an alarm, at the volume and on the device
// the desktop has chosen, and the console ships no sound of its own.
//
// Playing is asynchronous (the library mixes in its own thread). Without a
// sound device or server there is one trace line and silence.
#pragma once

#include <QObject>
#include <QTimer>

struct ca_context;

class CAlarmSound : public QObject {
  Q_OBJECT

 public:
  explicit CAlarmSound(QObject* parent = nullptr);
  ~CAlarmSound() override;

  // "告警声音" in the window's menu: on by default. Off silences at once.
  void SetEnabled(bool on);
  bool Enabled() const { return m_bEnabled; }
  // Wanted or not (the alarm's own rule); plays only while enabled too.
  void SetWanted(bool wanted);
  bool Playing() const { return m_repeat.isActive(); }
  // How many times the event was started (each repeat counts).
  int Plays() const { return m_nPlays; }

 private:
  void Update();
  void Play();
  void Cancel();

  ca_context* m_pContext = nullptr;
  bool m_bEnabled = true;
  bool m_bWanted = false;
  bool m_bBroken = false;  // the library said no: silence for the session
  int m_nPlays = 0;
  QTimer m_repeat;
};
