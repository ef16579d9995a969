#include "traffic/TrafficView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

#include "traffic/QuietScrollBar.h"
#include "traffic/TrafficAccessible.h"
#include "traffic/TrafficModel.h"

namespace {

constexpr int kColumnWidths[] = {95, 120, 250, 330, 75, 60};
static_assert(std::size(kColumnWidths) == CTrafficModel::kColumns);
constexpr int kCellMargin = 3;
constexpr size_t kCachedCells = 600;  // more than a tall screen of rows

}  // namespace

CTrafficView::CTrafficView(CTrafficModel& model, QWidget* parent)
    : QAbstractScrollArea(parent), m_model(model), m_header(new QHeaderView(Qt::Horizontal, this)) {
  CTrafficAccessible::Install();
  m_header->setModel(&m_model);
  m_header->setSectionsClickable(false);
  m_header->setStretchLastSection(true);
  for (int c = 0; c < CTrafficModel::kColumns; ++c) m_header->resizeSection(c, kColumnWidths[c]);
  connect(m_header, &QHeaderView::sectionResized, this, [this] {
    UpdateScrollBars();
    viewport()->update();
  });
  setVerticalScrollBar(new CQuietScrollBar(Qt::Vertical, this));
  setHorizontalScrollBar(new CQuietScrollBar(Qt::Horizontal, this));
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setSingleStep(20);
  setFocusPolicy(Qt::StrongFocus);
  m_top = m_end = m_model.Sequence(0);
  PlaceHeader();
  RowsChanged();
}

int CTrafficView::RowHeight() const { return fontMetrics().height() + 4; }

int CTrafficView::WholeRows() const { return std::max(1, viewport()->height() / RowHeight()); }

bool CTrafficView::AtEnd() const {
  return verticalScrollBar()->value() == verticalScrollBar()->maximum();
}

void CTrafficView::RowsChanged() {
  // Asked before the range takes the new rows in.
  const bool follow = AtEnd();
  const uint64_t oldEnd = m_end;
  const int rows = m_model.rowCount();
  m_end = m_model.Sequence(rows);
  UpdateScrollBars();
  QScrollBar* bar = verticalScrollBar();
  const uint64_t first = m_model.Sequence(0);
  const int keep = m_top > first ? static_cast<int>(std::min<uint64_t>(m_top - first, INT32_MAX)) : 0;
  bar->setValue(follow ? bar->maximum() : keep);
  MoveTo(m_model.Sequence(bar->value()), horizontalScrollBar()->value());
  // Rows that dropped off the log are no longer selected.
  m_selected.erase(m_selected.begin(), m_selected.lower_bound(first));
  NotifyRowsChanged();
  // New rows below those shown, while the view is not yet full.
  const uint64_t from = std::max(oldEnd, m_top);
  if (from < m_end && from - m_top < static_cast<uint64_t>(WholeRows() + 1)) {
    const int y = static_cast<int>(from - m_top) * RowHeight();
    viewport()->update(0, y, viewport()->width(), viewport()->height() - y);
  }
}

void CTrafficView::UpdateScrollBars() {
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(WholeRows());
  bar->setRange(0, std::max(0, m_model.rowCount() - WholeRows()));
  QScrollBar* across = horizontalScrollBar();
  across->setPageStep(viewport()->width());
  across->setRange(0, std::max(0, m_header->length() - viewport()->width()));
}

void CTrafficView::PlaceHeader() {
  const int height = m_header->sizeHint().height();
  setViewportMargins(0, height, 0, 0);
  const QRect view = viewport()->geometry();
  m_header->setGeometry(view.left(), view.top() - height, view.width(), height);
}

void CTrafficView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  PlaceHeader();
  const bool follow = AtEnd();
  UpdateScrollBars();
  if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void CTrafficView::scrollContentsBy(int, int) {
  // The scroll bars say where the view is; what moved is told by sequence
  // numbers, not by the bars' steps.
  MoveTo(m_model.Sequence(verticalScrollBar()->value()), horizontalScrollBar()->value());
}

