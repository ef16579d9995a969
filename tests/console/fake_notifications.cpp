#include "fake_notifications.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
int g_nBuses = 0;

}  // namespace

FakeNotifications::FakeNotifications(bool withService) {
  const QString n = QString::number(++g_nBuses);
  m_serviceName = QStringLiteral("fake-notifications-") + n;
  m_consoleName = QStringLiteral("fake-console-") + n;
  m_daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
  if (!m_daemon.waitForStarted(5000)) return;
  while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {}
  m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
  if (m_address.isEmpty()) return;
  QDBusConnection service = QDBusConnection::connectToBus(m_address, m_serviceName);
  if (!service.isConnected()) return;
  if (withService && (!service.registerService(QString::fromLatin1(kService)) ||
                      !service.registerVirtualObject(QString::fromLatin1(kPath), this)))
    return;
  m_bReady = QDBusConnection::connectToBus(m_address, m_consoleName).isConnected();
}

FakeNotifications::~FakeNotifications() {
  QDBusConnection(m_serviceName).unregisterObject(QString::fromLatin1(kPath));
  QDBusConnection::disconnectFromBus(m_consoleName);
  QDBusConnection::disconnectFromBus(m_serviceName);
  m_daemon.terminate();
  m_daemon.waitForFinished(5000);
}

QDBusConnection FakeNotifications::ConsoleBus() const { return QDBusConnection(m_consoleName); }

void FakeNotifications::InvokeAction(uint id, const QString& key) {
  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromLatin1(kPath), QString::fromLatin1(kInterface), QStringLiteral("ActionInvoked"));
  signal << id << key;
  QDBusConnection(m_serviceName).send(signal);
}

void FakeNotifications::Clear() {
  notifies.clear();
  closes.clear();
}

QString FakeNotifications::introspect(const QString&) const { return {}; }

bool FakeNotifications::handleMessage(const QDBusMessage& message,
                                      const QDBusConnection& connection) {
  const QList<QVariant> args = message.arguments();
  if (message.member() == QLatin1String("Notify") && args.size() == 8) {
    Notify call;
    call.replaces = args[1].toUInt();
    call.summary = args[3].toString();
    call.body = args[4].toString();
    call.actions = args[5].toStringList();
    const QVariantMap hints = qdbus_cast<QVariantMap>(args[6]);
    if (hints.contains(QStringLiteral("urgency"))) call.urgency = hints.value(QStringLiteral("urgency")).toInt();
    call.id = call.replaces != 0 ? call.replaces : m_nNextId++;
    notifies.push_back(call);
    connection.send(message.createReply(QVariant::fromValue(call.id)));
    return true;
  }
  if (message.member() == QLatin1String("CloseNotification") && args.size() == 1) {
    closes.push_back(args[0].toUInt());
    connection.send(message.createReply());
    return true;
  }
  return false;
}
