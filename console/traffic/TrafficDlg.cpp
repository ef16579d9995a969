#include "traffic/TrafficDlg.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "alarmlog/FileExport.h"
#include "traffic/TrafficView.h"

namespace {

constexpr char kTextTitle[] = "通讯记录";
constexpr char kTextClear[] = "清空";
constexpr char kTextExport[] = "导出…";
constexpr char kTextFilter[] = "文本文件 (*.txt)";
constexpr char kTextCounters[] =
    "正常 %1  无应答 %2  校验错 %3  异常 %4  长度错 %5  其他站号 %6    往返 最小 %7 / 平均 %8 / "
    "最大 %9 ms    回显 %10";

QString Ms(double ms) { return QString::asprintf("%.1f", ms); }

// Counters as wide as the window leaves room for: seven digits each.
TrafficCounters WidestCounters() {
  TrafficCounters c;
  c.byOutcome.fill(8888888);
  c.echoes = 8888888;
  c.timed = 1;
  c.minMs = c.maxMs = c.sumMs = 8888.8;
  return c;
}

}  // namespace

CTrafficDlg::CTrafficDlg(CTrafficLog& log, QWidget* parent)
    : QDialog(parent),
      m_log(log),
      m_model(log, this),
      m_view(new CTrafficView(m_model, this)),
      m_counters(new QLabel(this)) {
  setWindowTitle(QString::fromUtf8(kTextTitle));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setModal(false);

  auto* clear = new QPushButton(QString::fromUtf8(kTextClear), this);
  auto* save = new QPushButton(QString::fromUtf8(kTextExport), this);
  // Enter in the list must not clear it.
  clear->setAutoDefault(false);
  save->setAutoDefault(false);
  connect(clear, &QPushButton::clicked, this, &CTrafficDlg::OnClear);
  connect(save, &QPushButton::clicked, this, &CTrafficDlg::OnExport);
  connect(this, &CTrafficDlg::Recorded, this, &CTrafficDlg::Refresh, Qt::QueuedConnection);
  // Counters that change at every exchange must not lay the window out
  // again: a label of fixed size (room for counts of seven digits) is only
  // repainted.
  m_counters->setFixedSize(
      m_counters->fontMetrics().horizontalAdvance(CountersText(WidestCounters())) + 8,
      m_counters->fontMetrics().height() + 4);
  auto* foot = new QHBoxLayout;
  foot->addWidget(m_counters);
  foot->addStretch(1);
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
  m_log.SetNotifier([this] { emit Recorded(); });
  Refresh();
}

void CTrafficDlg::hideEvent(QHideEvent* event) {
  m_log.SetNotifier({});
  QDialog::hideEvent(event);
}

void CTrafficDlg::Refresh() {
  m_model.Follow();
  m_view->RowsChanged();
  m_counters->setText(CountersText());
}

void CTrafficDlg::OnClear() {
  m_log.Clear();
  m_model.Clear();
  m_view->RowsChanged();
  m_counters->setText(CountersText());
}

QString CTrafficDlg::CountersText() const { return CountersText(m_log.Counters()); }

QString CTrafficDlg::CountersText(const TrafficCounters& c) {
  return QString::fromUtf8(kTextCounters)
      .arg(c.Count(ExchangeOutcome::Accepted))
      .arg(c.Count(ExchangeOutcome::NoReply))
      .arg(c.Count(ExchangeOutcome::BadCheck))
      .arg(c.Count(ExchangeOutcome::Exception))
      .arg(c.Count(ExchangeOutcome::WrongLength))
      .arg(c.Count(ExchangeOutcome::OtherStation))
      .arg(Ms(c.minMs), Ms(c.MeanMs()), Ms(c.maxMs))
      .arg(c.echoes);
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