void CTrafficView::MoveTo(uint64_t top, int left) {
  const int64_t down = static_cast<int64_t>(top - m_top);
  const int right = left - m_left;
  m_top = top;
  m_left = left;
  m_header->setOffset(left);
  if (down == 0 && right == 0) return;
  const bool copy = (down == 0 || right == 0) && std::llabs(down) <= WholeRows();
  if (copy)
    viewport()->scroll(-right, static_cast<int>(-down) * RowHeight());
  else
    viewport()->update();
}

QString CTrafficView::ShownText(int row, int column, int width) const {
  const QString text = m_model.data(m_model.index(row, column), Qt::DisplayRole).toString();
  return fontMetrics().elidedText(text, Qt::ElideRight, width);
}

const QStaticText& CTrafficView::Text(uint64_t sequence, int row, int column, int width) const {
  const auto key = std::make_pair(sequence, column);
  auto it = m_cells.find(key);
  if (it != m_cells.end() && it->second.width == width) return it->second.text;
  if (it == m_cells.end() && m_cells.size() >= kCachedCells) m_cells.clear();
  QStaticText text(ShownText(row, column, width));
  text.setTextFormat(Qt::PlainText);
  text.prepare(QTransform(), font());
  Cell& cell = m_cells[key];
  cell = {width, std::move(text)};
  return cell.text;
}

void CTrafficView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const int height = RowHeight();
  const QRect dirty = event->rect();
  const QPalette& colors = palette();
  const QColor stripe = colors.color(QPalette::AlternateBase);
  for (int shown = dirty.top() / height; shown <= dirty.bottom() / height; ++shown) {
    const uint64_t sequence = m_top + static_cast<uint64_t>(shown);
    if (sequence >= m_end) break;
    const int row = static_cast<int>(sequence - m_model.Sequence(0));
    const int y = shown * height;
    // Stripes go with the rows, not with their place on screen.
    const bool selected = m_selected.count(sequence) != 0;
    if (selected)
      painter.fillRect(QRect(0, y, viewport()->width(), height), colors.color(QPalette::Highlight));
    else if (sequence % 2 == 0)
      painter.fillRect(QRect(0, y, viewport()->width(), height), stripe);
    painter.setPen(colors.color(selected ? QPalette::HighlightedText : QPalette::Text));
    for (int c = 0; c < CTrafficModel::kColumns; ++c) {
      const QRect cell(m_header->sectionViewportPosition(c) + kCellMargin, y,
                       m_header->sectionSize(c) - 2 * kCellMargin, height);
      if (!cell.intersects(dirty)) continue;
      const QStaticText& text = Text(sequence, row, c, cell.width());
      painter.save();
      painter.setClipRect(cell);
      painter.drawStaticText(cell.left(), y + (height - static_cast<int>(text.size().height())) / 2,
                             text);
      painter.restore();
    }
  }
}

// --- Selection, copy, tooltips -----------------------------------------------------

bool CTrafficView::IsRowSelected(int row) const {
  return row >= 0 && row < m_model.rowCount() && m_selected.count(m_model.Sequence(row)) != 0;
}

std::vector<int> CTrafficView::SelectedRows() const {
  std::vector<int> rows;
  const uint64_t first = m_model.Sequence(0);
  for (uint64_t sequence : m_selected)
    if (sequence >= first && sequence < m_end) rows.push_back(static_cast<int>(sequence - first));
  return rows;
}

void CTrafficView::SelectRow(int row, bool select) {
  if (row < 0 || row >= m_model.rowCount()) return;
  if (select)
    m_selected.insert(m_model.Sequence(row));
  else
    m_selected.erase(m_model.Sequence(row));
  viewport()->update();
}

void CTrafficView::ClearSelection() {
  m_selected.clear();
  viewport()->update();
}

QString CTrafficView::SelectedText() const {
  QString text;
  for (int row : SelectedRows()) text += m_model.RowCells(row).join(QLatin1Char('\t')) + QLatin1Char('\n');
  return text;
}

