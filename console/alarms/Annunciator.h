// How a new alarm reaches a technician who is not looking at the window:
// the window system's attention request (the taskbar entry), one desktop
// notification that an acknowledgement withdraws, and the alarm sound while
// the alarm is unacknowledged. Each works or is missing on its own; none of
// them waits on the others or on the desktop.
#pragma once

#include <QObject>
#include <QString>

#include "alarms/AlarmSound.h"
#include "alarms/DesktopNotifier.h"

class QWidget;

class CAnnunciator : public QObject {
  Q_OBJECT

 public:
  explicit CAnnunciator(QWidget* window);

  // A new alarm: attention, a new notification in place of any other.
  void Announce(const QString& summary, const QString& body, bool critical);
  // The same alarm changed (a leak moved): the notification showing, in place.
  void Update(const QString& summary, const QString& body, bool critical);
  // Acknowledged: the notification goes.
  void Withdraw();
  void SetSounding(bool sounding) { m_sound.SetWanted(sounding); }

  CDesktopNotifier& Notifier() { return m_notifier; }
  CAlarmSound& Sound() { return m_sound; }
  // Attention requests made this session.
  int Alerts() const { return m_nAlerts; }

 signals:
  // The notification's "确认" action.
  void Acknowledged();

 private:
  QWidget* m_pWindow;
  CDesktopNotifier m_notifier;
  CAlarmSound m_sound;
  int m_nAlerts = 0;
};
