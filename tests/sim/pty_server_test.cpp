// The server on a real pseudo-terminal: against libmodbus as an independent
// master, and against a raw client for framing, faults and the wire bytes.
#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <thread>

#include "exchange.h"
#include "pty_server.h"
#include "registers.h"
#include "sim_test_support.h"

using namespace simtest;
using sim::Fault;
using sim::PtyServer;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class ModbusMaster {
 public:
  ModbusMaster(const std::string& path, int baud, int slave = 1, int timeoutMs = 300) {
    ctx_ = modbus_new_rtu(path.c_str(), baud, 'N', 8, 1);
    modbus_set_slave(ctx_, slave);
    modbus_set_response_timeout(ctx_, 0, static_cast<uint32_t>(timeoutMs) * 1000);
    connected_ = modbus_connect(ctx_) == 0;
  }
  ~ModbusMaster() {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
  bool Connected() const { return connected_; }
  modbus_t* operator*() const { return ctx_; }

 private:
  modbus_t* ctx_;
  bool connected_;
};

class PtyServerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << std::strerror(errno); }
  PtyServer server_;
};

TEST_F(PtyServerTest, RegistersAgreeWithTheMapThroughLibmodbus) {
  ModbusMaster master(server_.DevicePath(), 9600);
  ASSERT_TRUE(master.Connected());
  ASSERT_EQ(modbus_write_register(*master, REG_LINE_LENGTH, 1234), 1);
  uint16_t regs[16] = {};
  ASSERT_EQ(modbus_read_registers(*master, REG_LINE_LENGTH, 1, regs), 1);
  EXPECT_EQ(regs[0], 1234);
  // 35.0 as a float pair, most significant register first.
  ASSERT_EQ(modbus_read_registers(*master, REG_RESISTIVITY, 2, regs), 2);
  EXPECT_EQ(regs[0], 0x420C);
  EXPECT_EQ(regs[1], 0x0000);
  const uint16_t onePointFive[2] = {0x3FC0, 0x0000};
  ASSERT_EQ(modbus_write_registers(*master, REG_A0_RESISTANCE, 2, onePointFive), 2);
  EXPECT_FLOAT_EQ(server_.Device().FloatRegister(REG_A0_RESISTANCE), 1.5f);
  ASSERT_EQ(modbus_read_registers(*master, REG_ALARM_STATUS, 9, regs), 9);
  EXPECT_EQ(regs[0], 0);
}

