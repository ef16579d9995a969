#include "traffic/TrafficView.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "traffic/QuietScrollBar.h"
#include "traffic/TrafficModel.h"

namespace {

constexpr int kColumnWidths[] = {95, 120, 250, 330, 75, 60};
static_assert(std::size(kColumnWidths) == CTrafficModel::kColumns);
constexpr int kCellMargin = 3;
constexpr size_t kCachedCells = 600;  // more than a tall screen of rows

}  // namespace

CTrafficView::CTrafficView(CTrafficModel& model, QWidget* parent)
    : QAbstractScrollArea(parent), m_model(model), m_header(new QHeaderView(Qt::Horizontal, this)) {
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

const QStaticText& CTrafficView::Text(uint64_t sequence, int row, int column) const {
  const auto key = std::make_pair(sequence, column);
  auto it = m_cells.find(key);
  if (it != m_cells.end()) return it->second;
  if (m_cells.size() >= kCachedCells) m_cells.clear();
  QStaticText text(m_model.data(m_model.index(row, column), Qt::DisplayRole).toString());
  text.setTextFormat(Qt::PlainText);
  text.prepare(QTransform(), font());
  return m_cells.emplace(key, std::move(text)).first->second;
}

void CTrafficView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const int height = RowHeight();
  const QRect dirty = event->rect();
  const QPalette& colors = palette();
  const QColor stripe = colors.color(QPalette::AlternateBase);
  painter.setPen(colors.color(QPalette::Text));
  for (int shown = dirty.top() / height; shown <= dirty.bottom() / height; ++shown) {
    const uint64_t sequence = m_top + static_cast<uint64_t>(shown);
    if (sequence >= m_end) break;
    const int row = static_cast<int>(sequence - m_model.Sequence(0));
    const int y = shown * height;
    // Stripes go with the rows, not with their place on screen.
    if (sequence % 2 == 0) painter.fillRect(QRect(0, y, viewport()->width(), height), stripe);
    for (int c = 0; c < CTrafficModel::kColumns; ++c) {
      const QRect cell(m_header->sectionViewportPosition(c) + kCellMargin, y,
                       m_header->sectionSize(c) - 2 * kCellMargin, height);
      if (!cell.intersects(dirty)) continue;
      const QStaticText& text = Text(sequence, row, c);
      painter.save();
      painter.setClipRect(cell);
      painter.drawStaticText(cell.left(), y + (height - static_cast<int>(text.size().height())) / 2,
                             text);
      painter.restore();
    }
  }
}
