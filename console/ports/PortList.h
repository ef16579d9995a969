// The port list 1001: "Com1" to "Com9" first (the port map's devices, as
// the controller's documentation numbers them), then every other serial
// device the machine has: USB adapters by their stable /dev/serial/by-id
// name where udev gave one, captioned "ttyUSB0 FTDI FT232R USB UART", and
// real on-board ports. It refreshes when it drops down and, through a watch
// on /dev and /dev/serial/by-id, when an adapter is plugged in or out. A
// selected entry whose device went away keeps its place, reads "(已拔出)"
// and opens nothing. The closed list's tooltip names the selected device.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QComboBox;

// One serial device as the machine reports it.
struct SerialDevice {
  QString path;     // /dev/ttyUSB0
  QString byId;     // /dev/serial/by-id/usb-FTDI_..., or empty
  QString maker;    // "FTDI"
  QString product;  // "FT232R USB UART"
  bool phantom = false;  // an on-board UART slot with no hardware behind it
};
using SerialDeviceSource = std::function<std::vector<SerialDevice>()>;

// The machine's devices from Qt's serial-port module, with the by-id names
// of `byIdFolder`; links there to devices the module does not list (a
// pseudo-terminal a bridge made) count as devices too.
std::vector<SerialDevice> MachineSerialDevices(const QString& byIdFolder);

class CPortList : public QObject {
  Q_OBJECT

 public:
  // Fills `combo` (which already holds "Com1" to "Com9") and keeps it.
  explicit CPortList(QComboBox& combo, QObject* parent = nullptr);

  // Where the devices come from: the machine by default; tests feed a table.
  // Applies to lists made after the call.
  static void SetDeviceSource(SerialDeviceSource source);

  // What the selected entry is: its port number (ComN is N; the others have
  // numbers from 10 on, see PortNumberOf), and whether its device went away.
  int SelectedPort() const;
  bool SelectedUnplugged() const;
  QString SelectedPath() const;

  // Reads the devices again and updates the entries after Com9.
  void Refresh();
  // Selects the entry that opens `path` (ComN by its device, or one after
  // Com9); a device the machine does not have now gets an entry of its own
  // that reads "(已拔出)", as a pulled adapter's does, until it comes.
  void SelectDevice(const QString& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Watch();
  void ShowSelectedPath();
  void MarkNamedPort(int index);
  void AddEntry(const SerialDevice& device, const QString& openPath);
  int FindEntry(const QString& openPath) const;
  void MarkUnplugged(int index);

  QComboBox& m_combo;
  SerialDeviceSource m_source;
  QFileSystemWatcher m_watcher;
  QTimer m_settle;  // udev makes the by-id link a moment after the node
};
