// The port list 1001 fed a table of devices: Com1 to Com9 first, the
// machine's other devices after them, and what plugging and unplugging an
// adapter does to the list and to a command on the chosen entry.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

#include "window/ConsoleDlg.h"
#include "ports/PortList.h"
#include "console_window_fixture.h"
#include "resource.h"
#include "serial_port.h"
#include "window_actions.h"

namespace {

const SerialDevice kFtdi{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0",
                         "FTDI", "FT232R USB UART", false};
const SerialDevice kCh340{"/dev/ttyUSB1", "", "1a86", "USB Serial", false};
const SerialDevice kAcm{"/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino-if00", "Arduino", "", false};
// Past the slots Com1 to Com9 stand for, where only the flag keeps it out.
const SerialDevice kPhantom{"/dev/ttyS20", "", "", "", true};
const SerialDevice kOnBoard{"/dev/ttyS0", "", "", "", false};  // Com1 already
const SerialDevice kRealUart{"/dev/ttyS12", "", "", "", false};

class PortListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n = 1; n <= 9; ++n) combo_.addItem(QStringLiteral("Com%1").arg(n));
    combo_.setCurrentIndex(0);
    CPortList::SetDeviceSource([this] { return devices_; });
  }
  void TearDown() override {
    CPortList::SetDeviceSource({});
    ResetPortMap();
  }

  QStringList Captions() const {
    QStringList captions;
    for (int i = 0; i < combo_.count(); ++i) captions << combo_.itemText(i);
    return captions;
  }
  static QStringList Coms() {
    QStringList coms;
    for (int n = 1; n <= 9; ++n) coms << QStringLiteral("Com%1").arg(n);
    return coms;
  }

  std::vector<SerialDevice> devices_;
  QComboBox combo_;
};

TEST_F(PortListTest, ComPortsFirstThenTheAdaptersWithTheirCaptions) {
  SetPortPath(2, "/dev/ttyUSB1");  // --port 2=: not listed a second time
  devices_ = {kFtdi, kPhantom, kCh340, kOnBoard, kAcm, kRealUart, kFtdi};
  CPortList list(combo_);
  EXPECT_EQ(Captions(), (Coms() + QStringList{QStringLiteral("ttyUSB0 FTDI FT232R USB UART"),
                                              QStringLiteral("ttyACM0 Arduino"),
                                              QStringLiteral("ttyS12")}));
  struct Entry {
    int index;
    QString path;  // what it opens, and its tooltip
  };
  const Entry entries[] = {{0, "/dev/ttyS0"}, {1, "/dev/ttyUSB1"}, {9, kFtdi.byId},
                           {10, kAcm.byId}, {11, "/dev/ttyS12"}};
  for (const Entry& e : entries) {
    combo_.setCurrentIndex(e.index);
    EXPECT_EQ(list.SelectedPath(), e.path) << e.index;
    EXPECT_EQ(combo_.toolTip(), e.path) << e.index;
    // ComN without its device on this machine says so instead.
    const bool missing = e.index < 9 && !QFileInfo::exists(e.path);
    EXPECT_EQ(combo_.itemData(e.index, Qt::ToolTipRole).toString(),
              missing ? QStringLiteral("无此设备") : e.path);
    EXPECT_FALSE(list.SelectedUnplugged());
  }
  // The commands reach the device by the entry's port number.
  combo_.setCurrentIndex(9);
  EXPECT_EQ(PortPath(list.SelectedPort()), kFtdi.byId.toStdString());
  EXPECT_GT(list.SelectedPort(), 9);
}

