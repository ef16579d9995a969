#include "window/ConsoleDlg.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>

#include "alarms/AlarmState.h"
#include "dialogs/AboutDlg.h"
#include "window/CommandPort.h"
#include "window/CommandRows.h"
#include "window/Globals.h"
#include "dialog/MessageService.h"
#include "monitoring/Monitor.h"
#include "ports/PortList.h"
#include "ports/PortRefusal.h"
#include "ports/Rs485Item.h"
#include "search/ParameterSearch.h"
#include "window/TabOrder.h"
#include "window/TextNumbers.h"
#include "window/ValueFields.h"
#include "traffic/Trace.h"
#include "traffic/TrafficDlg.h"
#include "exchange.h"
#include "registers.h"
#include "resource.h"
#include "string_table.h"
#include "ui_console_dlg.h"

namespace {

constexpr int kNarrowNumerator = 360;  // narrow width = full width x 360 / 537
constexpr int kNarrowDenominator = 537;
constexpr uint32_t kStartupTimeoutMs = 300;
constexpr char kTextTrafficWindow[] = "通讯记录";

}  // namespace

// The commands of their own; the parameter and radio rows bind themselves
// (BindParameterRows, BindRadioRows).
const CommandEntry<CConsoleDlg> CConsoleDlg::kMessageMap[] = {
    {IDC_READ_LOG_COUNT, Notification::Clicked, &CConsoleDlg::OnReadLogCount},
    {IDC_SEARCH, Notification::Clicked, &CConsoleDlg::OnSearchParameters},
    {IDC_WORK_MODE, Notification::SelChange, &CConsoleDlg::OnWorkModeChange},
    {IDC_READ_ENTRY_COUNT, Notification::Clicked, &CConsoleDlg::OnReadEntryCount},
    {IDC_READ_LOG, Notification::Clicked, &CConsoleDlg::OnReadLog},
    {IDC_READ_MODE_STATE, Notification::Clicked, &CConsoleDlg::OnReadModeState},
    {IDC_READ_CLOCK, Notification::Clicked, &CConsoleDlg::OnReadClock},
    {IDC_WRITE_CLOCK, Notification::Clicked, &CConsoleDlg::OnWriteClock},
    {IDC_READ_A1_COEFFICIENTS, Notification::Clicked, &CConsoleDlg::OnReadA1Coefficients},
    {IDC_START_DETECTION, Notification::Clicked, &CConsoleDlg::OnStartDetection},
    {IDC_CLEAR_LOG, Notification::Clicked, &CConsoleDlg::OnClearLog},
    {IDC_CHANGE_ADDRESS_BAUD, Notification::Clicked, &CConsoleDlg::OnChangeAddressBaud},
    {IDC_SET_SYSTEM_TIME, Notification::Clicked, &CConsoleDlg::OnSetSystemTime},
    {IDC_AUTO_CALIBRATE_VOLTAGE, Notification::Clicked, &CConsoleDlg::OnAutoCalibrateVoltage},
    {IDC_DEFAULT_BUTTON, Notification::Clicked, &CConsoleDlg::OnDefaultButton},
};

std::vector<int> CConsoleDlg::CommandIds() {
  std::vector<int> ids;
  for (const CommandEntry<CConsoleDlg>& entry : kMessageMap) ids.push_back(entry.id);
  for (const auto& rows : {ParameterCommands(), RadioCommands()})
    for (const CommandName& row : rows) ids.push_back(row.id);
  return ids;
}

