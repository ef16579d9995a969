#include "alarmlog/LogTable.h"

#include <QRegularExpression>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

namespace {

enum LogColumn { kNumber, kTime, kType, kLength };

QStringList Cells(const QTreeWidgetItem& item, int columns) {
  QStringList cells;
  for (int c = 0; c < columns; ++c) cells << item.text(c);
  return cells;
}

// The time stamp's fields as the controller's BCD shows them: read as hex,
// valid BCD keeps its order and a garbled digit still sorts somewhere fixed.
std::vector<qulonglong> TimeKey(const QString& text) {
  static const QRegularExpression kField(QStringLiteral("[0-9A-Fa-f]+"));
  std::vector<qulonglong> key;
  for (auto it = kField.globalMatch(text); it.hasNext();)
    key.push_back(it.next().captured().toULongLong(nullptr, 16));
  return key;
}

// Lengths as text would put "100.00m" before "12.34m".
double LengthKey(const QString& text) {
  QString number = text;
  number.chop(text.endsWith(QLatin1Char('m')) ? 1 : 0);
  return number.toDouble();
}

bool Less(int column, const QString& a, const QString& b) {
  switch (column) {
    case kNumber: return a.toLongLong() < b.toLongLong();
    case kTime: return TimeKey(a) < TimeKey(b);
    case kLength: return LengthKey(a) < LengthKey(b);
    default: return QString::compare(a, b) < 0;
  }
}

}  // namespace

QStringList LogHeader(const QTreeWidget& list) {
  return Cells(*list.headerItem(), list.columnCount());
}

QList<QStringList> LogRows(const QTreeWidget& list) {
  QList<QStringList> rows;
  rows.reserve(list.topLevelItemCount());
  for (int i = 0; i < list.topLevelItemCount(); ++i)
    rows << Cells(*list.topLevelItem(i), list.columnCount());
  return rows;
}

QList<QStringList> SelectedLogRows(const QTreeWidget& list) {
  QList<QStringList> rows;
  for (int i = 0; i < list.topLevelItemCount(); ++i) {
    const QTreeWidgetItem& item = *list.topLevelItem(i);
    if (item.isSelected()) rows << Cells(item, list.columnCount());
  }
  return rows;
}

QString CsvField(const QString& text) {
  static const QRegularExpression kSpecial(QStringLiteral("[,\"\r\n]"));
  if (!text.contains(kSpecial)) return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray LogCsv(const QStringList& header, const QList<QStringList>& rows) {
  QString text;
  const auto line = [&text](const QStringList& cells) {
    QStringList fields;
    for (const QString& cell : cells) fields << CsvField(cell);
    text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
  };
  line(header);
  for (const QStringList& row : rows) line(row);
  return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString LogClipboardText(const QList<QStringList>& rows) {
  QString text;
  for (const QStringList& row : rows) text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
  return text;
}

QString LogExportFileName(int address, const QDateTime& when) {
  return QStringLiteral("QD7420_%1_%2.csv")
      .arg(address)
      .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

void SortLogRows(QTreeWidget& list, int column, Qt::SortOrder order) {
  QList<QTreeWidgetItem*> items = list.invisibleRootItem()->takeChildren();
  std::stable_sort(items.begin(), items.end(),
                   [column, order](QTreeWidgetItem* a, QTreeWidgetItem* b) {
                     const QString& x = a->text(column);
                     const QString& y = b->text(column);
                     if (Less(column, x, y)) return order == Qt::AscendingOrder;
                     if (Less(column, y, x)) return order == Qt::DescendingOrder;
                     return Less(kNumber, a->text(kNumber), b->text(kNumber));  // as read
                   });
  list.addTopLevelItems(items);
}
