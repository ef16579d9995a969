// One alarm's desktop notification through the session's notification
// service, every call asynchronous so that a slow or missing service never
// holds the window. Show raises a notification (or updates the one showing,
// in place), Close withdraws it, and the service's "确认" action comes back
// as Acknowledged.
//
// Without a session bus or a service there is one trace line and nothing
// else: no delay, no box.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>

class QDBusPendingCallWatcher;

class CDesktopNotifier : public QObject {
  Q_OBJECT

 public:
  // The session bus, when the session has one.
  explicit CDesktopNotifier(QObject* parent = nullptr);
  ~CDesktopNotifier() override;

  // Talks to the service on `bus` from now on (a test's private bus).
  void UseBus(const QDBusConnection& bus);

  // `replace`: update the notification showing rather than raise a new one.
  void Show(const QString& summary, const QString& body, bool critical, bool replace);
  void Close();
  // The id the service gave the notification showing; 0 when none.
  uint32_t Id() const { return m_nId; }

 signals:
  void Acknowledged();
  // The service's signal, relayed here by the bus.
  void ActionInvoked(uint id, const QString& key);

 private:
  struct Wanted {
    QString summary, body;
    bool critical = false;
  };
  void Send(const Wanted& wanted, uint32_t replaces);
  void OnNotified(QDBusPendingCallWatcher* call);
  void OnActionInvoked(uint id, const QString& key);
  void Unavailable(const QString& why);

  QDBusConnection m_bus;
  bool m_bAvailable = false;
  bool m_bReported = false;  // the one trace line has been written
  uint32_t m_nId = 0;
  // A Notify is under way: what is wanted once its id is known.
  bool m_bPending = false;
  bool m_bCloseWanted = false;
  bool m_bUpdateWanted = false;
  Wanted m_update;
};