CConsoleDlg::CConsoleDlg(QWidget* parent)
    : CDialog(parent),
      m_pSearch(new CParameterSearch(this)),
      m_pMonitor(new CMonitor(this)),
      m_hIcon(QStringLiteral(":/icons/qd7420.png")),
      m_ui(std::make_unique<Ui::ConsoleDlg>()) {
  m_ui->setupUi(this);
  // The rows' own room first, then only as much wider a unit as the values
  // still need: the factory layout then fits a 1280-pixel screen.
  GiveRowRoomToValueFields(*this);
  WidenDialogUnits(*this, ValueFieldScale(*this));
  SetUpAlarms();
  // A drop-down list starts without a selection until the program sets one;
  // Qt selects a combo's first entry as the form fills it.
  for (QComboBox* combo : findChildren<QComboBox*>()) combo->setCurrentIndex(-1);
  // A dialog frame: minimise and close, no maximise; the layouts fix the size.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  BindCommands(this, kMessageMap);
  BindParameterRows();
  BindRadioRows();
  connect(m_pMonitor, &CMonitor::PollDone, this, &CConsoleDlg::OnPollDone);
  connect(m_pSearch, &CParameterSearch::ProgressChanged, this, &CConsoleDlg::ShowSearchProgress);
  connect(m_pSearch, &CParameterSearch::ProbeFailed, this, &CConsoleDlg::OnSearchProgress);
  connect(m_pSearch, &CParameterSearch::Found, this, &CConsoleDlg::OnSearchFound);
  connect(m_pSearch, &CParameterSearch::NotFound, this, &CConsoleDlg::OnSearchNotFound);
  connect(m_pSearch, &CParameterSearch::Listed, this, &CConsoleDlg::OnSurveyListed);
  connect(m_pSearch, &CParameterSearch::Garbled, this, &CConsoleDlg::OnSurveyGarbled);
  connect(m_pSearch, &CParameterSearch::SurveyEnded, this, &CConsoleDlg::OnSurveyEnded);
  connect(m_pSearch, &CParameterSearch::PortRefused, this, &ShowPortRefusal);
  SetVisualTabOrder(*this);
  SetUpSearchMenu();
}

CConsoleDlg::~CConsoleDlg() {
  // Monitoring still holding the port when the window goes without a hide.
  if (IsMonitoring()) StopPolling();
  m_pSearch->End();  // after its probe under way; nothing of it is shown any more
  DetachAlarmListTools();
}

bool CConsoleDlg::OnInitDialog() {
  CDialog::OnInitDialog();  // the radio members are -1 yet: none checked
  AddSystemMenu();
  setWindowIcon(m_hIcon);
  SetDefaultSelections();
  if (auto* ports = qobject_cast<QComboBox*>(GetDlgItem(IDC_PORT)); ports && !m_pPortList)
    m_pPortList = new CPortList(*ports, this);
  ApplySettings();

  // The full rectangle, then the narrow layout of the measurement mode.
  m_rcFull = frameGeometry();
  m_rcFullMargins = FrameMargins();
  SetLayout(false);
  PlaceFromSettings();

  g_nWorkMode = 0;
  SetUpAlarmList();
  SetUpAlarmListTools();
  StartupExchange();
  m_startupDone.start();
  return true;
}

void CConsoleDlg::DoDataExchange(bool save) {
  DDX_Radio(save, {IDC_BUZZER_OFF, IDC_BUZZER_ON}, m_nBuzzer);
  DDX_Radio(save, {IDC_AUTORES_OFF, IDC_AUTORES_ON}, m_nAutoResistivity);
  DDX_Radio(save, {IDC_DISPLAY_VOLTAGE, IDC_DISPLAY_ADC}, m_nDisplayMode);
}

void CConsoleDlg::OnDefaultButton() {}

// --- Start-up ------------------------------------------------------------------

void CConsoleDlg::AddSystemMenu() {
  // The window manager owns the title bar's menu, so the About entry lives in
  // the window's context menu.
  const QString text = QString::fromUtf8(LoadStringResource(IDS_ABOUTBOX));
  if (text.isEmpty() || m_pSysMenu) return;
  m_pSysMenu = new QMenu(this);
  QAction* about = m_pSysMenu->addAction(text);
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
  QAction* traffic = m_pSysMenu->addAction(QString::fromUtf8(kTextTrafficWindow));
  traffic->setShortcut(Qt::CTRL | Qt::Key_T);
  addAction(traffic);  // Ctrl+T without the menu open
  connect(traffic, &QAction::triggered, this, &CConsoleDlg::OnShowTraffic);
  AddRs485Item(*this, *m_pSysMenu);
  AddAlarmMenu();
}