void CTrafficView::CopySelection() const {
  // Nothing selected leaves the clipboard as it was.
  const QString text = SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

std::pair<int, int> CTrafficView::CellAt(const QPoint& point) const {
  const uint64_t sequence = m_top + static_cast<uint64_t>(std::max(0, point.y()) / RowHeight());
  const int column = m_header->logicalIndexAt(point.x());
  if (point.y() < 0 || sequence >= m_end || column < 0) return {-1, -1};
  return {static_cast<int>(sequence - m_model.Sequence(0)), column};
}

void CTrafficView::SelectTo(uint64_t sequence, bool extend, bool toggle) {
  if (extend && m_anchor >= m_model.Sequence(0) && m_anchor < m_end) {
    m_selected.clear();
    for (uint64_t s = std::min(m_anchor, sequence); s <= std::max(m_anchor, sequence); ++s)
      m_selected.insert(s);
  } else if (toggle) {
    if (!m_selected.erase(sequence)) m_selected.insert(sequence);
    m_anchor = sequence;
  } else {
    m_selected = {sequence};
    m_anchor = sequence;
  }
  viewport()->update();
}

void CTrafficView::MoveSelection(int by, bool extend) {
  if (m_model.rowCount() == 0) return;
  const uint64_t first = m_model.Sequence(0);
  const uint64_t from = m_selected.empty() ? (by > 0 ? first - 1 : m_end)
                                           : (by > 0 ? *m_selected.rbegin() : *m_selected.begin());
  const int64_t to = std::clamp<int64_t>(static_cast<int64_t>(from) + by, static_cast<int64_t>(first),
                                         static_cast<int64_t>(m_end) - 1);
  SelectTo(static_cast<uint64_t>(to), extend, false);
  ScrollToSequence(static_cast<uint64_t>(to));
}

void CTrafficView::ScrollToSequence(uint64_t sequence) {
  QScrollBar* bar = verticalScrollBar();
  const int row = static_cast<int>(sequence - m_model.Sequence(0));
  if (row < bar->value())
    bar->setValue(row);
  else if (row >= bar->value() + WholeRows())
    bar->setValue(row - WholeRows() + 1);
}

void CTrafficView::mousePressEvent(QMouseEvent* event) {
  const auto [row, column] = CellAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && row >= 0)
    SelectTo(m_model.Sequence(row), event->modifiers() & Qt::ShiftModifier,
             event->modifiers() & Qt::ControlModifier);
  QAbstractScrollArea::mousePressEvent(event);
}

void CTrafficView::keyPressEvent(QKeyEvent* event) {
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  if (event->matches(QKeySequence::Copy)) {
    CopySelection();
  } else if (event->matches(QKeySequence::SelectAll)) {
    for (int row = 0; row < m_model.rowCount(); ++row) m_selected.insert(m_model.Sequence(row));
    viewport()->update();
  } else if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
    MoveSelection(event->key() == Qt::Key_Up ? -1 : 1, shift);
  } else {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  event->accept();
}

// A cell cut short shows whole in its tooltip.
bool CTrafficView::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QAbstractScrollArea::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const auto [row, column] = CellAt(help->pos());
  const QString whole =
      row >= 0 ? m_model.data(m_model.index(row, column), Qt::DisplayRole).toString() : QString();
  const int width = column >= 0 ? m_header->sectionSize(column) - 2 * kCellMargin : 0;
  if (row >= 0 && ShownText(row, column, width) != whole)
    QToolTip::showText(help->globalPos(), whole, viewport());
  else
    QToolTip::hideText();
  return true;
}

void CTrafficView::NotifyRowsChanged() {
  // Without a client listening, nothing is built or sent: the window's
  // cost per poll stays what it was.
  if (!QAccessible::isActive()) return;
  QAccessibleTableModelChangeEvent change(this, QAccessibleTableModelChangeEvent::ModelReset);
  QAccessible::updateAccessibility(&change);
}
