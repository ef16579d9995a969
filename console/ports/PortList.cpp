#include "ports/PortList.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHash>
#include <QKeyEvent>
#include <QSerialPortInfo>
#include <QSet>

#include "window/Messages.h"
#include "serial_port.h"

namespace {

constexpr int kPortRole = Qt::UserRole;          // the entry's port number
constexpr int kPathRole = Qt::UserRole + 1;      // the device path it opens
constexpr int kUnpluggedRole = Qt::UserRole + 2;
constexpr int kCaptionRole = Qt::UserRole + 3;   // the caption without "(已拔出)"
constexpr int kSettleMs = 300;

const char* const kWatchedFolders[] = {"/dev", "/dev/serial", "/dev/serial/by-id"};
constexpr char kByIdFolder[] = "/dev/serial/by-id";

SerialDeviceSource& Source() {
  static SerialDeviceSource source;
  return source;
}

// The device a path leads to; the path itself when it leads nowhere now.
QString Resolved(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? path : canonical;
}

// "ttyUSB0 FTDI FT232R USB UART": the short device name, then what the
// adapter says it is.
QString Caption(const SerialDevice& device) {
  QStringList parts{QFileInfo(device.path).fileName()};
  for (const QString& part : {device.maker, device.product})
    if (!part.isEmpty()) parts << part;
  return parts.join(QLatin1Char(' '));
}

}  // namespace

std::vector<SerialDevice> MachineSerialDevices(const QString& byIdFolder) {
  // The stable names, by the device each leads to (the first name wins).
  QHash<QString, QString> byId;
  const QFileInfoList links =
      QDir(byIdFolder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& link : links) {
    const QString target = link.canonicalFilePath();
    if (!target.isEmpty() && !byId.contains(target)) byId.insert(target, link.absoluteFilePath());
  }
  std::vector<SerialDevice> devices;
  // The module already leaves out the 8250 slots whose driver reports no
  // hardware behind them.
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SerialDevice device;
    device.path = info.systemLocation();
    device.byId = byId.take(Resolved(device.path));
    device.maker = info.manufacturer();
    device.product = info.description();
    devices.push_back(device);
  }
  for (auto it = byId.cbegin(); it != byId.cend(); ++it) devices.push_back({it.key(), it.value(), {}, {}, false});
  return devices;
}

void CPortList::SetDeviceSource(SerialDeviceSource source) { Source() = std::move(source); }

CPortList::CPortList(QComboBox& combo, QObject* parent)
    : QObject(parent), m_combo(combo), m_source(Source()) {
  if (!m_source) m_source = [] { return MachineSerialDevices(QString::fromLatin1(kByIdFolder)); };
  for (int i = 0; i < m_combo.count() && i < kNamedPorts; ++i) m_combo.setItemData(i, i + 1, kPortRole);
  m_settle.setSingleShot(true);
  m_settle.setInterval(kSettleMs);
  connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
  connect(&m_settle, &QTimer::timeout, this, &CPortList::Refresh);
  connect(&m_combo, &QComboBox::currentIndexChanged, this, &CPortList::ShowSelectedPath);
  m_combo.installEventFilter(this);
  Refresh();
}

int CPortList::SelectedPort() const {
  const int index = m_combo.currentIndex();
  if (index < 0) return 0;  // no entry: no device
  const QVariant port = m_combo.itemData(index, kPortRole);
  return port.isValid() ? port.toInt() : index + 1;
}

bool CPortList::SelectedUnplugged() const {
  return m_combo.currentData(kUnpluggedRole).toBool();
}

QString CPortList::SelectedPath() const {
  const int port = SelectedPort();
  return port > 0 ? QString::fromStdString(PortPath(port)) : QString();
}

