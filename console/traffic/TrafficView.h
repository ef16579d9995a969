// The rows of the traffic window, drawn for a list that grows at its end
// once a poll: a new row moves what is shown up by one row, copied on
// screen, and only the new row is drawn; a view scrolled up stays on the
// rows it shows. (A table view lays out and draws every visible cell again
// at each new row, which costs more than the poll itself.)
//
// Rows are named by their sequence numbers, so a row that drops off the
// front of the log does not move the others under the operator's eyes.
//
// Rows can be selected (click, Ctrl and Shift with it, the arrow keys,
// Ctrl+A) and copied tab-separated (Ctrl+C); a cell too long for its column
// ends in "…" and shows whole in its tooltip. The rows and cells are a
// table on the accessibility bus (CTrafficAccessible).
#pragma once

#include <QAbstractScrollArea>
#include <QStaticText>

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

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
  const CTrafficModel& Model() const { return m_model; }

  // Selection by model row (0 the oldest row kept).
  bool IsRowSelected(int row) const;
  std::vector<int> SelectedRows() const;
  void SelectRow(int row, bool select);
  void ClearSelection();
  // The selected rows as the clipboard gets them: cells tab-separated, a
  // line each, oldest first.
  QString SelectedText() const;
  void CopySelection() const;
  // The cell under a viewport point: {row, column}, {-1, -1} for none.
  std::pair<int, int> CellAt(const QPoint& point) const;
  // What a cell shows in `width` pixels: its text, or its start and "…".
  QString ShownText(int row, int column, int width) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // Rows that fit whole.
  int WholeRows() const;
  void UpdateScrollBars();
  void PlaceHeader();
  // Shows the rows from `top` on, the columns from `left` pixels on: what
  // stays in view is copied, the rest drawn.
  void MoveTo(uint64_t top, int left);
  const QStaticText& Text(uint64_t sequence, int row, int column, int width) const;
  void MoveSelection(int by, bool extend);
  void SelectTo(uint64_t sequence, bool extend, bool toggle);
  void ScrollToSequence(uint64_t sequence);
  // Tells an accessibility client that rows came or went (when one listens).
  void NotifyRowsChanged();

  CTrafficModel& m_model;
  QHeaderView* m_header;
  uint64_t m_top = 0;  // sequence of the first row in view
  uint64_t m_end = 0;  // sequence after the last row
  int m_left = 0;
  // Rows never change: each cell is laid out once for its column's width.
  struct Cell {
    int width = -1;
    QStaticText text;
  };
  mutable std::map<std::pair<uint64_t, int>, Cell> m_cells;
  std::set<uint64_t> m_selected;  // by sequence number
  uint64_t m_anchor = 0;          // where a Shift selection starts; 0 none
};
