// The console's own record of what monitoring saw: one row per start, state
// transition, leak move, acknowledgement and stop, with the time to the
// second, the port, the station, the state and the position. Kept for the
// session, the newest 10,000 rows; exported as CSV like the alarm list.
// Not the controller's alarm log: this is what the operator was shown.
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <deque>

class CMonitoringJournal : public QAbstractTableModel {
  Q_OBJECT

 public:
  struct Row {
    QDateTime when;
    QString port;
    int station = 0;
    QString event;
    QString state;
    QString position;
  };
  static constexpr int kMaxRows = 10000;

  explicit CMonitoringJournal(QObject* parent = nullptr);

  // Appends a row; past kMaxRows the oldest goes.
  void Add(Row row);
  int Count() const { return static_cast<int>(m_rows.size()); }
  const Row& At(int i) const { return m_rows[static_cast<size_t>(i)]; }
  // Every row's cells in the columns' order, oldest first.
  QStringList Cells(int i) const;
  QStringList Header() const;
  // UTF-8 with a byte-order mark, the header first, CRLF line ends.
  QByteArray Csv() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::deque<Row> m_rows;
};
