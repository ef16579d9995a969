#include "TrafficDlg.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <map>
#include <utility>

#include "FileExport.h"

namespace {

constexpr char kTextTitle[] = "通讯记录";
constexpr char kTextClear[] = "清空";
constexpr char kTextExport[] = "导出…";
constexpr char kTextFilter[] = "文本文件 (*.txt)";
constexpr char kTextCounters[] =
    "正常 %1  无应答 %2  校验错 %3  异常 %4  长度错 %5  其他站号 %6    往返 最小 %7 / 平均 %8 / "
    "最大 %9 ms";
constexpr int kColumnWidths[] = {95, 120, 250, 330, 75, 60};

QString Ms(double ms) { return QString::asprintf("%.1f", ms); }

// One line of plain text a cell, laid out once: rows never change, and
// the style's item painting lays every visible cell out afresh as a
// paragraph with elision at each new row (the view repaints whole when its
// row count changes), which costs more than the poll itself.
class CPlainCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) painter->fillRect(option.rect, option.palette.highlight());
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Text));
    const QStaticText& text = Text(index);
    const QRect cell = option.rect.adjusted(kCellMargin, 0, -kCellMargin, 0);
    painter->save();
    painter->setClipRect(cell);
    painter->drawStaticText(cell.left(), cell.top() + (cell.height() - text.size().height()) / 2,
                            text);
    painter->restore();
  }

 private:
  static constexpr int kCellMargin = 3;
  static constexpr int kCachedCells = 300;  // more than a screen of rows

  const QStaticText& Text(const QModelIndex& index) const {
    const auto key =
        std::make_pair(index.data(CTrafficModel::kSequenceRole).toULongLong(), index.column());
    auto it = m_cache.find(key);
    if (it != m_cache.end()) return it->second;
    if (m_cache.size() >= kCachedCells) m_cache.clear();
    QStaticText text(index.data(Qt::DisplayRole).toString());
    text.setTextFormat(Qt::PlainText);
    return m_cache.emplace(key, std::move(text)).first->second;
  }
  mutable std::map<std::pair<qulonglong, int>, QStaticText> m_cache;
};

}  // namespace

CTrafficDlg::CTrafficDlg(CTrafficLog& log, QWidget* parent)
    : QDialog(parent),
      m_log(log),
      m_model(log, this),
      m_view(new QTableView(this)),
      m_counters(new QLabel(this)) {
  setWindowTitle(QString::fromUtf8(kTextTitle));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setModal(false);
  m_view->setModel(&m_model);
  m_view->setItemDelegate(new CPlainCellDelegate(m_view));
  m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_view->setWordWrap(false);
  m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
  // The time tells the rows apart; a numbered header is one more column of
  // text to paint at every new row.
  m_view->verticalHeader()->hide();
  m_view->horizontalHeader()->setStretchLastSection(true);
  for (int c = 0; c < CTrafficModel::kColumns; ++c) m_view->setColumnWidth(c, kColumnWidths[c]);

  auto* clear = new QPushButton(QString::fromUtf8(kTextClear), this);
  auto* save = new QPushButton(QString::fromUtf8(kTextExport), this);
  // Enter in the list must not clear it.
  clear->setAutoDefault(false);
  save->setAutoDefault(false);
  connect(clear, &QPushButton::clicked, this, &CTrafficDlg::OnClear);
  connect(save, &QPushButton::clicked, this, &CTrafficDlg::OnExport);
  // Counters that grow a digit must not lay the window out again.
  m_counters->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* foot = new QHBoxLayout;
  foot->addWidget(m_counters, 1);
  foot->addWidget(clear);
  foot->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_view, 1);
  layout->addLayout(foot);
  resize(1060, 420);
  m_counters->setText(CountersText());
}

CTrafficDlg::~CTrafficDlg() { m_log.SetNotifier({}); }

void CTrafficDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Posting is all the recording thread does; the rows are taken here.
  m_log.SetNotifier(
      [this] { QMetaObject::invokeMethod(this, "Refresh", Qt::QueuedConnection); });
  Refresh();
}

void CTrafficDlg::hideEvent(QHideEvent* event) {
  m_log.SetNotifier({});
  QDialog::hideEvent(event);
}

void CTrafficDlg::Refresh() {
  QScrollBar* bar = m_view->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  m_model.Follow();
  m_counters->setText(CountersText());
  if (atEnd) m_view->scrollToBottom();
}

void CTrafficDlg::OnClear() {
  m_log.Clear();
  m_model.Clear();
  m_counters->setText(CountersText());
}

QString CTrafficDlg::CountersText() const {
  const TrafficCounters c = m_log.Counters();
  return QString::fromUtf8(kTextCounters)
      .arg(c.Count(ExchangeOutcome::Accepted))
      .arg(c.Count(ExchangeOutcome::NoReply))
      .arg(c.Count(ExchangeOutcome::BadCheck))
      .arg(c.Count(ExchangeOutcome::Exception))
      .arg(c.Count(ExchangeOutcome::WrongLength))
      .arg(c.Count(ExchangeOutcome::OtherStation))
      .arg(Ms(c.minMs), Ms(c.MeanMs()), Ms(c.maxMs));
}

QByteArray CTrafficDlg::ExportText() const {
  QString text = CTrafficModel::HeaderCells().join(QLatin1Char('\t')) + QLatin1Char('\n');
  for (int row = 0; row < m_model.rowCount(); ++row)
    text += m_model.RowCells(row).join(QLatin1Char('\t')) + QLatin1Char('\n');
  return text.toUtf8();
}

void CTrafficDlg::OnExport() {
  Refresh();
  const QString name =
      QStringLiteral("QD7420_traffic_%1.txt")
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
  ExportFile(this, QString::fromUtf8(kTextTitle), name, QString::fromUtf8(kTextFilter),
             ExportText());
}
