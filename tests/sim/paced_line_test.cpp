// The server with a real line's timing (paced), and its answer-every-station
// test aid: what a console that gets the timing wrong would meet on a wire.
// Times are only ever checked as lower bounds of the wire's own delays.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstring>

#include "pty_server.h"
#include "registers.h"
#include "sim_test_support.h"

using namespace simtest;
using sim::PtyServer;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

namespace {

// 10 bits a byte.
microseconds WireTime(size_t bytes, int baud) {
  return microseconds(static_cast<long long>(bytes) * 10000000LL / baud);
}

class PacedLine : public testing::Test {
 protected:
  void Start(int baud) {
    server_ = std::make_unique<PtyServer>(sim::ControllerOptions{1, baud});
    server_->SetPacing(true);
    ASSERT_TRUE(server_->Start()) << std::strerror(errno);
  }
  std::unique_ptr<PtyServer> server_;
};

TEST_F(PacedLine, ARequestIsInOnlyAfterItsWireTimeAtTheLinesRate) {
  const struct {
    const char* what;
    int deviceBaud, lineBaud;
    bool answered;
  } cases[] = {
      {"1200 both", 1200, 1200, true},
      {"console at 1200, controller at 9600", 9600, 1200, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.deviceBaud);
    RawPort port(server_->DevicePath(), c.lineBaud);
    const auto start = Clock::now();
    port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
    const Bytes reply = port.ReadBytes(7, c.answered ? 2000 : 300);
    const auto done = Clock::now();
    ASSERT_TRUE(server_->WaitForRequests(1, 1000));
    const auto frames = server_->Requests();
    ASSERT_EQ(frames.size(), 1u);
    // 8 bytes at 1200 baud are 66.7 ms on the wire.
    EXPECT_GE(frames[0].when - start, WireTime(8, c.lineBaud));
    EXPECT_EQ(frames[0].lineBaud, c.lineBaud);
    if (c.answered) {
      // Request, the silence that ends it, and the 7-byte reply.
      ASSERT_EQ(reply.size(), 7u);
      EXPECT_GE(done - start, WireTime(8 + 7, c.lineBaud) + microseconds(29166));
    } else {
      EXPECT_TRUE(reply.empty());
    }
  }
}

TEST_F(PacedLine, StrayBytesRightBehindAValidRequestSpoilIt) {
  const uint8_t two[4] = {0x40, 0x00, 0x00, 0x00};
  const struct {
    const char* what;
    Bytes request;
    Bytes stray;
    Bytes reply;
  } cases[] = {
      {"read and one byte", ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1)), {0xFF}, {}},
      {"write and two bytes", ToBytes(BuildWriteRequest(1, REG_LINE_LENGTH, 1234)),
       {0x55, 0xAA}, {}},
      {"float write and a second request",
       ToBytes(BuildWriteMultipleRequest(1, REG_RESISTIVITY, 2, two)),
       ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1)), {}},
      // A frame, its check bytes and one 0x00 pass the check again (the CRC
      // of a frame with its check is 0): the device sees a 9-byte read and
      // refuses it, as a real one would. Two zeros do the same to a write.
      {"read and 00", ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1)), {0x00},
       WithCrc({1, 0x83, 0x03})},
      {"write and 00 00", ToBytes(BuildWriteRequest(1, REG_LINE_LENGTH, 1234)),
       {0x00, 0x00}, WithCrc({1, 0x86, 0x03})},
  };
  Start(9600);
  RawPort port(server_->DevicePath(), 9600);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server_->ClearRequests();
    Bytes sent = c.request;
    sent.insert(sent.end(), c.stray.begin(), c.stray.end());
    port.Write(sent);
    EXPECT_EQ(port.ReadReply(60, 300), c.reply);
    const auto frames = server_->Requests();
    ASSERT_EQ(frames.size(), 1u) << "one frame, the stray bytes included";
    EXPECT_EQ(frames[0].bytes, sent);
  }
  EXPECT_EQ(server_->Device().Register(REG_LINE_LENGTH), 10000) << "no write was done";
  EXPECT_FLOAT_EQ(server_->Device().FloatRegister(REG_RESISTIVITY), 35.0f);
  // After the silence the line is heard again.
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(60, 1000), WithCrc({1, 0x03, 0x02, 0x27, 0x10}));
}

TEST_F(PacedLine, ARequestSentWhileTheReplyIsOnTheWireIsLost) {
  Start(9600);
  server_->Device().FillLog(24);
  RawPort port(server_->DevicePath(), 9600);
  port.Write(BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120));
  pollfd p{port.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  // The reply has begun; its 247 bytes take 257 ms. The receiver is off.
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(100, 3000).size(), 247u) << "the page alone, no second reply";
  EXPECT_EQ(server_->Requests().size(), 1u);
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(100, 1000).size(), 7u);
}

TEST_F(PacedLine, NoiseWithoutAPauseTakesTheRequestBehindItAlong) {
  Start(38400);
  RawPort port(server_->DevicePath(), 38400);
  // 2 KB of noise: 533 ms on the wire, the request straight after it.
  for (int i = 0; i < 32; ++i) port.Write(Bytes(64, 0xFF));
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_TRUE(port.ReadReply(60, 1500).empty());
  for (const auto& frame : server_->Requests()) {
    EXPECT_LE(frame.bytes.size(), kMaxFrameBytes);
  }
  port.Write(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(port.ReadReply(60, 1000).size(), 7u);
}

TEST(AnswerAllBadCrc, EveryStationIsAnsweredWithABadCheck) {
  PtyServer server;
  ASSERT_TRUE(server.Start());
  server.SetAnswerAllBadCrc(true);
  {
    RawPort port(server.DevicePath(), 9600);
    // The parameter search's probe: A1 range, one register.
    for (const uint8_t station : {1, 2, 17, 255}) {
      SCOPED_TRACE(int{station});
      port.Write(BuildReadRequest(station, REG_A1_RANGE, 1));
      Bytes reply = port.ReadReply();
      ASSERT_EQ(reply.size(), 7u);
      EXPECT_FALSE(CheckBytesRight(reply));
      reply.back() ^= 0xFF;
      EXPECT_EQ(reply, WithCrc({station, 0x03, 0x02, 0x00, 0x00}));
    }
    port.Write(BuildWriteRequest(5, REG_LINE_LENGTH, 1));
    EXPECT_EQ(port.ReadReply().size(), kWriteReplyLength);
    EXPECT_EQ(server.Device().Register(REG_LINE_LENGTH), 10000) << "not our station";
  }
  {
    RawPort port(server.DevicePath(), 19200);
    port.Write(BuildReadRequest(2, REG_A1_RANGE, 1));
    EXPECT_TRUE(port.ReadReply(60, 300).empty()) << "the wrong line speed";
  }
  server.SetAnswerAllBadCrc(false);
  RawPort port(server.DevicePath(), 9600);
  port.Write(BuildReadRequest(2, REG_A1_RANGE, 1));
  EXPECT_TRUE(port.ReadReply(60, 300).empty());
  port.Write(BuildReadRequest(1, REG_A1_RANGE, 1));
  EXPECT_EQ(port.ReadReply(), WithCrc({1, 0x03, 0x02, 0x00, 0x00}));
}

}  // namespace
