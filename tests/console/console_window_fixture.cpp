#include "console_window_fixture.h"

#include <cstdlib>

#include <QAbstractButton>
#include <QComboBox>
#include <QTest>
#include <QTimer>

#include "ports/PortList.h"
#include "serial_port.h"

void ConsoleWindowTest::SetUp() {
  ASSERT_TRUE(m_server.Start());
  // The same suites once more on a line whose adapter echoes (CMake's echo.
  // tests): every command must show what it shows without the echo.
  if (std::getenv("QD7420_TEST_ECHO")) m_server.SetEcho(true);
  SetPortPath(1, m_server.DevicePath());
  // The machine's own serial devices would change what the port list holds
  // from one machine to the next; the window tests see none but Com1 to Com9.
  CPortList::SetDeviceSource([] { return std::vector<SerialDevice>{}; });
}

void ConsoleWindowTest::TearDown() {
  CPortList::SetDeviceSource({});
  ResetPortMap();
}

int ConsoleWindowTest::RunWindow(const std::function<void(CConsoleDlg&)>& body) {
  CConsoleDlg dlg;
  return RunWindow(dlg, body);
}

int ConsoleWindowTest::RunWindow(CConsoleDlg& dlg, const std::function<void(CConsoleDlg&)>& body) {
  m_messages.Watch(&dlg);
  QTimer::singleShot(0, &dlg, [&] {
    if (QTest::qWaitForWindowExposed(&dlg))
      body(dlg);
    else
      ADD_FAILURE() << "the window never came on screen";
    if (dlg.isVisible()) dlg.reject();
  });
  const int result = dlg.DoModal();
  m_messages.Watch(nullptr);
  return result;
}

std::vector<std::vector<uint8_t>> ConsoleWindowTest::Frames() const {
  std::vector<std::vector<uint8_t>> frames;
  for (const sim::ReceivedFrame& frame : m_server.Requests()) frames.push_back(frame.bytes);
  return frames;
}

QStringList ConsoleWindowTest::Snapshot(const CConsoleDlg& dlg) {
  QStringList state;
  const QList<QWidget*> controls = dlg.findChildren<QWidget*>();
  for (const QWidget* w : controls) {
    if (!w->objectName().startsWith(QLatin1String("id"))) continue;
    QString line = w->objectName() + ' ' + w->metaObject()->className();
    const int number = w->objectName().mid(2).toInt();
    line += ' ' + dlg.GetDlgItemText(number);
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
      line += button->isChecked() ? QStringLiteral(" checked") : QString();
    if (const auto* combo = qobject_cast<const QComboBox*>(w))
      line += QStringLiteral(" sel%1").arg(combo->currentIndex());
    line += w->isEnabled() ? QString() : QStringLiteral(" disabled");
    line += w->isHidden() ? QStringLiteral(" hidden") : QString();
    state << line;
  }
  return state;
}
