// "通讯记录": every exchange of the run in a window of its own beside the
// console, newest at the bottom (the view follows the end unless scrolled
// up), with counters by outcome and the round trips' minimum, mean and
// maximum; "清空" forgets them, "导出…" saves the lines as a text file.
//
// Exchanges come from the run's traffic log. While the window is hidden it
// takes nothing from the log; once shown it is told (posted from whichever
// thread recorded) that there is something new, and takes it all at once.
#pragma once

#include <QDialog>

#include "traffic/TrafficLog.h"
#include "traffic/TrafficModel.h"

class QLabel;
class CTrafficView;

class CTrafficDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CTrafficDlg(CTrafficLog& log, QWidget* parent = nullptr);
  ~CTrafficDlg() override;

  const CTrafficModel& Model() const { return m_model; }
  const CTrafficView& View() const { return *m_view; }
  QString CountersText() const;
  static QString CountersText(const TrafficCounters& counters);
  // The file's text: the header and every row, tab-separated, a line each.
  QByteArray ExportText() const;

  // Takes what the log has recorded since the last time.
  void Refresh();
  void OnClear();
  void OnExport();

 signals:
  // From the recording thread, queued to Refresh: only a wake-up, carrying
  // nothing; the rows pass through the log's own lock.
  void Recorded();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  CTrafficLog& m_log;
  CTrafficModel m_model;
  CTrafficView* m_view;
  QLabel* m_counters;
};
