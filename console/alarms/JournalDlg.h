// "监测记录": the monitoring journal in a window of its own beside the
// console, newest at the bottom, with "导出记录…" to a CSV file. The rows are
// the journal's (a model); the window only shows them.
#pragma once

#include <QDialog>

class CMonitoringJournal;
class QTableView;

class CJournalDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CJournalDlg(CMonitoringJournal& journal, QWidget* parent = nullptr);

  const QTableView& View() const { return *m_view; }
  // Asks where to save and writes the journal there; false when cancelled
  // or the write failed (the box then says why).
  bool OnExport();

 private:
  CMonitoringJournal& m_journal;
  QTableView* m_view = nullptr;
};