void CConsoleDlg::SetDefaultSelections() {
  SetComboSel(IDC_WORK_MODE, 0);
  static const int kSearchRates[] = {IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800,
                                     IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};
  for (int id : kSearchRates) CheckDlgButton(id, id == IDC_SEARCH_9600);
  SetComboSel(IDC_PORT, 0);
  SetComboSel(IDC_BAUD, 3);
  SetDlgItemText(IDC_ADDRESS, QStringLiteral("1"));
  SetComboSel(IDC_NEW_BAUD, 3);
  SetDlgItemText(IDC_NEW_ADDRESS, QStringLiteral("1"));
  // The buzzer stays unknown (neither radio) until the controller's setting
  // is read: a choice shown that nobody knows would be taken for a fact.
  m_nAutoResistivity = 0;
  UpdateData(false);
}

void CConsoleDlg::SetUpAlarmList() {
  auto* list = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_ALARM_LIST));
  if (!list) return;
  struct Column {
    const char* title;
    int width;
  };
  static const Column kColumns[] = {{"编号", 70}, {"时间", 150}, {"告警类型", 150}, {"告警长度", 150}};
  list->setColumnCount(static_cast<int>(std::size(kColumns)));
  // The last column takes the rest of the list, so the header runs to its end.
  list->header()->setStretchLastSection(true);
  // One line a row: the view then lays out thousands of rows without
  // measuring each one.
  list->setUniformRowHeights(true);
  // An empty list has no current row to draw focused: its frame shows it.
  list->setStyleSheet(QStringLiteral("QTreeWidget:focus { border: 1px solid palette(highlight); }"));
  QTreeWidgetItem* header = list->headerItem();
  for (int i = 0; i < list->columnCount(); ++i) {
    header->setText(i, QString::fromUtf8(kColumns[i].title));
    header->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
    list->setColumnWidth(i, kColumns[i].width);
  }
}

// Puts the controller into measurement mode with its resistivity
// auto-calibration stopped. Silent when the controller does not answer.
void CConsoleDlg::StartupExchange() {
  CCommandPort port(*this);
  if (!port) return;
  uint8_t reply[kWriteReplyLength];
  if (port.Exchange(BuildWriteRequest(port.Address(), REG_WORK_MODE, 0), reply,
                    kWriteReplyLength, kStartupTimeoutMs)) {
    port.Exchange(BuildWriteRequest(port.Address(), REG_RESISTIVITY_AUTOCAL, 0), reply,
                  kWriteReplyLength, kStartupTimeoutMs);
  } else {
    SetComboSel(IDC_WORK_MODE, 0);
  }
}

CConsoleDlg::Connection CConsoleDlg::ReadConnection() const {
  Connection connection;
  connection.address = StationAddress(GetDlgItemText(IDC_ADDRESS));
  connection.port = m_pPortList ? m_pPortList->SelectedPort() : GetComboSel(IDC_PORT) + 1;
  connection.unplugged = m_pPortList && m_pPortList->SelectedUnplugged();
  connection.baud = AtoiText(GetDlgItemText(IDC_BAUD));
  return connection;
}

// --- Layout ---------------------------------------------------------------------

int CConsoleDlg::NarrowWidth(int fullWidth) {
  return fullWidth * kNarrowNumerator / kNarrowDenominator;  // truncated, as always
}

QMargins CConsoleDlg::FrameMargins() const {
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  return {client.left() - frame.left(), client.top() - frame.top(),
          frame.right() - client.right(), frame.bottom() - client.bottom()};
}

void CConsoleDlg::SetLayout(bool wide) {
  m_bWide = wide;
  if (m_rcFull.isNull()) return;  // before start-up took the full rectangle
  const QMargins frame = FrameMargins();
  const int frameWidth = wide ? m_rcFull.width() : NarrowWidth(m_rcFull.width());
  // The frame gets the target width; resizing a window keeps its position.
  setFixedSize(frameWidth - frame.left() - frame.right(),
               m_rcFull.height() - frame.top() - frame.bottom());
  // Cut off is not enough for the keyboard: a hidden panel takes no Tab.
  if (auto* panel = findChild<QWidget*>(QStringLiteral("calibrationPanel"))) panel->setVisible(wide);
  FitAlarmList();
  KeepOnScreen(wide);
}

