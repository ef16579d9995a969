#include "alarms/JournalDlg.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "alarmlog/FileExport.h"
#include "alarms/MonitoringJournal.h"

namespace {

constexpr char kTextTitle[] = "监测记录";
constexpr char kTextExport[] = "导出记录…";
constexpr char kTextExportFilter[] = "CSV (*.csv)";

}  // namespace

CJournalDlg::CJournalDlg(CMonitoringJournal& journal, QWidget* parent)
    : QDialog(parent), m_journal(journal), m_view(new QTableView(this)) {
  setWindowTitle(QString::fromUtf8(kTextTitle));
  m_view->setModel(&journal);
  m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_view->horizontalHeader()->setStretchLastSection(true);
  m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  // Rows come in at the end: the view follows them while it shows the end.
  connect(&journal, &QAbstractItemModel::rowsInserted, m_view, [this] {
    if (m_view->isVisible()) m_view->scrollToBottom();
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* exportButton = buttons->addButton(QString::fromUtf8(kTextExport),
                                                 QDialogButtonBox::ActionRole);
  connect(exportButton, &QPushButton::clicked, this, &CJournalDlg::OnExport);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_view);
  layout->addWidget(buttons);
  resize(640, 360);
}

bool CJournalDlg::OnExport() {
  const QString name = QStringLiteral("QD7420_monitoring_%1.csv")
                           .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
  return ExportFile(this, QString::fromUtf8(kTextExport).remove(QChar(0x2026)), name,
                    QString::fromUtf8(kTextExportFilter), m_journal.Csv());
}
