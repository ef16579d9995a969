#include "TrafficModel.h"

#include <algorithm>
#include <iterator>

#include "Trace.h"

namespace {

constexpr const char* kHeader[] = {"时间", "串口", "请求", "应答", "结果", "往返 ms"};
// By ExchangeOutcome.
constexpr const char* kOutcomes[] = {"正常", "无应答", "校验错", "长度错", "异常", "其他站号"};
static_assert(std::size(kOutcomes) == kExchangeOutcomes);
static_assert(std::size(kHeader) == CTrafficModel::kColumns);

}  // namespace

CTrafficModel::CTrafficModel(size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), m_capacity(capacity) {}

void CTrafficModel::Append(std::vector<TrafficEntry> entries) {
  if (entries.empty()) return;
  m_next = entries.back().sequence + 1;
  if (entries.size() > m_capacity)
    entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(m_capacity));
  const size_t overflow =
      m_rows.size() + entries.size() > m_capacity ? m_rows.size() + entries.size() - m_capacity : 0;
  if (overflow > 0) {
    beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(overflow));
    endRemoveRows();
  }
  const int first = static_cast<int>(m_rows.size());
  beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
  std::move(entries.begin(), entries.end(), std::back_inserter(m_rows));
  endInsertRows();
}

void CTrafficModel::Clear() {
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

QStringList CTrafficModel::RowCells(int row) const {
  QStringList cells;
  if (row < 0 || row >= rowCount()) return cells;
  for (int c = 0; c < kColumns; ++c) cells << Cell(*m_rows[static_cast<size_t>(row)].record, c);
  return cells;
}

QStringList CTrafficModel::HeaderCells() {
  QStringList cells;
  for (const char* title : kHeader) cells << QString::fromUtf8(title);
  return cells;
}

QString CTrafficModel::OutcomeText(const TraceRecord& record) {
  const QString text = QString::fromUtf8(kOutcomes[static_cast<size_t>(record.outcome)]);
  if (record.outcome != ExchangeOutcome::Exception) return text;
  return text + QLatin1Char(' ') + QString::number(record.exceptionCode);
}

QString CTrafficModel::Cell(const TraceRecord& record, int column) const {
  switch (column) {
    case kTime: return QString::fromStdString(FormatTraceTime(record.when));
    case kPort:
      return QStringLiteral("%1 %2").arg(QString::fromStdString(record.device)).arg(record.baud);
    case kRequest: return QString::fromStdString(FormatHex(record.request));
    case kReply: return QString::fromStdString(FormatHex(record.reply));
    case kOutcome: return OutcomeText(record);
    case kRoundTrip: return QString::asprintf("%.1f", record.roundTripMs);
    default: return {};
  }
}

int CTrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TrafficEntry& entry = m_rows[static_cast<size_t>(index.row())];
  if (role == kSequenceRole) return QVariant::fromValue(entry.sequence);
  if (role != Qt::DisplayRole) return {};
  return Cell(*entry.record, index.column());
}

QVariant CTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  // Rows are numbered through the run: the first ones may have dropped off.
  if (orientation == Qt::Vertical)
    return section >= 0 && section < rowCount()
               ? QVariant::fromValue(m_rows[static_cast<size_t>(section)].sequence)
               : QVariant();
  return section >= 0 && section < kColumns ? QString::fromUtf8(kHeader[section]) : QVariant();
}