void CPortList::Refresh() {
  Watch();
  // What Com1 to Com9 reach already is not offered twice.
  QSet<QString> named;
  for (int n = 1; n <= kNamedPorts; ++n) named.insert(Resolved(QString::fromStdString(PortPath(n))));
  std::vector<std::pair<SerialDevice, QString>> wanted;
  QSet<QString> wantedPaths;
  for (const SerialDevice& device : m_source()) {
    const QString open = device.byId.isEmpty() ? device.path : device.byId;
    if (device.phantom || named.contains(Resolved(device.path)) || named.contains(Resolved(open)) ||
        wantedPaths.contains(open))
      continue;
    wanted.emplace_back(device, open);
    wantedPaths.insert(open);
  }
  for (int i = m_combo.count() - 1; i >= kNamedPorts; --i) {
    const QString path = m_combo.itemData(i, kPathRole).toString();
    if (wantedPaths.contains(path) || i != m_combo.currentIndex()) {
      if (!wantedPaths.contains(path)) m_combo.removeItem(i);
      continue;
    }
    MarkUnplugged(i);  // gone while chosen
  }
  for (const auto& [device, open] : wanted) {
    const int at = FindEntry(open);
    if (at < 0) {
      AddEntry(device, open);
      continue;
    }
    m_combo.setItemText(at, Caption(device));  // back again, or unchanged
    m_combo.setItemData(at, Caption(device), kCaptionRole);
    m_combo.setItemData(at, false, kUnpluggedRole);
  }
  for (int i = 0; i < m_combo.count() && i < kNamedPorts; ++i) MarkNamedPort(i);
  ShowSelectedPath();
}

// ComN whose device the machine lacks stays in the list (the controller's
// papers number the ports so), greyed, and says so; a network line counts
// as there.
void CPortList::MarkNamedPort(int index) {
  const QString path = QString::fromStdString(PortPath(index + 1));
  const bool missing = !path.contains(QLatin1String("://")) && !QFileInfo::exists(path);
  m_combo.setItemData(index, missing ? QString::fromUtf8(kTextNoSuchDevice) : path, Qt::ToolTipRole);
  m_combo.setItemData(index,
                      missing ? QVariant(m_combo.palette().color(QPalette::Disabled, QPalette::Text))
                              : QVariant(),
                      Qt::ForegroundRole);
}

void CPortList::AddEntry(const SerialDevice& device, const QString& openPath) {
  const QString caption = Caption(device);
  m_combo.addItem(caption);
  const int at = m_combo.count() - 1;
  m_combo.setItemData(at, PortNumberOf(openPath.toStdString()), kPortRole);
  m_combo.setItemData(at, openPath, kPathRole);
  m_combo.setItemData(at, caption, kCaptionRole);
  m_combo.setItemData(at, openPath, Qt::ToolTipRole);
}

// Gone while chosen: the entry stays, says so, and opens nothing.
void CPortList::MarkUnplugged(int index) {
  m_combo.setItemText(index, m_combo.itemData(index, kCaptionRole).toString() + QLatin1Char(' ') +
                                 QString::fromUtf8(kTextUnplugged));
  m_combo.setItemData(index, true, kUnpluggedRole);
}

void CPortList::SelectDevice(const QString& path) {
  for (int n = 1; n <= kNamedPorts && n <= m_combo.count(); ++n) {
    if (QString::fromStdString(PortPath(n)) != path) continue;
    m_combo.setCurrentIndex(n - 1);
    return;
  }
  int at = FindEntry(path);
  if (at < 0) {
    AddEntry(SerialDevice{path, {}, {}, {}, false}, path);
    at = m_combo.count() - 1;
    MarkUnplugged(at);
  }
  m_combo.setCurrentIndex(at);
}

int CPortList::FindEntry(const QString& openPath) const {
  for (int i = kNamedPorts; i < m_combo.count(); ++i)
    if (m_combo.itemData(i, kPathRole).toString() == openPath) return i;
  return -1;
}

void CPortList::ShowSelectedPath() { m_combo.setToolTip(SelectedPath()); }

// A folder that appears later (/dev/serial with the first adapter) is
// watched from the change that made it.
void CPortList::Watch() {
  const QStringList watched = m_watcher.directories();
  for (const char* folder : kWatchedFolders) {
    const QString path = QString::fromLatin1(folder);
    if (!watched.contains(path) && QFileInfo(path).isDir()) m_watcher.addPath(path);
  }
}

// The list is read again right before it drops down, by mouse or key.
bool CPortList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &m_combo) {
    const auto* key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
    const bool drops = event->type() == QEvent::MouseButtonPress ||
                       (key && (key->key() == Qt::Key_F4 ||
                                ((key->modifiers() & Qt::AltModifier) &&
                                 (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up))));
    if (drops) Refresh();
  }
  return QObject::eventFilter(watched, event);
}
