#include "traffic/TrafficModel.h"

#include <algorithm>

#include "traffic/Trace.h"

namespace {

constexpr const char* kHeader[] = {"时间", "串口", "请求", "应答", "结果", "往返 ms"};
// By ExchangeOutcome.
constexpr const char* kOutcomes[] = {"正常", "无应答", "校验错", "长度错", "异常", "其他站号"};
static_assert(std::size(kOutcomes) == kExchangeOutcomes);
// After the outcome of an exchange whose request the adapter echoed.
constexpr char kEchoMark[] = " 回显";
static_assert(std::size(kHeader) == CTrafficModel::kColumns);

}  // namespace

CTrafficModel::CTrafficModel(CTrafficLog& log, QObject* parent)
    : QAbstractTableModel(parent), m_log(log) {
  m_rows.first = m_rows.next = log.Range().first;  // no rows until the first Follow()
}

void CTrafficModel::Follow() {
  const TrafficRange log = m_log.Range();
  if (log.first > m_rows.first) {
    const uint64_t gone = std::min(log.first, m_rows.next) - m_rows.first;
    if (gone > 0) {
      beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
      m_rows.first += gone;
      endRemoveRows();
    }
    // Every row shown is gone, and those after them that were never shown.
    if (m_rows.first < log.first) m_rows.first = m_rows.next = log.first;
  }
  if (log.next > m_rows.next) {
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(log.next - m_rows.next) - 1);
    m_rows.next = log.next;
    endInsertRows();
  }
}

void CTrafficModel::Clear() {
  beginResetModel();
  m_rows.first = m_rows.next = m_log.Range().next;
  endResetModel();
}

QStringList CTrafficModel::RowCells(int row) const {
  QStringList cells;
  TrafficRecord record;
  if (row < 0 || row >= rowCount() || !m_log.Get(Sequence(row), record)) return cells;
  for (int c = 0; c < kColumns; ++c) cells << Cell(record, c);
  return cells;
}

QStringList CTrafficModel::HeaderCells() {
  QStringList cells;
  for (const char* title : kHeader) cells << QString::fromUtf8(title);
  return cells;
}

QString CTrafficModel::OutcomeText(ExchangeOutcome outcome, uint8_t exceptionCode) {
  const QString text = QString::fromUtf8(kOutcomes[static_cast<size_t>(outcome)]);
  if (outcome != ExchangeOutcome::Exception) return text;
  return text + QLatin1Char(' ') + QString::number(exceptionCode);
}

QString CTrafficModel::Cell(const TrafficRecord& record, int column) const {
  switch (column) {
    case kTime: return QString::fromStdString(FormatTraceTime(record.when));
    case kPort:
      return QStringLiteral("%1 %2")
          .arg(QString::fromStdString(m_log.DeviceName(record.device)))
          .arg(record.baud);
    case kRequest: return QString::fromStdString(FormatHex(record.Request()));
    case kReply: return QString::fromStdString(FormatHex(record.Reply()));
    case kOutcome:
      return OutcomeText(record.outcome, record.exceptionCode) +
             (record.echoed ? QString::fromUtf8(kEchoMark) : QString());
    case kRoundTrip: return QString::asprintf("%.1f", record.roundTripMs);
    default: return {};
  }
}

int CTrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.Size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  TrafficRecord record;
  if (role != Qt::DisplayRole || !m_log.Get(Sequence(index.row()), record)) return {};
  return Cell(record, index.column());
}

QVariant CTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  return section >= 0 && section < kColumns ? QString::fromUtf8(kHeader[section]) : QVariant();
}
