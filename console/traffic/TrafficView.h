// The rows of the traffic window, drawn for a list that grows at its end
// once a poll: a new row moves what is shown up by one row, copied on
// screen, and only the new row is drawn; a view scrolled up stays on the
// rows it shows. (A table view lays out and draws every visible cell again
// at each new row, which costs more than the poll itself.)
//
// Rows are named by their sequence numbers, so a row that drops off the
// front of the log does not move the others under the operator's eyes.
#pragma once

#include <QAbstractScrollArea>
#include <QStaticText>

#include <cstdint>
#include <map>
#include <utility>

class CTrafficModel;
class QHeaderView;

class CTrafficView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit CTrafficView(CTrafficModel& model, QWidget* parent = nullptr);

  // After the model has followed the log: a view that showed the last row
  // shows the new last row; one scrolled up keeps its first row.
  void RowsChanged();
  // The last row is in view: new rows will be followed.
  bool AtEnd() const;
  // The sequence number of the first row in view.
  uint64_t TopSequence() const { return m_top; }
  QHeaderView* Header() const { return m_header; }
  int RowHeight() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // Rows that fit whole.
  int WholeRows() const;
  void UpdateScrollBars();
  void PlaceHeader();
  // Shows the rows from `top` on, the columns from `left` pixels on: what
  // stays in view is copied, the rest drawn.
  void MoveTo(uint64_t top, int left);
  const QStaticText& Text(uint64_t sequence, int row, int column) const;

  CTrafficModel& m_model;
  QHeaderView* m_header;
  uint64_t m_top = 0;  // sequence of the first row in view
  uint64_t m_end = 0;  // sequence after the last row
  int m_left = 0;
  // Rows never change: each cell is laid out once.
  mutable std::map<std::pair<uint64_t, int>, QStaticText> m_cells;
};
