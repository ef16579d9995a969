#include "serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pty_port_test.h"
#include "rs485.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

const Bytes kReply = {0x01, 0x03, 0x02, 0x04, 0xD2, 0x3B, 0x29};

class SerialPortTest : public PtyPortTest {
 protected:
  HPORT Open(int baud = 9600) { return OpenPort(1, baud); }
};

TEST(PortMap, DefaultsAndOverrides) {
  ResetPortMap();
  EXPECT_EQ(PortPath(1), "/dev/ttyS0");
  EXPECT_EQ(PortPath(9), "/dev/ttyS8");
  EXPECT_EQ(PortPath(0), "");
  SetPortPath(3, "/dev/ttyUSB0");
  EXPECT_EQ(PortPath(3), "/dev/ttyUSB0");
  ResetPortMap();
  EXPECT_EQ(PortPath(3), "/dev/ttyS2");
}

TEST_F(SerialPortTest, SetsEveryRateWith8N1Raw) {
  const struct {
    int baud;
    speed_t speed;
  } rates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
               {9600, B9600},   {19200, B19200}, {38400, B38400}};
  for (const auto& r : rates) {
    ASSERT_NE(Open(r.baud), nullptr) << r.baud;
    // Master and slave share one termios: this is what the port set.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty_.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), r.speed) << r.baud;
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | HUPCL | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(PortBaud(PortHandle), r.baud);
    EXPECT_EQ(PortDevice(PortHandle), pty_.Path());
    ClosePort();
  }
}

TEST_F(SerialPortTest, ReopenRepairsSettingsChangedMeanwhile) {
  ASSERT_NE(Open(9600), nullptr);
  ClosePort();
  // Another program leaves the line at 7E2 with echo on.
  termios tio{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &tio), 0);
  tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB;
  tio.c_lflag |= ECHO;
  ASSERT_EQ(tcsetattr(pty_.Master(), TCSANOW, &tio), 0);
  ASSERT_NE(Open(9600), nullptr);
  ASSERT_EQ(tcgetattr(pty_.Master(), &tio), 0);
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_lflag & ECHO, 0u);
}

TEST_F(SerialPortTest, RefusesWhatCannotBeOpened) {
  for (int baud : {0, 1234, -9600}) {
    EXPECT_EQ(Open(baud), nullptr) << baud;
    EXPECT_EQ(PortHandle, nullptr);
  }
  SetPortPath(2, "/dev/no-such-tty");
  EXPECT_EQ(OpenPort(2, 9600), nullptr);
  EXPECT_EQ(PortHandle, nullptr);
  EXPECT_EQ(OpenDevice("/dev/null", 9600), nullptr);  // not a tty
}

// A pty has no low-latency switch (TIOCGSERIAL gives ENOTTY): the open goes
// on, and the trace hears of it once, not at every command.
TEST_F(SerialPortTest, LowLatencyRefusedOnAPtyIsNotedOnce) {
  std::vector<std::string> notes;
  SetPortNoteHook([&](const std::string& text) { notes.push_back(text); });
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(Open(), nullptr) << "open " << i;
    ClosePort();
  }
  SetPortNoteHook({});
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], pty_.Path() + " has no low-latency mode: Inappropriate ioctl for device");
}

// RS-485 mode asked for on a pty: the driver refuses it (ENOTTY), the port
// opens all the same, the trace hears of it once, and the console can say why.
TEST_F(SerialPortTest, Rs485RefusedOnAPtyStillOpensAndIsNotedOnce) {
  std::vector<std::string> notes;
  SetPortNoteHook([&](const std::string& text) { notes.push_back(text); });
  SetRs485(pty_.Path(), true);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(Open(), nullptr) << "open " << i;
    ClosePort();
  }
  SetPortNoteHook({});
  EXPECT_EQ(Rs485Refusal(pty_.Path()), "TIOCGRS485: Inappropriate ioctl for device");
  SetRs485(pty_.Path(), false);
  EXPECT_EQ(Rs485Refusal(pty_.Path()), "");
  const auto rs485Notes = std::count_if(notes.begin(), notes.end(), [](const std::string& n) {
    return n.find("RS-485") != std::string::npos;
  });
  EXPECT_EQ(rs485Notes, 1);
}

