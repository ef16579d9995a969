#include "alarms/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QVariantMap>

#include <utility>

#include "traffic/Trace.h"

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kActionKey[] = "acknowledge";
constexpr char kTextAcknowledge[] = "确认";
constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;

QDBusMessage Call(const char* method) {
  return QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                        QString::fromLatin1(kInterface),
                                        QString::fromLatin1(method));
}

// Only a bus that is there: without an address and the session's socket,
// the library would try to launch a bus of its own, which takes seconds.
bool SessionHasBus() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")));
}

}  // namespace

CDesktopNotifier::CDesktopNotifier(QObject* parent)
    : QObject(parent), m_bus(QStringLiteral("qd7420-none")) {
  connect(this, &CDesktopNotifier::ActionInvoked, this, &CDesktopNotifier::OnActionInvoked);
  if (SessionHasBus()) UseBus(QDBusConnection::sessionBus());
}

CDesktopNotifier::~CDesktopNotifier() { Close(); }

void CDesktopNotifier::UseBus(const QDBusConnection& bus) {
  m_bus = bus;
  m_bAvailable = m_bus.isConnected();
  m_bReported = false;
  m_nId = 0;
  if (!m_bAvailable) return;
  // The bus relays the service's signal to ours; it names both by their
  // D-Bus signatures, which is the only way the bus can match them.
  m_bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                QString::fromLatin1(kInterface), QStringLiteral("ActionInvoked"), this,
                SIGNAL(ActionInvoked(uint, QString)));
}

void CDesktopNotifier::Show(const QString& summary, const QString& body, bool critical,
                            bool replace) {
  if (!m_bAvailable) return Unavailable(QStringLiteral("no session bus"));
  const Wanted wanted{summary, body, critical};
  if (replace && m_bPending) {
    // The id of the notification to update is not known yet.
    m_update = wanted;
    m_bUpdateWanted = true;
    return;
  }
  if (!replace) Close();
  Send(wanted, replace ? m_nId : 0);
}

void CDesktopNotifier::Send(const Wanted& wanted, uint32_t replaces) {
  QDBusMessage message = Call("Notify");
  const QStringList actions = {QString::fromLatin1(kActionKey), QString::fromUtf8(kTextAcknowledge)};
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"),
               QVariant::fromValue(wanted.critical ? kUrgencyCritical : kUrgencyNormal));
  // Critical notifications stay until withdrawn; the others at the
  // service's own time-out (-1).
  message << QStringLiteral("QD7420") << replaces << QStringLiteral("dialog-warning")
          << wanted.summary << wanted.body << actions << hints << (wanted.critical ? 0 : -1);
  m_bPending = true;
  m_bCloseWanted = m_bUpdateWanted = false;
  auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
  connect(call, &QDBusPendingCallWatcher::finished, this, &CDesktopNotifier::OnNotified);
}

void CDesktopNotifier::OnNotified(QDBusPendingCallWatcher* call) {
  call->deleteLater();
  const QDBusPendingReply<uint> reply = *call;
  m_bPending = false;
  if (reply.isError()) {
    m_nId = 0;
    return Unavailable(reply.error().message());
  }
  m_nId = reply.value();
  if (m_bCloseWanted)
    Close();
  else if (std::exchange(m_bUpdateWanted, false))
    Send(m_update, m_nId);
}

void CDesktopNotifier::Close() {
  if (m_bPending) {
    m_bCloseWanted = true;
    m_bUpdateWanted = false;
    return;
  }
  if (m_nId == 0 || !m_bAvailable) return;
  QDBusMessage message = Call("CloseNotification");
  message << m_nId;
  m_bus.asyncCall(message);
  m_nId = 0;
}

void CDesktopNotifier::OnActionInvoked(uint id, const QString& key) {
  if (id != 0 && id == m_nId && key == QLatin1String(kActionKey)) emit Acknowledged();
}

void CDesktopNotifier::Unavailable(const QString& why) {
  if (std::exchange(m_bReported, true)) return;
  TraceNote("desktop notification unavailable: " + why.toStdString());
}
