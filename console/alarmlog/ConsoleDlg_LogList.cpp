// The alarm list as material for a report: export to a CSV file ("导出日志…",
// Ctrl+S on the list), copying the selected rows ("复制"), ordering by a
// column header (a second click reverses; a new read starts in reading
// order), and the progress and stop of a paged read ("正在读取 n/N"; Esc or
// "停止").
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

#include "window/ConsoleDlg.h"
#include "alarmlog/FileExport.h"
#include "alarmlog/LogReader.h"
#include "alarmlog/LogTable.h"
#include "resource.h"

namespace {

constexpr char kTextExportLog[] = "导出日志…";
constexpr char kTextCopy[] = "复制";
constexpr char kTextStop[] = "停止";
constexpr char kTextExportFilter[] = "CSV (*.csv)";
constexpr char kTextReading[] = "正在读取 %1/%2";
// After the count of a read that ended early: the rows it listed.
constexpr char kTextCountStopped[] = "（已读 %1，读取已停止）";
constexpr char kTextCountFailed[] = "（已读 %1，读取失败）";
// The success of an export or copy of such a list: rows, count, why.
constexpr char kTextExportedPart[] = "已导出 %1 条，控制器共有 %2 条（%3）。";
constexpr char kTextCopiedPart[] = "已复制 %1 条；列表只有控制器 %2 条中的一部分（%3）。";
constexpr char kTextWhyStopped[] = "读取已停止";
constexpr char kTextWhyFailed[] = "读取失败";
constexpr int kCountGap = 6;  // pixels between the count and "读取日志"

QTreeWidget* AlarmList(const CConsoleDlg& dlg) {
  return qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_ALARM_LIST));
}

QAction* AddAction(QMenu& menu, QWidget& owner, const char* text, const QKeySequence& keys,
                   Qt::ShortcutContext context) {
  QAction* action = menu.addAction(QString::fromUtf8(text));
  action->setShortcut(keys);
  action->setShortcutContext(context);
  owner.addAction(action);  // the shortcut works without the menu open
  return action;
}

}  // namespace

void CConsoleDlg::SetUpAlarmListTools() {
  QTreeWidget* list = AlarmList(*this);
  if (!list) return;
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_pLogMenu = new QMenu(list);
  connect(AddAction(*m_pLogMenu, *list, kTextExportLog, QKeySequence::Save, Qt::WidgetShortcut),
          &QAction::triggered, this, &CConsoleDlg::OnExportLog);
  connect(AddAction(*m_pLogMenu, *list, kTextCopy, QKeySequence::Copy, Qt::WidgetShortcut),
          &QAction::triggered, this, &CConsoleDlg::OnCopyLogRows);
  // Esc stops a read wherever the focus is; otherwise it closes the window.
  m_pStopLogRead = AddAction(*m_pLogMenu, *this, kTextStop, Qt::Key_Escape, Qt::WindowShortcut);
  m_pStopLogRead->setEnabled(false);
  connect(m_pStopLogRead, &QAction::triggered, this, &CConsoleDlg::OnStopLogRead);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this,
          [this, list](const QPoint& at) { m_pLogMenu->popup(list->viewport()->mapToGlobal(at)); });

  list->header()->setSectionsClickable(true);
  connect(list->header(), &QHeaderView::sectionClicked, this, &CConsoleDlg::OnSortLog);
  // Every read (and the clear) empties the list first: the order is the
  // controller's again.
  connect(list->model(), &QAbstractItemModel::modelReset, this, &CConsoleDlg::ResetLogSort);
  // ... and what it holds is no longer a part of an earlier read.
  connect(list->model(), &QAbstractItemModel::modelReset, this, [this] { m_nLogPartialOf = -1; });

  // Room for the progress beside the count, up to the "读取日志" button.
  QWidget* count = GetDlgItem(IDC_LOG_COUNT);
  QWidget* read = GetDlgItem(IDC_READ_LOG);
  if (count && read && read->x() - kCountGap > count->x())
    count->resize(read->x() - kCountGap - count->x(), count->height());
}

void CConsoleDlg::DetachAlarmListTools() {
  if (QTreeWidget* list = AlarmList(*this)) disconnect(list->model(), nullptr, this, nullptr);
}