// What the open sets through the ioctl, and that the close puts back what
// the driver had: a driver that takes the mode, seen through the seam.
struct Rs485Calls {
  static inline std::vector<std::pair<unsigned long, serial_rs485>> calls;
  static inline serial_rs485 driver{};
  static int Ioctl(int, unsigned long request, serial_rs485* conf) {
    if (request == TIOCGRS485) *conf = driver;
    calls.emplace_back(request, *conf);
    return 0;
  }
};

TEST_F(SerialPortTest, Rs485ModeIsSetOnOpenWithRtsOnSendAndPutBackOnClose) {
  Rs485Calls::calls.clear();
  Rs485Calls::driver = {};
  Rs485Calls::driver.flags = SER_RS485_RTS_AFTER_SEND;
  Rs485Calls::driver.delay_rts_after_send = 9;
  SetRs485Ioctl(&Rs485Calls::Ioctl);
  SetRs485Delays(2, 3);
  SetRs485(pty_.Path(), true);
  ASSERT_NE(Open(), nullptr);
  ClosePort();
  ASSERT_NE(Open(), nullptr);  // each open sets it anew
  ClosePort();
  SetRs485(pty_.Path(), false);
  ASSERT_NE(Open(), nullptr);  // and without it, nothing is touched
  ClosePort();
  SetRs485Ioctl(nullptr);
  SetRs485Delays(0, 0);
  ASSERT_EQ(Rs485Calls::calls.size(), 6u);
  for (size_t open = 0; open < 2; ++open) {
    const auto& [get, got] = Rs485Calls::calls[open * 3];
    const auto& [set, wanted] = Rs485Calls::calls[open * 3 + 1];
    const auto& [restore, back] = Rs485Calls::calls[open * 3 + 2];
    EXPECT_EQ(get, static_cast<unsigned long>(TIOCGRS485));
    EXPECT_EQ(set, static_cast<unsigned long>(TIOCSRS485));
    EXPECT_EQ(wanted.flags, static_cast<uint32_t>(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND));
    EXPECT_EQ(wanted.delay_rts_before_send, 2u);
    EXPECT_EQ(wanted.delay_rts_after_send, 3u);
    EXPECT_EQ(restore, static_cast<unsigned long>(TIOCSRS485));
    EXPECT_EQ(back.flags, static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND));
    EXPECT_EQ(back.delay_rts_after_send, 9u);
    (void)got;
  }
  EXPECT_EQ(Rs485Refusal(pty_.Path()), "");
}

TEST_F(SerialPortTest, CloseOnEmptySlotDoesNothing) {
  ClosePort();
  ClosePort();
  EXPECT_EQ(PortHandle, nullptr);
  CloseDevice(nullptr);
}

TEST_F(SerialPortTest, SecondOpenIsRefusedInThisProcess) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(OpenDevice(pty_.Path(), 9600), nullptr);
}

