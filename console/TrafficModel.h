// The rows of the traffic window: the exchanges taken from the traffic log,
// at most as many as the log keeps, with their cells formatted on demand.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <deque>
#include <vector>

#include "TrafficLog.h"

class CTrafficModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kPort, kRequest, kReply, kOutcome, kRoundTrip, kColumns };
  // A row's sequence number, which names it for as long as the run lasts.
  static constexpr int kSequenceRole = Qt::UserRole;

  explicit CTrafficModel(size_t capacity = CTrafficLog::kCapacity, QObject* parent = nullptr);

  // Appends `entries` (oldest first); the oldest rows drop off beyond the
  // capacity.
  void Append(std::vector<TrafficEntry> entries);
  void Clear();
  // The sequence number the next record to take has.
  uint64_t NextSequence() const { return m_next; }

  // A row's cells as shown, and the header's.
  QStringList RowCells(int row) const;
  static QStringList HeaderCells();
  // The outcome cell: "正常", "无应答", "校验错", "长度错", "异常 n", "其他站号".
  static QString OutcomeText(const TraceRecord& record);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QString Cell(const TraceRecord& record, int column) const;

  const size_t m_capacity;
  std::deque<TrafficEntry> m_rows;
  uint64_t m_next = 1;
};