void CConsoleDlg::OnExportLog() {
  const QTreeWidget* list = AlarmList(*this);
  if (!list) return;
  const QDateTime now = m_timeSource ? m_timeSource() : QDateTime::currentDateTime();
  const std::optional<uint8_t> address = ReadConnection().address;
  const QList<QStringList> rows = LogRows(*list);
  if (ExportFile(this, QString::fromUtf8(kTextExportLog).remove(QChar(0x2026)),
                 LogExportFileName(address.value_or(0), now), QString::fromUtf8(kTextExportFilter),
                 LogCsv(LogHeader(*list), rows)) &&
      m_nLogPartialOf >= 0)
    WindowInformation(PartialLogNote(kTextExportedPart, static_cast<int>(rows.size())));
}

void CConsoleDlg::OnCopyLogRows() {
  const QTreeWidget* list = AlarmList(*this);
  if (!list) return;
  // Nothing selected leaves the clipboard as it was.
  const QList<QStringList> rows = SelectedLogRows(*list);
  if (rows.isEmpty()) return;
  QApplication::clipboard()->setText(LogClipboardText(rows));
  if (m_nLogPartialOf >= 0)
    WindowInformation(PartialLogNote(kTextCopiedPart, static_cast<int>(rows.size())));
}

void CConsoleDlg::OnStopLogRead() {
  // Pages are read between turns of the event loop, so no page is under way
  // here: the rows so far stay, the port closes, the commands come back.
  if (m_pLogReader) m_pLogReader->Stop();
}

void CConsoleDlg::OnSortLog(int column) {
  QTreeWidget* list = AlarmList(*this);
  // Pages still coming would land below a sorted list; sort once it is read.
  if (!list || IsReadingLog()) return;
  m_logSortOrder = column == m_nLogSortColumn && m_logSortOrder == Qt::AscendingOrder
                       ? Qt::DescendingOrder
                       : Qt::AscendingOrder;
  m_nLogSortColumn = column;
  SortLogRows(*list, column, m_logSortOrder);
  list->header()->setSortIndicator(column, m_logSortOrder);
  list->header()->setSortIndicatorShown(true);
}

void CConsoleDlg::ResetLogSort() {
  m_nLogSortColumn = -1;
  m_logSortOrder = Qt::AscendingOrder;
  if (QTreeWidget* list = AlarmList(*this)) list->header()->setSortIndicatorShown(false);
}

void CConsoleDlg::StartLogProgress(int total) {
  QTreeWidget* list = AlarmList(*this);
  if (!list) return;
  m_nLogReadTotal = total;
  m_pStopLogRead->setEnabled(true);
  // One insertion a page.
  m_logProgress = connect(list->model(), &QAbstractItemModel::rowsInserted, this,
                          &CConsoleDlg::ShowLogProgress);
  ShowLogProgress();
}

void CConsoleDlg::ShowLogProgress() {
  const QTreeWidget* list = AlarmList(*this);
  if (!list || m_nLogReadTotal < 0) return;
  SetDlgItemText(
      IDC_LOG_COUNT,
      QString::fromUtf8(kTextReading).arg(list->topLevelItemCount()).arg(m_nLogReadTotal));
}

void CConsoleDlg::EndLogProgress(bool stopped) {
  if (m_nLogReadTotal < 0) return;
  disconnect(m_logProgress);
  if (m_pStopLogRead) m_pStopLogRead->setEnabled(false);
  const QTreeWidget* list = AlarmList(*this);
  const int rows = list ? list->topLevelItemCount() : 0;
  QString count = QString::number(m_nLogReadTotal);
  if (rows < m_nLogReadTotal) {
    // A read cut short must not pass for the whole log.
    m_nLogPartialOf = m_nLogReadTotal;
    m_bLogReadStopped = stopped;
    count += QString::fromUtf8(stopped ? kTextCountStopped : kTextCountFailed).arg(rows);
  }
  SetDlgItemText(IDC_LOG_COUNT, count);
  m_nLogReadTotal = -1;
}

QString CConsoleDlg::PartialLogNote(const char* format, int rows) const {
  if (m_nLogPartialOf < 0) return {};
  const QString why = QString::fromUtf8(m_bLogReadStopped ? kTextWhyStopped : kTextWhyFailed);
  return QString::fromUtf8(format).arg(rows).arg(m_nLogPartialOf).arg(why);
}