TEST_F(PtyServerTest, RecordsTheExactBytesOnTheWire) {
  ModbusMaster master(server_.DevicePath(), 9600);
  ASSERT_TRUE(master.Connected());
  uint16_t value = 0;
  const auto before = Clock::now();
  ASSERT_EQ(modbus_read_registers(*master, REG_LINE_LENGTH, 1, &value), 1);
  ASSERT_EQ(modbus_write_register(*master, REG_BUZZER, 1), 1);
  ASSERT_TRUE(server_.WaitForRequests(2, 1000));
  const auto frames = server_.Requests();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].bytes, (Bytes{0x01, 0x03, 0x20, 0x0A, 0x00, 0x01, 0xAF, 0xC8}));
  EXPECT_EQ(frames[1].bytes, ToBytes(BuildWriteRequest(1, REG_BUZZER, 1)));
  EXPECT_EQ(frames[0].lineBaud, 9600);
  EXPECT_GE(frames[0].when, before);
  EXPECT_LE(frames[0].when, frames[1].when);
  server_.ClearRequests();
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(PtyServerTest, WrongBaudRateGetsSilence) {
  ModbusMaster master(server_.DevicePath(), 19200);
  ASSERT_TRUE(master.Connected());
  uint16_t value = 0;
  EXPECT_EQ(modbus_read_registers(*master, REG_LINE_LENGTH, 1, &value), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  ASSERT_TRUE(server_.WaitForRequests(1, 500));
  EXPECT_EQ(server_.Requests().back().lineBaud, 19200);
}

struct FaultCase {
  const char* name;
  Fault fault;
  int delayMs;
  int errnoSeen;
};

class InjectedFault : public PtyServerTest,
                      public testing::WithParamInterface<FaultCase> {};

TEST_P(InjectedFault, IsSeenByTheMasterAndPasses) {
  const FaultCase& c = GetParam();
  ModbusMaster master(server_.DevicePath(), 9600, 1, 250);
  ASSERT_TRUE(master.Connected());
  uint16_t value = 0;
  server_.InjectFault(c.fault, 1, c.delayMs);
  EXPECT_EQ(modbus_read_registers(*master, REG_LINE_LENGTH, 1, &value), -1);
  EXPECT_EQ(errno, c.errnoSeen);
  // Whatever is still on its way must not spoil the next exchange.
  std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs + 50));
  modbus_flush(*master);
  EXPECT_EQ(modbus_read_registers(*master, REG_LINE_LENGTH, 1, &value), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InjectedFault,
    testing::Values(FaultCase{"BadCrc", Fault::BadCrc, 0, EMBBADCRC},
                    FaultCase{"Exception", Fault::Exception, 0, EMBXSFAIL},
                    FaultCase{"Silence", Fault::Silence, 0, ETIMEDOUT},
                    FaultCase{"ShortReply", Fault::ShortReply, 0, ETIMEDOUT},
                    FaultCase{"Late", Fault::Late, 450, ETIMEDOUT}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(PtyServerTest, WriteWithALostReplyIsStillCarriedOut) {
  ModbusMaster master(server_.DevicePath(), 9600, 1, 200);
  ASSERT_TRUE(master.Connected());
  server_.InjectFault(Fault::Silence, 1);
  EXPECT_EQ(modbus_write_register(*master, REG_LINE_LENGTH, 777), -1);
  EXPECT_EQ(server_.Device().Register(REG_LINE_LENGTH), 777);
}

TEST_F(PtyServerTest, PersistentFaultLastsUntilCleared) {
  RawPort port(server_.DevicePath(), 9600);
  server_.InjectFault(Fault::ShortReply, -1);
  for (int i = 0; i < 3; ++i) {
    port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
    EXPECT_EQ(port.ReadReply().size(), 5u);
  }
  server_.ClearFaults();
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply().size(), 7u);
}

TEST_F(PtyServerTest, ReplyShapesUnderFaults) {
  const struct {
    Fault fault;
    size_t length;
  } cases[] = {
      {Fault::None, 7}, {Fault::ExtraBytes, 9}, {Fault::ShortReply, 5}, {Fault::Exception, 5}};
  RawPort port(server_.DevicePath(), 9600);
  for (const auto& c : cases) {
    server_.InjectFault(c.fault, 1);
    port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
    const Bytes reply = port.ReadReply();
    EXPECT_EQ(reply.size(), c.length) << static_cast<int>(c.fault);
  }
}

TEST_F(PtyServerTest, BlockAndLogRepliesOnTheWire) {
  server_.Device().FillLog(24);
  RawPort port(server_.DevicePath(), 9600);
  port.Write(BuildReadRequest(1, kFactoryStatusBlock.first, kFactoryStatusBlock.count));
  EXPECT_EQ(port.ReadReply().size(), kFactoryStatusBlock.replyLength);
  port.Write(BuildReadRequest(1, kA1CoefficientBlock.first, kA1CoefficientBlock.count));
  EXPECT_EQ(port.ReadReply().size(), kA1CoefficientBlock.replyLength);
  port.Write(BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120));
  const Bytes log = port.ReadReply();
  EXPECT_EQ(log.size(), FileRecordReplyLength(24));
  EXPECT_TRUE(CheckBytesRight(log));
}

TEST(PtyServerFraming, RequestsArrivingInPiecesAreFramedByLength) {
  // At 1200 baud the frame gap is 29 ms: a loaded machine cannot open one
  // between the pieces by accident.
  PtyServer server({1, 1200});
  ASSERT_TRUE(server.Start());
  RawPort port(server.DevicePath(), 1200);
  const Bytes request = ToBytes(WriteFloat(1, REG_RESISTIVITY, 2.0f));
  port.Write(Bytes(request.begin(), request.begin() + 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  port.Write(Bytes(request.begin() + 3, request.begin() + 8));
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  port.Write(Bytes(request.begin() + 8, request.end()));
  EXPECT_EQ(port.ReadReply().size(), kWriteReplyLength);
  EXPECT_FLOAT_EQ(server.Device().FloatRegister(REG_RESISTIVITY), 2.0f);
}

TEST_F(PtyServerTest, GarbageIsDroppedAfterASilence) {
  RawPort port(server_.DevicePath(), 9600);
  port.Write(Bytes{0x01, 0x03, 0x20});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply().size(), 7u);
  const auto frames = server_.Requests();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes.size(), 8u);
}

