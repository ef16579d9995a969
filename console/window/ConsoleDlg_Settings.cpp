// The window and what the console remembers (CConsoleSettings): the start
// comes back at the remembered line, search choices, alarm sound and
// places; the line is written whenever the controller has answered at it,
// the choices when the operator changes them, the places when a window goes.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>

#include "app/ConsoleSettings.h"
#include "ports/PortList.h"
#include "traffic/TrafficDlg.h"
#include "window/ConsoleDlg.h"
#include "resource.h"
#include "serial_port.h"

namespace {

const QString kMainWindow = QStringLiteral("main");
const QString kTrafficWindow = QStringLiteral("traffic");

// A controller as it leaves the factory.
constexpr int kFactoryBaud = 9600;
constexpr int kFactoryAddress = 1;

constexpr int kRateBoxes[CConsoleSettings::kRateCount] = {
    IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800, IDC_SEARCH_9600, IDC_SEARCH_19200, IDC_SEARCH_38400};

// The remembered frame `rect` moved inside the available part of the screen
// it was on (the primary one when that screen is gone), at `size`.
QPoint PlaceOnScreen(const QRect& rect, const QSize& size) {
  const QScreen* screen = QGuiApplication::screenAt(rect.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return rect.topLeft();
  return CConsoleSettings::KeepInside(QRect(rect.topLeft(), size), screen->availableGeometry());
}

}  // namespace

void CConsoleDlg::ApplySettings() {
  if (!m_pSettings) return;
  if (const std::optional<CConsoleSettings::Line> line = m_pSettings->RememberedLine()) {
    if (m_pPortList && !line->device.isEmpty()) m_pPortList->SelectDevice(line->device);
    if (auto* rates = qobject_cast<QComboBox*>(GetDlgItem(IDC_BAUD)))
      SetComboSel(IDC_BAUD, rates->findText(QString::number(line->baud)));
    SetDlgItemText(IDC_ADDRESS, QString::number(line->address));
  }
  const CConsoleSettings::Search search = m_pSettings->RememberedSearch();
  if (search.ticked)
    for (size_t i = 0; i < std::size(kRateBoxes); ++i) CheckDlgButton(kRateBoxes[i], (*search.ticked)[i]);
  if (search.quick) SetQuickSearch(*search.quick);
  if (search.turnaroundMs) SetSearchTurnaround(static_cast<uint32_t>(*search.turnaroundMs));
  const std::optional<bool> sound = m_pSettings->RememberedSound();
  if (sound && m_pAlarmSoundAction) m_pAlarmSoundAction->setChecked(*sound);
  // From here on a change is the operator's and is remembered.
  for (int id : kRateBoxes)
    if (auto* box = qobject_cast<QAbstractButton*>(GetDlgItem(id)))
      connect(box, &QAbstractButton::toggled, this, &CConsoleDlg::RememberTickedRates);
  connect(m_pQuickSearchAction, &QAction::toggled, this,
          [this](bool on) { m_pSettings->RememberQuick(on); });
  if (m_pAlarmSoundAction)
    connect(m_pAlarmSoundAction, &QAction::toggled, this,
            [this](bool on) { m_pSettings->RememberSound(on); });
}

void CConsoleDlg::PlaceFromSettings() {
  if (!m_pSettings) return;
  if (const std::optional<QRect> rect = m_pSettings->RememberedGeometry(kMainWindow))
    move(PlaceOnScreen(*rect, frameGeometry().size()));
}

void CConsoleDlg::RememberLine(const Connection& connection) {
  if (!m_pSettings || !connection.address) return;
  CConsoleSettings::Line line;
  line.device = connection.port > 0 ? QString::fromStdString(PortPath(connection.port)) : QString();
  line.baud = connection.baud;
  line.address = *connection.address;
  m_pSettings->RememberLine(line);
}

void CConsoleDlg::RememberTickedRates() {
  std::array<bool, CConsoleSettings::kRateCount> ticked{};
  for (size_t i = 0; i < std::size(kRateBoxes); ++i) ticked[i] = IsDlgButtonChecked(kRateBoxes[i]);
  m_pSettings->RememberTicked(ticked);
}

void CConsoleDlg::RememberPlace(const QWidget& window) {
  if (!m_pSettings) return;
  m_pSettings->RememberGeometry(&window == this ? kMainWindow : kTrafficWindow, window.frameGeometry());
}

// The traffic window comes back where it stood; the window hears when it
// goes (eventFilter) so that its place is kept.
void CConsoleDlg::PlaceTrafficWindow() {
  if (!m_pSettings) return;
  m_pTrafficDlg->installEventFilter(this);
  if (const std::optional<QRect> rect = m_pSettings->RememberedGeometry(kTrafficWindow))
    m_pTrafficDlg->move(PlaceOnScreen(*rect, m_pTrafficDlg->frameGeometry().size()));
}

std::vector<std::pair<int, int>> CConsoleDlg::LikelyProbes() const {
  std::vector<std::pair<int, int>> probes;
  if (m_pSettings)
    if (const std::optional<CConsoleSettings::Line> line = m_pSettings->RememberedLine())
      probes.emplace_back(line->baud, line->address);
  probes.emplace_back(kFactoryBaud, kFactoryAddress);
  return probes;
}
