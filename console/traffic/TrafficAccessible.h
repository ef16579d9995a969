// The traffic window's rows on the accessibility bus: the custom view as a
// table (QAccessibleTableInterface) whose cells are its rows' cells, so that
// a screen reader reads them as it read the table view the window once had.
// Cells are made when a client asks for them and live until the rows they
// stand for change.
#pragma once

#include <QAccessibleWidget>

#include <map>
#include <utility>

class CTrafficView;

class CTrafficAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  explicit CTrafficAccessible(CTrafficView* view);
  ~CTrafficAccessible() override;

  // For QAccessible::installFactory: the interface of a CTrafficView.
  static QAccessibleInterface* Factory(const QString& className, QObject* object);
  static void Install();

  void* interface_cast(QAccessible::InterfaceType type) override;
  int childCount() const override;
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;

  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override;
  int selectedCellCount() const override;
  QList<QAccessibleInterface*> selectedCells() const override;
  QString columnDescription(int column) const override;
  int columnCount() const override;
  QString rowDescription(int row) const override;
  int rowCount() const override;
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override;
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override;
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int row) const override;
  bool selectRow(int row) override;
  bool selectColumn(int) override { return false; }
  bool unselectRow(int row) override;
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent* event) override;

  CTrafficView* View() const;

 private:
  void ForgetCells();
  mutable std::map<std::pair<int, int>, QAccessible::Id> m_cells;  // by row, column
};