TEST_F(PtyServerTest, UnknownFunctionIsFramedBySilence) {
  RawPort port(server_.DevicePath(), 9600);
  port.Write(WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00}));
  EXPECT_EQ(port.ReadReply(), WithCrc({0x01, 0xAB, 0x01}));
}

TEST_F(PtyServerTest, NewAddressAndBaudTakeEffectOnTheLine) {
  {
    RawPort port(server_.DevicePath(), 9600);
    port.Write(WriteStationAndBaud(1, 9, 19200));
    const Bytes reply = port.ReadReply();
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[0], 1);
    port.Write(BuildReadRequest(9, REG_LINE_LENGTH, 1));
    EXPECT_TRUE(port.ReadReply(60, 200).empty()) << "still 9600 on our side";
  }
  ModbusMaster master(server_.DevicePath(), 19200, 9);
  ASSERT_TRUE(master.Connected());
  uint16_t value = 0;
  EXPECT_EQ(modbus_read_registers(*master, REG_LINE_LENGTH, 1, &value), 1);
}

TEST_F(PtyServerTest, AddressAndBaudSentToStationZeroTakeEffectOnTheLine) {
  {
    RawPort port(server_.DevicePath(), 9600);
    port.Write(WriteStationAndBaud(0, 9, 19200));
    EXPECT_TRUE(port.ReadReply(60, 300).empty()) << "a broadcast gets no reply";
  }
  RawPort port(server_.DevicePath(), 19200);
  port.Write(BuildReadRequest(9, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(), WithCrc({9, 0x03, 0x02, 0x27, 0x10}));
}

// The reply to a read of the line length alone.
Bytes LineLengthReply(uint8_t station, uint16_t value) {
  return WithCrc({station, 0x03, 0x02, static_cast<uint8_t>(value >> 8),
                  static_cast<uint8_t>(value & 0xFF)});
}

// A bus of several, one added while serving: each answers at its own
// address, and an address none has is silence (a reply to it would come
// ahead of the next one).
TEST_F(PtyServerTest, StationsOnOneLineAnswerAtTheirOwnAddresses) {
  sim::Controller& seventeen = server_.AddStation({17, 9600});
  ASSERT_EQ(server_.StationCount(), 2u);
  EXPECT_EQ(&server_.Station(0), &server_.Device());
  EXPECT_EQ(&server_.Station(1), &seventeen);
  server_.Device().SetRegister(REG_LINE_LENGTH, 0x0101);
  seventeen.SetRegister(REG_LINE_LENGTH, 0x1717);
  RawPort port(server_.DevicePath(), 9600);
  port.Write(BuildReadRequest(5, REG_LINE_LENGTH, 1));
  ASSERT_TRUE(server_.WaitForRequests(1, 2000));
  const struct {
    uint8_t station;
    uint16_t value;
  } cases[] = {{1, 0x0101}, {17, 0x1717}};
  for (const auto& c : cases) {
    port.Write(BuildReadRequest(c.station, REG_LINE_LENGTH, 1));
    EXPECT_EQ(port.ReadReply(), LineLengthReply(c.station, c.value)) << int{c.station};
  }
}

// A station at another rate than the line's hears noise and says nothing;
// it answers once the console is at its rate. At 9600 its reply would come
// as noise ahead of station 1's.
TEST_F(PtyServerTest, AStationAtAnotherRateAnswersOnlyAtIt) {
  server_.AddStation({9, 38400});
  {
    RawPort port(server_.DevicePath(), 9600);
    port.Write(BuildReadRequest(9, REG_LINE_LENGTH, 1));
    ASSERT_TRUE(server_.WaitForRequests(1, 2000));
    port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
    EXPECT_EQ(port.ReadReply(), LineLengthReply(1, 10000));
  }
  RawPort port(server_.DevicePath(), 38400);
  port.Write(BuildReadRequest(9, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(), LineLengthReply(9, 10000));
}

// A write to station 0 is carried out by every station at the line's rate,
// and by none at another. Requests are served in order, so once the read
// after it is answered the broadcast has been carried out.
TEST_F(PtyServerTest, ABroadcastWriteReachesEveryStationAtTheLinesRate) {
  server_.AddStation({17, 9600});
  sim::Controller& fast = server_.AddStation({18, 38400});
  RawPort port(server_.DevicePath(), 9600);
  port.Write(BuildWriteRequest(0, REG_LINE_LENGTH, 4321));
  ASSERT_TRUE(server_.WaitForRequests(1, 2000));
  port.Write(BuildReadRequest(17, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(), LineLengthReply(17, 4321));
  EXPECT_EQ(server_.Device().Register(REG_LINE_LENGTH), 4321);
  EXPECT_EQ(fast.Register(REG_LINE_LENGTH), 10000);
}

// Two controllers at one address answer at once and the console hears
// neither: the first reply's length, its station and function bytes (the
// receiver starts on them clean), a garbled body, and a check that fails
// even when the two said the same.
TEST(PtyServerStations, TwoAtOneAddressCollide) {
  const struct {
    const char* name;
    uint16_t first, second, heard;
  } cases[] = {{"alike", 0x2710, 0x2710, 0x2710}, {"unlike", 0x0102, 0x0201, 0x0303}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PtyServer server({3, 9600});
    ASSERT_TRUE(server.Start()) << std::strerror(errno);
    server.Device().SetRegister(REG_LINE_LENGTH, c.first);
    server.AddStation({3, 9600}).SetRegister(REG_LINE_LENGTH, c.second);
    RawPort port(server.DevicePath(), 9600);
    port.Write(BuildReadRequest(3, REG_LINE_LENGTH, 1));
    const Bytes reply = port.ReadReply();
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_EQ(reply[0], 3);
    EXPECT_EQ(reply[1], 0x03);
    EXPECT_EQ(GetU16(&reply[3]), c.heard);
    EXPECT_FALSE(CheckBytesRight(reply));
  }
}

TEST(PtyServerRates, EveryOfferedRateCanBeSetOverTheLine) {
  for (const int rate : {1200, 2400, 4800, 9600, 19200, 38400}) {
    SCOPED_TRACE(rate);
    const int before = rate == 9600 ? 1200 : 9600;
    PtyServer server({1, before});
    ASSERT_TRUE(server.Start());
    {
      RawPort port(server.DevicePath(), before);
      port.Write(WriteStationAndBaud(1, 1, static_cast<uint32_t>(rate)));
      ASSERT_EQ(port.ReadReply().size(), kWriteReplyLength);
    }
    RawPort port(server.DevicePath(), rate);
    port.Write(BuildReadRequest(1, REG_BAUD_RATE, 2));
    const Bytes reply = port.ReadReply();
    ASSERT_EQ(reply.size(), 9u);
    EXPECT_EQ(GetU32(&reply[3]), static_cast<uint32_t>(rate));
  }
}

TEST_F(PtyServerTest, DelayedAndPacedRepliesTakeAtLeastTheirTime) {
  RawPort port(server_.DevicePath(), 9600);
  server_.InjectFault(Fault::Delay, 1, 150);
  auto start = Clock::now();
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply().size(), 7u);
  EXPECT_GE(MsSince(start), 150);

  // 247 bytes of 10 bits at 9600 bit/s: 257 ms on the wire.
  server_.Device().FillLog(24);
  server_.SetPacing(true);
  start = Clock::now();
  port.Write(BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120));
  const Bytes log = port.ReadReply(100, 2000);
  EXPECT_EQ(log.size(), 247u);
  EXPECT_GE(MsSince(start), 257);
}

// The turnaround counts from the request's last byte, paced or not; paced at
// 1200 baud, the 8-byte request alone is 67 ms on the wire.
TEST(PtyServerTurnaround, HoldsEveryReplyFromTheRequestsEnd) {
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced ? "paced" : "unpaced");
    sim::ControllerOptions options;
    options.baud = paced ? 1200 : 9600;
    PtyServer server(options);
    ASSERT_TRUE(server.Start()) << std::strerror(errno);
    server.SetPacing(paced);
    server.SetTurnaround(120);
    RawPort port(server.DevicePath(), options.baud);
    for (int i = 0; i < 2; ++i) {
      const auto start = Clock::now();
      port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
      EXPECT_EQ(port.ReadReply(100, 2000).size(), 7u);
      EXPECT_GE(MsSince(start), paced ? 67 + 120 : 120);
    }
  }
}

