// The alarm list as a table for the technician's report: its rows as shown,
// the CSV file and the clipboard text made of them, the proposed file name,
// and the ordering by a column. Plain functions of texts, apart from the
// window.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

class QTreeWidget;
class QTreeWidgetItem;

// The column titles, and the cells of every row in the order shown.
QStringList LogHeader(const QTreeWidget& list);
QList<QStringList> LogRows(const QTreeWidget& list);
// The cells of the selected rows, in the order shown.
QList<QStringList> SelectedLogRows(const QTreeWidget& list);

// One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break, as it is otherwise.
QString CsvField(const QString& text);
// UTF-8 with a byte-order mark, the header row first, CRLF line ends.
QByteArray LogCsv(const QStringList& header, const QList<QStringList>& rows);
// Cells separated by tabs, one row a line: for pasting into a report.
QString LogClipboardText(const QList<QStringList>& rows);
// "QD7420_<address>_<YYYYMMDD-HHMMSS>.csv"
QString LogExportFileName(int address, const QDateTime& when);

// Orders the rows by `column`: 编号 as a number, 时间 by date and time,
// 告警长度 by its metres, 告警类型 as text. Rows with equal keys keep their
// reading order either way.
void SortLogRows(QTreeWidget& list, int column, Qt::SortOrder order);
