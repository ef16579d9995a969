// A desktop notification service of the tests' own on a private session bus:
// a dbus-daemon started for the test, the service registered on one
// connection, the console's notifier given another. Records every Notify and
// CloseNotification, and sends the service's ActionInvoked signal.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

class FakeNotifications : public QDBusVirtualObject {
 public:
  struct Notify {
    uint replaces = 0;
    QString summary, body;
    QStringList actions;
    int urgency = -1;
    uint id = 0;  // the id the service gave back
  };

  // `withService`: false starts the bus with no service on it.
  explicit FakeNotifications(bool withService = true);
  ~FakeNotifications() override;

  bool Ready() const { return m_bReady; }
  // A connection to the private bus for the console's notifier.
  QDBusConnection ConsoleBus() const;
  void InvokeAction(uint id, const QString& key);
  void Clear();

  std::vector<Notify> notifies;
  std::vector<uint> closes;

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  QProcess m_daemon;
  QString m_address;
  QString m_serviceName, m_consoleName;
  uint m_nNextId = 1;
  bool m_bReady = false;
};