TEST_F(SerialPortTest, SecondOpenIsRefusedInAnotherProcess) {
  ASSERT_NE(Open(), nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(OpenDevice(pty_.Path(), 9600) == nullptr ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process got the port";
}

TEST_F(SerialPortTest, ReopeningTheSlotReleasesTheOldHandle) {
  ASSERT_NE(Open(), nullptr);
  // Succeeds only if the handle the slot held was closed (and unlocked).
  ASSERT_NE(Open(), nullptr);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty_.Slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0);
  ClosePort();
  // The pty outlives our close: it must not stay exclusive for the next user.
  ASSERT_EQ(ioctl(pty_.Slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
}

TEST_F(SerialPortTest, OpenDiscardsStaleBytes) {
  pty_.Send({0xAA, 0xBB, 0xCC});
  ASSERT_TRUE(pty_.WaitQueued(3, 1000));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(WaitForBytes(PortHandle, 1, 100), 0u);
}

struct WaitCase {
  const char* name;
  Bytes arriving;
  uint16_t expected;
  uint32_t timeoutMs;
  uint32_t count;
  bool runsOut;  // true: must take the whole time-out; false: returns at once
};

// Test names show the case name, not a dump of the bytes.
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class WaitForBytesTest : public SerialPortTest,
                         public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitForBytesTest, CountAndTime) {
  const WaitCase& c = GetParam();
  ASSERT_NE(Open(), nullptr);
  pty_.Send(c.arriving);
  if (!c.arriving.empty()) {
    ASSERT_TRUE(pty_.WaitQueued(c.arriving.size(), 1000));
  }
  const auto start = Clock::now();
  EXPECT_EQ(WaitForBytes(PortHandle, c.expected, c.timeoutMs), c.count);
  const double ms = MsSince(start);
  if (c.runsOut) {
    EXPECT_GE(ms, c.timeoutMs);
    EXPECT_LT(ms, c.timeoutMs * 5.0);
  } else {
    EXPECT_LT(ms, c.timeoutMs / 2.0);
  }
  // Nothing was taken: a read gets the same bytes.
  Bytes got(c.count);
  EXPECT_EQ(ReadPort(PortHandle, got.data(), got.size()), c.count);
  EXPECT_EQ(got, Bytes(c.arriving.begin(), c.arriving.begin() + c.count));
}

INSTANTIATE_TEST_SUITE_P(
    Queue, WaitForBytesTest,
    ::testing::Values(WaitCase{"Complete", kReply, 7, 1000, 7, false},
                      WaitCase{"Nothing", {}, 7, 1000, 0, true},
                      WaitCase{"Five", {1, 2, 3, 4, 5}, 7, 400, 5, true},
                      WaitCase{"Nine", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 7, 1000, 9, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialPortTest, WaitWakesForBytesArrivingInPieces) {
  ASSERT_NE(Open(), nullptr);
  // The pieces are timed from `start`, so the rest cannot come before 200 ms.
  const auto start = Clock::now();
  std::thread device([this, start] {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(50));
    pty_.Send({kReply.begin(), kReply.begin() + 3});
    std::this_thread::sleep_until(start + std::chrono::milliseconds(200));
    pty_.Send({kReply.begin() + 3, kReply.end()});
  });
  const double cpuStart = CpuMs();
  const uint32_t count = WaitForBytes(PortHandle, 7, 2000);
  const double cpu = CpuMs() - cpuStart;
  const double ms = MsSince(start);
  device.join();
  EXPECT_EQ(count, 7u);
  EXPECT_GE(ms, 200.0);
  EXPECT_LT(ms, 1000.0);
  EXPECT_LT(cpu, 50.0) << "the wait spun while three bytes sat in the queue";
  Bytes got(7);
  EXPECT_EQ(ReadPort(PortHandle, got.data(), got.size()), 7u);
  EXPECT_EQ(got, kReply);
}

TEST_F(SerialPortTest, IdleWaitUsesNoCpu) {
  ASSERT_NE(Open(), nullptr);
  const double cpuStart = CpuMs();
  EXPECT_EQ(WaitForBytes(PortHandle, 7, 1000), 0u);
  EXPECT_LT(CpuMs() - cpuStart, 50.0);
}

TEST_F(SerialPortTest, VanishedDeviceEndsTheWaitWithoutSpinning) {
  ASSERT_NE(Open(), nullptr);
  pty_.Send({1, 2});
  ASSERT_TRUE(pty_.WaitQueued(2, 1000));
  std::thread unplug([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty_.Hangup();
  });
  const auto start = Clock::now();
  const double cpuStart = CpuMs();
  const uint32_t count = WaitForBytes(PortHandle, 7, 3000);
  const double ms = MsSince(start);
  unplug.join();
  EXPECT_EQ(count, 2u);  // what it had when the device went
  EXPECT_LT(ms, 1500.0);
  // Later waits and transfers on the dead line return at once, no CPU burnt.
  const auto again = Clock::now();
  for (int i = 0; i < 20; ++i) WaitForBytes(PortHandle, 7, 1000);
  uint8_t buf[7];
  ReadPort(PortHandle, buf, sizeof buf);
  WritePort(PortHandle, kReply.data(), kReply.size());
  EXPECT_LT(MsSince(again), 1000.0);
  EXPECT_LT(CpuMs() - cpuStart, 50.0);
}

TEST_F(SerialPortTest, NullPortWaitsOutTheTimeout) {
  const auto start = Clock::now();
  EXPECT_EQ(WaitForBytes(nullptr, 7, 100), 0u);
  EXPECT_GE(MsSince(start), 100.0);
  uint8_t buf[1] = {};
  EXPECT_EQ(ReadPort(nullptr, buf, 1), 0u);
  EXPECT_EQ(WritePort(nullptr, buf, 1), 0u);
}

TEST_F(SerialPortTest, WriteSendsTheWholeFrame) {
  ASSERT_NE(Open(), nullptr);
  const Bytes frame = {0x01, 0x03, 0x20, 0x0A, 0x00, 0x01, 0xAF, 0xC8};
  EXPECT_EQ(WritePort(PortHandle, frame.data(), frame.size()), frame.size());
  EXPECT_EQ(pty_.Receive(frame.size(), 1000), frame);
}

TEST_F(SerialPortTest, ShortReadEndsAfterTheGapLimit) {
  ASSERT_NE(Open(), nullptr);
  pty_.Send({1, 2, 3});
  ASSERT_TRUE(pty_.WaitQueued(3, 1000));
  // 247 bytes allow 1240 ms in all, but 100 ms without a byte ends the read.
  Bytes got(247);
  const auto start = Clock::now();
  EXPECT_EQ(ReadPort(PortHandle, got.data(), got.size()), 3u);
  const double ms = MsSince(start);
  EXPECT_GE(ms, 100.0);
  EXPECT_LT(ms, 1000.0);
}

// The gap limit (100 ms) counts only from a byte that came: pieces 70 ms
// apart are all read, and a first byte that comes after 300 ms is still read
// while the total limit lasts (247 bytes: 5 x 247 + 5 = 1240 ms).
TEST_F(SerialPortTest, ReadTakesPiecesWithinTheGapAndTotalLimits) {
  ASSERT_NE(Open(), nullptr);
  const struct {
    const char* name;
    int firstMs;
    int pieces;  // 70 ms apart
  } cases[] = {{"five pieces 70 ms apart", 0, 5}, {"all after 300 ms", 300, 1}};
  Bytes sent(247);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i);
  for (const auto& c : cases) {
    const auto start = Clock::now();
    std::thread device([&] {
      const size_t piece = (sent.size() + c.pieces - 1) / c.pieces;
      for (int k = 0; k < c.pieces; ++k) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(c.firstMs + 70 * k));
        const size_t from = k * piece, to = std::min(sent.size(), from + piece);
        pty_.Send(Bytes(sent.begin() + from, sent.begin() + to));
      }
    });
    Bytes got(sent.size());
    const size_t n = ReadPort(PortHandle, got.data(), got.size());
    device.join();
    EXPECT_EQ(n, sent.size()) << c.name;
    EXPECT_EQ(got, sent) << c.name;
    EXPECT_GE(MsSince(start), c.firstMs + 70.0 * (c.pieces - 1)) << c.name;
  }
}

TEST_F(SerialPortTest, EmptyReadEndsAfterTheTotalLimit) {
  ASSERT_NE(Open(), nullptr);
  uint8_t buf[7];
  const auto start = Clock::now();
  EXPECT_EQ(ReadPort(PortHandle, buf, sizeof buf), 0u);
  EXPECT_GE(MsSince(start), 40.0);  // 5 x 7 + 5
}

TEST_F(SerialPortTest, PurgeEmptiesBothOurBufferAndTheDriver) {
  ASSERT_NE(Open(), nullptr);
  pty_.Send({1, 2, 3});
  ASSERT_EQ(WaitForBytes(PortHandle, 3, 1000), 3u);  // now in our buffer
  pty_.Send({4, 5});
  ASSERT_TRUE(pty_.WaitQueued(2, 1000));  // and these in the driver
  PurgePort(PortHandle);
  EXPECT_EQ(WaitForBytes(PortHandle, 1, 50), 0u);
}

}  // namespace
