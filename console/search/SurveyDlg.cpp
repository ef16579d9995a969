#include "search/SurveyDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr char kTextTitle[] = "搜索全部";
constexpr char kTextUse[] = "使用";
constexpr char kTextSurveying[] = "正在搜索…";
constexpr char kTextCollision[] = "地址 %1：应答校验错，可能有两台同地址控制器";

enum Column { kRate, kAddress, kAnswer, kColumns };
const char* const kHeaders[kColumns] = {"波特率", "地址", "应答"};

// Marks the rows that stand for a controller (a collision row does not).
constexpr int kControllerRole = Qt::UserRole;

// The probe reads the A1 range: 0 to 3 are "量程1" to "量程4".
QString AnswerText(int value, int exception) {
  if (exception != 0) return QStringLiteral("异常应答（代码 %1）").arg(exception);
  if (value >= 0 && value <= 3) return QStringLiteral("A1量程：量程%1").arg(value + 1);
  return QStringLiteral("A1量程：%1").arg(value);
}

}  // namespace

CSurveyDlg::CSurveyDlg(QWidget* parent)
    : QDialog(parent), m_status(new QLabel(this)), m_list(new QTreeWidget(this)) {
  setWindowTitle(QString::fromUtf8(kTextTitle));
  m_list->setColumnCount(kColumns);
  QStringList headers;
  for (const char* header : kHeaders) headers << QString::fromUtf8(header);
  m_list->setHeaderLabels(headers);
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->header()->setStretchLastSection(true);
  // Rate and address are short: the room goes to the answer.
  m_list->setColumnWidth(kRate, fontMetrics().horizontalAdvance(QStringLiteral("波特率 38400")));
  m_list->setColumnWidth(kAddress, fontMetrics().horizontalAdvance(QStringLiteral("地址 255")));
  m_list->setAccessibleName(QString::fromUtf8(kTextTitle));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  m_use = buttons->addButton(QString::fromUtf8(kTextUse), QDialogButtonBox::ActionRole);
  connect(m_use, &QPushButton::clicked, this, [this] { UseItem(m_list->currentItem()); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  connect(m_list, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { UseItem(item); });
  connect(m_list, &QTreeWidget::currentItemChanged, this, &CSurveyDlg::UpdateButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_status);
  layout->addWidget(m_list);
  layout->addWidget(buttons);
  resize(fontMetrics().horizontalAdvance(QString::fromUtf8(kTextCollision).arg(255)) +
             m_list->columnWidth(kRate) + m_list->columnWidth(kAddress) + 60,
         300);
  UpdateButton();
}

void CSurveyDlg::Begin() {
  m_list->clear();
  m_nControllers = 0;
  SetStatus(QString::fromUtf8(kTextSurveying));
  UpdateButton();
}

void CSurveyDlg::AddController(int baud, int address, int value, int exception) {
  auto* item = new QTreeWidgetItem(m_list, {QString::number(baud), QString::number(address),
                                            AnswerText(value, exception)});
  item->setData(kRate, kControllerRole, true);
  ++m_nControllers;
  // The first find is ready for "使用" at once.
  if (!m_list->currentItem()) m_list->setCurrentItem(item);
}

void CSurveyDlg::AddCollision(int baud, int address) {
  auto* item = new QTreeWidgetItem(m_list, {QString::number(baud), QString::number(address),
                                            QString::fromUtf8(kTextCollision).arg(address)});
  const QColor warning = palette().color(QPalette::Base).lightness() > 128 ? QColor(0xB0, 0x20, 0x20)
                                                                             : QColor(0xFF, 0x80, 0x80);
  for (int column = 0; column < kColumns; ++column) item->setForeground(column, warning);
  item->setToolTip(kAnswer, item->text(kAnswer));
}

void CSurveyDlg::SetStatus(const QString& text) { m_status->setText(text); }

QString CSurveyDlg::Status() const { return m_status->text(); }

bool CSurveyDlg::UseRow(int row) { return UseItem(m_list->topLevelItem(row)); }

bool CSurveyDlg::UseItem(const QTreeWidgetItem* item) {
  if (!item || !item->data(kRate, kControllerRole).toBool()) return false;
  emit Use(item->text(kRate).toInt(), item->text(kAddress).toInt());
  return true;
}

void CSurveyDlg::UpdateButton() {
  const QTreeWidgetItem* item = m_list->currentItem();
  m_use->setEnabled(item && item->data(kRate, kControllerRole).toBool());
}