QPoint CConsoleDlg::PlaceInside(const QRect& frame, const QRect& available) {
  QPoint at = frame.topLeft();
  if (frame.right() > available.right()) at.rx() -= frame.right() - available.right();
  if (frame.bottom() > available.bottom()) at.ry() -= frame.bottom() - available.bottom();
  at.rx() = std::max(at.x(), available.left());
  at.ry() = std::max(at.y(), available.top());
  return at;
}

// A window widened where it stood would hang off the screen's right edge;
// it moves in, and back where it was once it narrows again.
void CConsoleDlg::KeepOnScreen(bool wide) {
  if (!isVisible() || !screen()) return;
  const QRect frame(frameGeometry().topLeft(), QSize(wide ? m_rcFull.width()
                                                          : NarrowWidth(m_rcFull.width()),
                                                     m_rcFull.height()));
  if (!wide) {
    if (m_ptBeforeWiden && frame.topLeft() == m_ptWidened) move(*m_ptBeforeWiden);
    m_ptBeforeWiden.reset();
    return;
  }
  const QPoint inside = PlaceInside(frame, screen()->availableGeometry());
  if (inside == frame.topLeft()) return;
  if (!m_ptBeforeWiden) m_ptBeforeWiden = frame.topLeft();
  m_ptWidened = inside;
  move(inside);
}

// The list keeps the window's left margin on its right too, up to the
// narrow layout's edge.
void CConsoleDlg::FitAlarmList() {
  QWidget* list = GetDlgItem(IDC_ALARM_LIST);
  if (!list || m_rcFull.isNull()) return;
  const QMargins frame = FrameMargins();
  const int client = NarrowWidth(m_rcFull.width()) - frame.left() - frame.right();
  if (client - 2 * list->x() > 0) list->resize(client - 2 * list->x(), list->height());
}

// The frame is known only once the window is on screen; the full rectangle
// taken before includes it from then on, and the layout follows.
void CConsoleDlg::SyncFrameMargins() {
  const QMargins now = FrameMargins();
  if (m_rcFull.isNull() || now == m_rcFullMargins) return;
  m_rcFull = m_rcFull.marginsAdded(now - m_rcFullMargins);
  m_rcFullMargins = now;
  SetLayout(m_bWide);
}

void CConsoleDlg::showEvent(QShowEvent* event) {
  CDialog::showEvent(event);
  SyncFrameMargins();
  // A window manager may tell the frame only after mapping the window.
  if (windowHandle()) windowHandle()->installEventFilter(this);
}

bool CConsoleDlg::eventFilter(QObject* watched, QEvent* event) {
  QWindow* window = windowHandle();
  if (watched == window && event->type() == QEvent::Expose && window->isExposed()) {
    SyncFrameMargins();
    NoteShown();
  }
  if (watched == m_pTrafficDlg && event->type() == QEvent::Hide) RememberPlace(*m_pTrafficDlg);
  return CDialog::eventFilter(watched, event);
}

void CConsoleDlg::NoteShown() {
  if (!m_startupDone.isValid() || m_nShownAfterStartupMs >= 0) return;
  m_nShownAfterStartupMs = m_startupDone.elapsed();
  TraceNote("window shown " + std::to_string(m_nShownAfterStartupMs) +
            " ms after the start-up exchange");
}

// --- Window menu and icon ------------------------------------------------------------

void CConsoleDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_pSysMenu)
    m_pSysMenu->popup(event->globalPos());
  else
    CDialog::contextMenuEvent(event);
}

// Esc backs out of a list or a box, never out of the console: a stray one
// would end monitoring. The close button and Alt+F4 still close the window;
// the small dialogs and the message boxes keep Esc as their cancel.
void CConsoleDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  CDialog::keyPressEvent(event);
}

void CConsoleDlg::OnSysCommand(int nID, LPARAM) {
  // Move, size, minimise and close belong to the window manager; the About
  // command is the only one left to the window.
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout(this);
    dlgAbout.DoModal();
  }
}

// The window manager draws a minimised window and its icon; no painting of
// our own is needed for it.
QIcon CConsoleDlg::OnQueryDragIcon() const { return m_hIcon; }
