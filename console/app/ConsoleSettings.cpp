#include "app/ConsoleSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <string>

#include "search/SearchPlan.h"
#include "traffic/Trace.h"

namespace {

constexpr char kFolderName[] = "qd7420";
constexpr char kFileName[] = "qd7420.ini";

const QString kKeyDevice = QStringLiteral("line/device");
const QString kKeyBaud = QStringLiteral("line/baud");
const QString kKeyAddress = QStringLiteral("line/address");
const QString kKeyTicked = QStringLiteral("search/rates");
const QString kKeyQuick = QStringLiteral("search/quick");
const QString kKeyTurnaround = QStringLiteral("search/turnaround");
const QString kKeySound = QStringLiteral("alarm/sound");

QString GeometryKey(const QString& window) { return window + QStringLiteral("/geometry"); }

std::optional<int> IntIn(const std::optional<QVariant>& value, int low, int high) {
  if (!value) return std::nullopt;
  bool ok = false;
  const int number = value->toInt(&ok);
  if (!ok || number < low || number > high) return std::nullopt;
  return number;
}

std::optional<bool> Bool(const std::optional<QVariant>& value) {
  if (!value) return std::nullopt;
  const QString text = value->toString();
  if (text == QLatin1String("true")) return true;
  if (text == QLatin1String("false")) return false;
  return std::nullopt;
}

// The position of one of the line's rates among kSearchRates.
std::optional<size_t> RateIndex(int baud) {
  const auto* at = std::find(std::begin(kSearchRates), std::end(kSearchRates), baud);
  if (at == std::end(kSearchRates)) return std::nullopt;
  return static_cast<size_t>(at - std::begin(kSearchRates));
}

}  // namespace

QString CConsoleSettings::DefaultFolder() {
  // On Linux $XDG_CONFIG_HOME, else ~/.config.
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QLatin1Char('/') + QLatin1String(kFolderName);
}

CConsoleSettings::CConsoleSettings(bool enabled, const QString& folder)
    : m_strPath(folder + QLatin1Char('/') + QLatin1String(kFileName)) {
  if (!enabled) return;
  m_settings = std::make_unique<QSettings>(m_strPath, QSettings::IniFormat);
  // A folder in the file's place cannot be read; QSettings alone would take
  // it for an empty file.
  if (QFileInfo(m_strPath).isDir() || m_settings->status() == QSettings::AccessError)
    Fail("cannot be read");
  else if (m_settings->status() == QSettings::FormatError)
    Fail("is not a settings file");
}

CConsoleSettings::~CConsoleSettings() = default;

void CConsoleSettings::Fail(const char* why) {
  m_settings.reset();
  if (m_bFailed) return;
  m_bFailed = true;
  TraceNote("settings: " + m_strPath.toStdString() + ' ' + why + ", the defaults apply");
}

std::optional<QVariant> CConsoleSettings::Value(const QString& key) const {
  if (!m_settings || !m_settings->contains(key)) return std::nullopt;
  return m_settings->value(key);
}

void CConsoleSettings::Write(const QString& key, const QVariant& value) {
  if (!m_settings) return;
  m_settings->setValue(key, value);
  m_settings->sync();  // now, under the file's lock
  // The folder may not be there yet: QSettings makes it, or says it could not.
  if (m_settings->status() != QSettings::NoError) Fail("cannot be written");
}

std::optional<CConsoleSettings::Line> CConsoleSettings::RememberedLine() const {
  if (m_bLinePinned) return std::nullopt;
  const std::optional<int> baud = IntIn(Value(kKeyBaud), kSearchRates[0], kSearchRates[kRateCount - 1]);
  const std::optional<int> address = IntIn(Value(kKeyAddress), 1, 255);
  if (!baud || !RateIndex(*baud) || !address) return std::nullopt;
  Line line;
  line.baud = *baud;
  line.address = *address;
  if (!m_bPortPinned) line.device = Value(kKeyDevice).value_or(QVariant()).toString();
  return line;
}

void CConsoleSettings::RememberLine(const Line& line) {
  if (m_bLinePinned) return;
  if (!m_bPortPinned && !line.device.isEmpty()) Write(kKeyDevice, line.device);
  Write(kKeyBaud, line.baud);
  Write(kKeyAddress, line.address);
}

CConsoleSettings::Search CConsoleSettings::RememberedSearch() const {
  Search search;
  const std::optional<QVariant> ticked = Value(kKeyTicked);
  if (ticked) {
    std::array<bool, kRateCount> boxes{};
    bool sound = true;
    for (const QString& rate : ticked->toStringList()) {
      if (rate.isEmpty()) continue;  // none ticked
      const std::optional<size_t> at = RateIndex(rate.toInt());
      sound = sound && at.has_value();
      if (sound) boxes[*at] = true;
    }
    if (sound) search.ticked = boxes;
  }
  if (!m_bQuickPinned) search.quick = Bool(Value(kKeyQuick));
  if (!m_bTurnaroundPinned)
    search.turnaroundMs = IntIn(Value(kKeyTurnaround), static_cast<int>(kMinSearchTurnaroundMs),
                                static_cast<int>(kMaxSearchTurnaroundMs));
  return search;
}

void CConsoleSettings::RememberTicked(const std::array<bool, kRateCount>& ticked) {
  QStringList rates;
  for (size_t i = 0; i < kRateCount; ++i)
    if (ticked[i]) rates << QString::number(kSearchRates[i]);
  // An empty list would read back as no value at all.
  Write(kKeyTicked, rates.isEmpty() ? QVariant(QString()) : QVariant(rates));
}

void CConsoleSettings::RememberQuick(bool quick) {
  if (!m_bQuickPinned) Write(kKeyQuick, quick);
}

std::optional<bool> CConsoleSettings::RememberedSound() const { return Bool(Value(kKeySound)); }

void CConsoleSettings::RememberSound(bool on) { Write(kKeySound, on); }

std::optional<QRect> CConsoleSettings::RememberedGeometry(const QString& window) const {
  const std::optional<QVariant> value = Value(GeometryKey(window));
  if (!value) return std::nullopt;
  const QRect rect = value->toRect();
  if (!rect.isValid()) return std::nullopt;
  return rect;
}

void CConsoleSettings::RememberGeometry(const QString& window, const QRect& frame) {
  if (frame.isValid() && RememberedGeometry(window) != frame) Write(GeometryKey(window), frame);
}

QPoint CConsoleSettings::KeepInside(const QRect& frame, const QRect& available) {
  const int x = std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width()));
  const int y = std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height()));
  return {x, y};
}