// An echoing line hands the request back whole, before the reply and at the
// sender's rate, paced or not; the reply still comes after the turnaround,
// and the controller hears the request as it would without the echo.
TEST(PtyServerEcho, TheRequestComesBackAheadOfTheReply) {
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced ? "paced" : "unpaced");
    sim::ControllerOptions options;
    options.baud = paced ? 1200 : 9600;
    PtyServer server(options);
    ASSERT_TRUE(server.Start()) << std::strerror(errno);
    server.SetPacing(paced);
    server.SetEcho(true);
    server.SetTurnaround(paced ? 0 : 50);
    RawPort port(server.DevicePath(), options.baud);
    const Frame frame = BuildReadRequest(1, REG_LINE_LENGTH, 1);
    const Bytes request = ToBytes(frame);
    port.Write(request);
    EXPECT_EQ(port.ReadBytes(request.size(), 2000), request);
    const Bytes reply = port.ReadReply(100, 2000);
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_TRUE(IsReplyValid(frame, reply.data(), 7, 7, 7));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].bytes, request);
  }
}

// A reply that finds the console's receiver at another rate is noise, as on
// a real line: a late reply cannot pass for one at the next rate searched.
TEST(PtyServerTurnaround, AReplyAtAnotherRateThanTheReceiversIsNoise) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << std::strerror(errno);
  server.SetTurnaround(300);
  RawPort port(server.DevicePath(), 9600);
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  ASSERT_TRUE(server.WaitForRequests(1, 2000));
  termios tio{};
  ASSERT_EQ(tcgetattr(port.Fd(), &tio), 0);
  cfsetispeed(&tio, B4800);
  cfsetospeed(&tio, B4800);
  ASSERT_EQ(tcsetattr(port.Fd(), TCSANOW, &tio), 0);
  const Bytes reply = port.ReadReply(100, 2000);
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_EQ(reply, Bytes(7, 0x00));
}

