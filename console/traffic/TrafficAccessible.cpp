#include "traffic/TrafficAccessible.h"

#include <QHeaderView>

#include "traffic/TrafficModel.h"
#include "traffic/TrafficView.h"

namespace {

// One cell: its text, its place, and its table.
class CTrafficCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
 public:
  CTrafficCell(CTrafficAccessible* table, int row, int column)
      : m_table(table), m_row(row), m_column(column) {}

  bool isValid() const override { return m_table->View() != nullptr; }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return m_table->window(); }
  QAccessibleInterface* parent() const override { return m_table; }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessible::Role role() const override { return QAccessible::Cell; }
  QAccessible::State state() const override {
    QAccessible::State state;
    state.selectable = true;
    state.selected = isSelected();
    return state;
  }
  QRect rect() const override;
  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name && t != QAccessible::Value) return {};
    const CTrafficModel& model = m_table->View()->Model();
    return model.data(model.index(m_row, m_column), Qt::DisplayRole).toString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this)
                                                   : nullptr;
  }

  bool isSelected() const override { return m_table->View()->IsRowSelected(m_row); }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return m_column; }
  int rowIndex() const override { return m_row; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return m_table; }

 private:
  CTrafficAccessible* m_table;
  int m_row, m_column;
};

QRect CTrafficCell::rect() const {
  const CTrafficView* view = m_table->View();
  const int top = static_cast<int>(view->Model().Sequence(m_row) - view->TopSequence());
  const QRect local(view->Header()->sectionViewportPosition(m_column), top * view->RowHeight(),
                    view->Header()->sectionSize(m_column), view->RowHeight());
  return QRect(view->viewport()->mapToGlobal(local.topLeft()), local.size());
}

}  // namespace

CTrafficAccessible::CTrafficAccessible(CTrafficView* view)
    : QAccessibleWidget(view, QAccessible::Table) {}

CTrafficAccessible::~CTrafficAccessible() { ForgetCells(); }

QAccessibleInterface* CTrafficAccessible::Factory(const QString& className, QObject* object) {
  if (className == QLatin1String(CTrafficView::staticMetaObject.className()) && object &&
      object->isWidgetType())
    return new CTrafficAccessible(static_cast<CTrafficView*>(object));
  return nullptr;
}

void CTrafficAccessible::Install() {
  static const bool installed = [] {
    QAccessible::installFactory(&CTrafficAccessible::Factory);
    return true;
  }();
  (void)installed;
}

CTrafficView* CTrafficAccessible::View() const { return static_cast<CTrafficView*>(widget()); }

void* CTrafficAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

int CTrafficAccessible::rowCount() const { return View()->Model().rowCount(); }
int CTrafficAccessible::columnCount() const { return CTrafficModel::kColumns; }
int CTrafficAccessible::childCount() const { return rowCount() * columnCount(); }

QAccessibleInterface* CTrafficAccessible::child(int index) const {
  if (index < 0 || index >= childCount()) return nullptr;
  return cellAt(index / columnCount(), index % columnCount());
}

int CTrafficAccessible::indexOfChild(const QAccessibleInterface* child) const {
  const auto* cell = child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
  return cell ? cell->rowIndex() * columnCount() + cell->columnIndex() : -1;
}

QAccessibleInterface* CTrafficAccessible::cellAt(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return nullptr;
  const auto key = std::make_pair(row, column);
  auto it = m_cells.find(key);
  if (it == m_cells.end()) {
    auto* cell = new CTrafficCell(const_cast<CTrafficAccessible*>(this), row, column);
    it = m_cells.emplace(key, QAccessible::registerAccessibleInterface(cell)).first;
  }
  return QAccessible::accessibleInterface(it->second);
}

QString CTrafficAccessible::columnDescription(int column) const {
  return View()->Model().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

QString CTrafficAccessible::rowDescription(int row) const { return QString::number(row + 1); }

int CTrafficAccessible::selectedRowCount() const {
  return static_cast<int>(View()->SelectedRows().size());
}

QList<int> CTrafficAccessible::selectedRows() const {
  const std::vector<int> rows = View()->SelectedRows();
  return QList<int>(rows.begin(), rows.end());
}

int CTrafficAccessible::selectedCellCount() const { return selectedRowCount() * columnCount(); }

QList<QAccessibleInterface*> CTrafficAccessible::selectedCells() const {
  QList<QAccessibleInterface*> cells;
  for (int row : View()->SelectedRows())
    for (int column = 0; column < columnCount(); ++column) cells << cellAt(row, column);
  return cells;
}

bool CTrafficAccessible::isRowSelected(int row) const { return View()->IsRowSelected(row); }

bool CTrafficAccessible::selectRow(int row) {
  View()->SelectRow(row, true);
  return isRowSelected(row);
}

bool CTrafficAccessible::unselectRow(int row) {
  View()->SelectRow(row, false);
  return !isRowSelected(row);
}

// Rows came or went: a row number now names another record.
void CTrafficAccessible::modelChange(QAccessibleTableModelChangeEvent*) { ForgetCells(); }

void CTrafficAccessible::ForgetCells() {
  for (const auto& [key, id] : m_cells) QAccessible::deleteAccessibleInterface(id);
  m_cells.clear();
}
