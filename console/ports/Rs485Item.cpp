#include "ports/Rs485Item.h"

#include <QAction>
#include <QMenu>

#include "rs485.h"
#include "serial_port.h"
#include "window/ConsoleDlg.h"
#include "window/Messages.h"

namespace {

// The device of the port chosen in the top row.
std::string ChosenDevice(const CConsoleDlg& dlg) { return PortPath(dlg.ReadConnection().port); }

// Opens the port once in the mode just asked for, and says why it did not
// take. A port that cannot be opened at all says nothing here: the next
// command tells why.
void TryRs485(CConsoleDlg& dlg, const std::string& device) {
  HPORT port = OpenDevice(device, dlg.ReadConnection().baud);
  if (port == nullptr) return;
  CloseDevice(port);
  const std::string refusal = Rs485Refusal(device);
  if (refusal.empty()) return;
  dlg.WindowMessage(QString::fromUtf8(kTextRs485Refused)
                        .arg(QString::fromStdString(device), QString::fromStdString(refusal)));
}

}  // namespace

void AddRs485Item(CConsoleDlg& dlg, QMenu& menu) {
  QAction* item = menu.addAction(QString::fromUtf8(kTextRs485Item));
  item->setCheckable(true);
  // The tick follows the port chosen when the menu opens.
  QObject::connect(&menu, &QMenu::aboutToShow, item,
                   [&dlg, item] { item->setChecked(Rs485Wanted(ChosenDevice(dlg))); });
  QObject::connect(item, &QAction::triggered, item, [&dlg](bool on) {
    const std::string device = ChosenDevice(dlg);
    SetRs485(device, on);
    if (on) TryRs485(dlg, device);
  });
}