TEST_F(PtyServerTest, LateByDefaultComesAfterTheConsolesTimeOut) {
  RawPort port(server_.DevicePath(), 9600);
  server_.InjectFault(Fault::Late, 1);
  const auto start = Clock::now();
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(60, 1800).size(), 7u);
  EXPECT_GE(MsSince(start), 1200);
}

TEST_F(PtyServerTest, IdleWithThePortClosedDoesNotSpin) {
  {
    RawPort port(server_.DevicePath(), 9600);
    port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
    EXPECT_EQ(port.ReadReply().size(), 7u);
  }
  timespec a{}, b{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
  const double cpuMs = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
  EXPECT_LT(cpuMs, 100.0) << "a spinning server would burn the whole 300 ms";
  RawPort again(server_.DevicePath(), 9600);
  again.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(again.ReadReply().size(), 7u);
}

TEST_F(PtyServerTest, HangupMakesTheDeviceVanish) {
  RawPort port(server_.DevicePath(), 9600);
  server_.Hangup();
  pollfd p{port.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
}

TEST_F(PtyServerTest, RestartsOnAFreshPty) {
  server_.Stop();
  ASSERT_TRUE(server_.Start());
  RawPort port(server_.DevicePath(), 9600);
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply().size(), 7u);
}

TEST(PtyServerStart, UnsupportedBaudRateFails) {
  PtyServer server({1, 1234});
  EXPECT_FALSE(server.Start());
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace

namespace {

// The console's own link layer: exclusive open, exchanges, close and reopen.
TEST_F(PtyServerTest, ServesTheConsolesLinkLayer) {
  server_.Device().FillLog(24);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    HPORT port = OpenDevice(server_.DevicePath(), 9600);
    ASSERT_NE(port, nullptr);
    uint8_t reply[kMaxFrameBytes];
    EXPECT_TRUE(Exchange(port, BuildReadRequest(1, kFactoryStatusBlock.first,
                                                kFactoryStatusBlock.count),
                         reply, kFactoryStatusBlock.replyLength));
    EXPECT_TRUE(Exchange(port, BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120),
                         reply, FileRecordReplyLength(24)));
    EXPECT_TRUE(Exchange(port, BuildReadFileRecordRequest(1, kLogFileNumber, 0, 0),
                         reply, FileRecordReplyLength(0)));
    CloseDevice(port);
  }
}

}  // namespace
