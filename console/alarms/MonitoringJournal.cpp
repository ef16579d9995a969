#include "alarms/MonitoringJournal.h"

#include <iterator>
#include <utility>

#include "alarmlog/LogTable.h"

namespace {

const char* const kColumns[] = {"时间", "串口", "站号", "事件", "状态", "位置"};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

}  // namespace

CMonitoringJournal::CMonitoringJournal(QObject* parent) : QAbstractTableModel(parent) {}

void CMonitoringJournal::Add(Row row) {
  if (Count() >= kMaxRows) {
    beginRemoveRows({}, 0, 0);
    m_rows.pop_front();
    endRemoveRows();
  }
  beginInsertRows({}, Count(), Count());
  m_rows.push_back(std::move(row));
  endInsertRows();
}

QStringList CMonitoringJournal::Cells(int i) const {
  const Row& row = At(i);
  return {row.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), row.port,
          QString::number(row.station), row.event, row.state, row.position};
}

QStringList CMonitoringJournal::Header() const {
  QStringList header;
  for (const char* column : kColumns) header << QString::fromUtf8(column);
  return header;
}

QByteArray CMonitoringJournal::Csv() const {
  QList<QStringList> rows;
  rows.reserve(Count());
  for (int i = 0; i < Count(); ++i) rows << Cells(i);
  return LogCsv(Header(), rows);
}

int CMonitoringJournal::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

int CMonitoringJournal::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CMonitoringJournal::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Count()) return {};
  return Cells(index.row()).value(index.column());
}

QVariant CMonitoringJournal::headerData(int section, Qt::Orientation orientation,
                                        int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return Header().value(section);
  return section + 1;
}
