// "搜索全部": what a survey of the line found, in a window of its own beside
// the console. A row for each controller that answered (rate, station
// address, the range it answered with) and for each address whose replies
// collided. "使用" or a double-click hands a controller's rate and address
// to the window, which sets its top row to them; the window itself talks to
// no port.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CSurveyDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSurveyDlg(QWidget* parent = nullptr);

  // A survey begins: the rows of the last one go.
  void Begin();
  void AddController(int baud, int address, int value, int exception);
  void AddCollision(int baud, int address);
  // The line above the rows: how the survey stands or ended.
  void SetStatus(const QString& text);

  int ControllerCount() const { return m_nControllers; }
  QString Status() const;
  const QTreeWidget& List() const { return *m_list; }
  // Hands on the controller in `row`, as "使用" does; false for a collision.
  bool UseRow(int row);

 signals:
  void Use(int baud, int address);

 private:
  bool UseItem(const QTreeWidgetItem* item);
  void UpdateButton();

  QLabel* m_status = nullptr;
  QTreeWidget* m_list = nullptr;
  QPushButton* m_use = nullptr;
  int m_nControllers = 0;
};
