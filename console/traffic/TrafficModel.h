// The rows of the traffic window: the records of the traffic log, named by
// their sequence numbers and read from the log as they are shown (the
// window keeps no copy of them), their cells formatted on demand.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include "traffic/TrafficLog.h"

class CTrafficModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kPort, kRequest, kReply, kOutcome, kRoundTrip, kColumns };

  explicit CTrafficModel(CTrafficLog& log, QObject* parent = nullptr);

  // Follows the log: the rows that dropped off it go, its new ones come at
  // the end.
  void Follow();
  void Clear();

  // The sequence number of a row (or of where it would be).
  uint64_t Sequence(int row) const { return m_rows.first + static_cast<uint64_t>(row); }
  // A row's cells as shown, and the header's.
  QStringList RowCells(int row) const;
  static QStringList HeaderCells();
  // The outcome cell: "正常", "无应答", "校验错", "长度错", "异常 n", "其他站号".
  static QString OutcomeText(ExchangeOutcome outcome, uint8_t exceptionCode);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QString Cell(const TrafficRecord& record, int column) const;

  CTrafficLog& m_log;
  TrafficRange m_rows;  // of the log's sequence numbers
};