TEST_F(PortListTest, AdaptersComeAndGoAndTheChosenOneSaysItWasUnplugged) {
  devices_ = {kFtdi, kCh340};
  CPortList list(combo_);
  combo_.setCurrentIndex(9);  // the FTDI adapter
  const int port = list.SelectedPort();
  devices_ = {kCh340, kPhantom, kAcm};  // FTDI out, an Arduino in; an empty slot is no port
  list.Refresh();
  EXPECT_EQ(Captions(), (Coms() + QStringList{QStringLiteral("ttyUSB0 FTDI FT232R USB UART (已拔出)"),
                                              QStringLiteral("ttyUSB1 1a86 USB Serial"),
                                              QStringLiteral("ttyACM0 Arduino")}));
  EXPECT_EQ(combo_.currentIndex(), 9);
  EXPECT_TRUE(list.SelectedUnplugged());
  EXPECT_EQ(combo_.toolTip(), kFtdi.byId);
  // Plugged back in: the same entry, the same number, usable again.
  devices_ = {kCh340, kAcm, kFtdi};
  list.Refresh();
  EXPECT_EQ(combo_.itemText(9), QStringLiteral("ttyUSB0 FTDI FT232R USB UART"));
  EXPECT_FALSE(list.SelectedUnplugged());
  EXPECT_EQ(list.SelectedPort(), port);
  // An entry not chosen simply goes.
  devices_ = {kFtdi};
  list.Refresh();
  EXPECT_EQ(Captions(), Coms() + QStringList{QStringLiteral("ttyUSB0 FTDI FT232R USB UART")});
}

TEST_F(PortListTest, DroppingTheListDownReadsTheDevicesAgain) {
  CPortList list(combo_);
  combo_.show();
  devices_ = {kCh340};
  QTest::mouseClick(&combo_, Qt::LeftButton);
  combo_.hidePopup();
  EXPECT_EQ(Captions(), Coms() + QStringList{QStringLiteral("ttyUSB1 1a86 USB Serial")});
  devices_ = {};
  QTest::keyClick(&combo_, Qt::Key_F4);
  combo_.hidePopup();
  EXPECT_EQ(Captions(), Coms());
}

// A pseudo-terminal a bridge made, under a by-id-like name: one device with
// that name, whatever Qt's module lists besides it.
TEST(MachineSerialDevices, ByIdLinksNameTheirDevice) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const QString pts = QString::fromLatin1(ptsname(master));
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString link = folder.filePath(QStringLiteral("usb-Test_Bridge-if00"));
  ASSERT_TRUE(QFile::link(pts, link));
  QFile::link(QStringLiteral("/dev/qd7420-gone"), folder.filePath(QStringLiteral("usb-Gone-if00")));
  int named = 0;
  for (const SerialDevice& device : MachineSerialDevices(folder.path())) {
    EXPECT_FALSE(device.path.isEmpty());  // Qt's module ran and returned
    EXPECT_FALSE(device.byId.endsWith(QStringLiteral("usb-Gone-if00"))) << "a dangling link";
    if (device.byId == link) {
      ++named;
      EXPECT_EQ(device.path, pts);
    }
  }
  EXPECT_EQ(named, 1);
  close(master);
}

// The chosen adapter is unplugged while the window is up: the command on
// it opens nothing, sends nothing, and says which device is missing.
TEST_F(ConsoleWindowTest, UnpluggedEntryOpensNothing) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const QString pts = QString::fromLatin1(ptsname(master));
  std::vector<SerialDevice> devices = {{pts, "", "Test", "Adapter", false}};
  CPortList::SetDeviceSource([&devices] { return devices; });
  size_t framesBefore = 0;
  RunWindow([&](CConsoleDlg& dlg) {
    auto* ports = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_PORT));
    ASSERT_NE(ports, nullptr);
    ASSERT_EQ(ports->count(), 10);
    ports->setCurrentIndex(9);
    devices.clear();
    QTest::mouseClick(ports, Qt::LeftButton);  // the drop-down reads the list again
    ports->hidePopup();
    ASSERT_EQ(ports->itemText(9), QFileInfo(pts).fileName() + QStringLiteral(" Test Adapter (已拔出)"));
    m_messages.shown.clear();
    framesBefore = Frames().size();
    Click(dlg, IDC_READ_LINE_LENGTH);
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("没有发现此串口或此串口被占用"));
  EXPECT_EQ(m_messages.shown[0].detail, QStringLiteral("设备 %1 不存在：请检查连接。").arg(pts));
  EXPECT_FALSE(m_messages.shown[0].portOpen);
  char byte = 0;
  // EAGAIN: the slave was never opened (after an open and close it is EIO).
  EXPECT_EQ(read(master, &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN) << "the unplugged entry's device was opened";
  EXPECT_EQ(Frames().size(), framesBefore);
  close(master);
}

}  // namespace
