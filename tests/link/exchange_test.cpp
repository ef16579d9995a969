#include "exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "echo.h"
#include "pty_port_test.h"
#include "registers.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

Bytes WithCrc(Bytes body) {
  const uint16_t crc = Crc16(body.data(), body.size());
  body.push_back(static_cast<uint8_t>(crc >> 8));
  body.push_back(static_cast<uint8_t>(crc & 0xFF));
  return body;
}

const Bytes kReply = WithCrc({0x01, 0x03, 0x02, 0x04, 0xD2});

class ExchangeTest : public PtyPortTest {
 protected:
  void TearDown() override {
    if (device_.joinable()) device_.join();
    SetTraceHook(nullptr);
    PtyPortTest::TearDown();
  }

  // Plays the controller once: takes the request, waits `delayMs`, answers.
  void AnswerOnce(size_t requestLen, Bytes reply, int delayMs = 0) {
    device_ = std::thread([this, requestLen, reply, delayMs] {
      request_ = pty_.Receive(requestLen, 3000);
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      pty_.Send(reply);
    });
  }

  // One line-length read that the "controller" answers with `answer`.
  bool ReadLineLength(const Transaction& t, const Bytes& answer, uint8_t (&reply)[7],
                      uint32_t timeoutMs = 1000, int delayMs = 0) {
    AnswerOnce(kReadRequest.size, answer, delayMs);
    const bool ok = t.Exchange(kReadRequest, reply, sizeof reply, timeoutMs);
    device_.join();
    return ok;
  }

  const Frame kReadRequest = BuildReadRequest(1, REG_LINE_LENGTH, 1);
  std::thread device_;
  Bytes request_;
};

TEST(ReplyTimeout, NeverShorterThanTheWire) {
  const struct {
    int baud;
    size_t request, reply;
    uint32_t given, used;
    uint32_t network = 0;
  } cases[] = {
      {9600, 8, 7, 1000, 1000},  // the wire is far quicker than the time-out
      {9600, 8, 8, 300, 300},
      {1200, 12, 247, 1000, 2288},  // 2590 bits + 35 of the frame gap: 2187.5 ms + 100
      {2400, 12, 247, 1000, 1194},  // 1093.75 ms + 100
      {0, 8, 7, 1000, 1000},  // no rate known: the given time-out
      // A remote line's margin goes on top of the wire-time rule only.
      {2400, 12, 247, 1000, 1244, 50},
      {9600, 8, 7, 1000, 1000, 50},
      {9600, 8, 7, 100, 170, 50},  // 150 bits + 35: 19.3 ms + 100 + 50
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplyTimeout(c.baud, c.request, c.reply, c.given, c.network), c.used) << c.baud;
  }
}

// The outcome is read from the bytes, whatever the acceptance test let pass.
TEST(ExchangeOutcome, JudgedFromTheBytes) {
  const Bytes request = WithCrc({0x01, 0x03, 0x20, 0x0A, 0x00, 0x01});
  Bytes badCheck = kReply;
  badCheck.back() ^= 0xFF;
  struct Case {
    const char* name;
    Bytes reply;
    uint32_t waited;
    bool accepted;
    ExchangeOutcome outcome;
    uint8_t code;
  };
  const Case cases[] = {
      {"good", kReply, 7, true, ExchangeOutcome::Accepted, 0},
      {"nothing", {}, 0, false, ExchangeOutcome::NoReply, 0},
      {"swapped check", badCheck, 7, false, ExchangeOutcome::BadCheck, 0},
      {"more queued", kReply, 9, false, ExchangeOutcome::WrongLength, 0},
      {"short", {0x01, 0x03, 0x02}, 3, false, ExchangeOutcome::WrongLength, 0},
      {"exception", WithCrc({0x01, 0x83, 0x02}), 5, false, ExchangeOutcome::Exception, 2},
      {"exception with a bad check", {0x01, 0x83, 0x02, 0x00, 0x00}, 5, false, ExchangeOutcome::WrongLength, 0},
      // Accepted by a test that does not compare the address: still another station's.
      {"other address", WithCrc({0x02, 0x03, 0x02, 0x04, 0xD2}), 7, true, ExchangeOutcome::OtherStation, 0},
      {"other station's exception", WithCrc({0x02, 0x83, 0x02}), 5, false, ExchangeOutcome::OtherStation, 0},
      {"other function", WithCrc({0x01, 0x04, 0x02, 0x04, 0xD2}), 7, false, ExchangeOutcome::OtherStation, 0},
  };
  for (const Case& c : cases) {
    TraceRecord record;
    record.request = request;
    record.reply = c.reply;
    record.expected = 7;
    record.waited = c.waited;
    record.accepted = c.accepted;
    record.exceptionCode = 9;
    ClassifyExchange(record);
    EXPECT_EQ(record.outcome, c.outcome) << c.name;
    EXPECT_EQ(record.exceptionCode, c.code) << c.name;
  }
}

TEST_F(ExchangeTest, GoodReplyIsAccepted) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  uint8_t reply[7] = {};
  EXPECT_TRUE(ReadLineLength(t, kReply, reply));
  EXPECT_EQ(request_, Bytes(kReadRequest.data(), kReadRequest.data() + 8));
  EXPECT_EQ(Bytes(reply, reply + 7), kReply);
}

TEST_F(ExchangeTest, RejectedReplies) {
  const struct {
    const char* name;
    Bytes reply;
  } cases[] = {
      {"long", WithCrc({0x01, 0x03, 0x02, 0x04, 0xD2, 0x00, 0x00})},
      {"exception", WithCrc({0x01, 0x83, 0x04})},
      {"corrupt", {0x01, 0x03, 0x02, 0x04, 0xD2, 0x00, 0x00}},
  };
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  for (const auto& c : cases) {
    uint8_t reply[7] = {};
    EXPECT_FALSE(ReadLineLength(t, c.reply, reply, 300)) << c.name;
  }
}

TEST_F(ExchangeTest, StaleByteIsFlushedBeforeTheRequest) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  // A late answer to some earlier poll lands while the port stays open.
  pty_.Send({0x5A});
  ASSERT_TRUE(pty_.WaitQueued(1, 1000));
  uint8_t reply[7] = {};
  EXPECT_TRUE(ReadLineLength(t, kReply, reply));
  EXPECT_EQ(Bytes(reply, reply + 7), kReply);
}

TEST_F(ExchangeTest, SlowLineGetsItsWireTime) {
  // At 1200 baud a full log page takes over 2 s; the caller's 1000 ms must
  // not cut it off.
  Transaction t(1, 1200);
  ASSERT_TRUE(t.IsOpen());
  Bytes page(245, 0x11);
  page[0] = 0x01;
  page[1] = 0x14;
  const Bytes reply247 = WithCrc(page);
  const Frame request = BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120);
  AnswerOnce(request.size, reply247, 1300);
  std::vector<uint8_t> reply(247);
  EXPECT_TRUE(t.Exchange(request, reply.data(), reply.size(), 1000));
}

TEST_F(ExchangeTest, PauseComesBeforeTheWrite) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  const Frame request = BuildWriteRequest(1, REG_BUZZER, 1);
  Clock::time_point arrived;
  device_ = std::thread([&] {
    pty_.Receive(request.size, 3000);
    arrived = Clock::now();
    pty_.Send(Bytes(request.data(), request.data() + request.size));
  });
  const auto start = Clock::now();
  uint8_t reply[8] = {};
  EXPECT_TRUE(t.Exchange(request, reply, sizeof reply, 1000, 100));
  device_.join();
  EXPECT_GE(Ms(arrived - start), 100.0);
}

TEST_F(ExchangeTest, TraceHookSeesEveryExchange) {
  std::vector<TraceRecord> seen;
  SetTraceHook([&seen](const TraceRecord& r) { seen.push_back(r); });
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  uint8_t reply[7] = {};
  ASSERT_TRUE(ReadLineLength(t, kReply, reply, 1000, 50));
  EXPECT_FALSE(t.Exchange(kReadRequest, reply, sizeof reply, 100));  // silence

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].device, pty_.Path());
  EXPECT_EQ(seen[0].request, Bytes(kReadRequest.data(), kReadRequest.data() + 8));
  EXPECT_EQ(seen[0].reply, kReply);
  EXPECT_EQ(seen[0].expected, 7u);
  EXPECT_EQ(seen[0].waited, 7u);
  EXPECT_TRUE(seen[0].accepted);
  EXPECT_GE(seen[0].roundTripMs, 50.0);  // the answer came 50 ms after the request
  EXPECT_FALSE(seen[1].accepted);
  EXPECT_EQ(seen[1].waited, 0u);
  EXPECT_TRUE(seen[1].reply.empty());
  EXPECT_GE(seen[1].roundTripMs, 100.0);

  SetTraceHook(nullptr);
  EXPECT_FALSE(t.Exchange(kReadRequest, reply, sizeof reply, 20));
  EXPECT_EQ(seen.size(), 2u);
}

// What the trace says of a refused reply: how many bytes the wait saw queued
// and how many were read, and what the acceptance test found.
TEST_F(ExchangeTest, TraceCountsWhatWasQueuedAndWhatWasRead) {
  const struct {
    const char* name;
    Bytes answer;
    bool accepted;
    uint32_t waited;
    size_t read;
    ReplyFault fault;
  } cases[] = {
      {"good", kReply, true, 7, 7, ReplyFault::None},
      // The first seven of nine form a good frame; all nine were queued.
      {"long", WithCrc({0x01, 0x03, 0x02, 0x04, 0xD2, 0x00, 0x00}), false, 9, 7, ReplyFault::Length},
      {"exception", WithCrc({0x01, 0x83, 0x04}), false, 5, 5, ReplyFault::Length},
      // Whole and checked, but no answer to this request.
      {"another station", WithCrc({0x02, 0x03, 0x02, 0x04, 0xD2}), false, 7, 7, ReplyFault::Station},
      {"another function", WithCrc({0x01, 0x04, 0x02, 0x04, 0xD2}), false, 7, 7,
       ReplyFault::Function},
  };
  std::vector<TraceRecord> seen;
  SetTraceHook([&seen](const TraceRecord& r) { seen.push_back(r); });
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  for (const auto& c : cases) {
    seen.clear();
    uint8_t reply[7] = {};
    EXPECT_EQ(ReadLineLength(t, c.answer, reply, 300), c.accepted) << c.name;
    ASSERT_EQ(seen.size(), 1u) << c.name;
    EXPECT_EQ(seen[0].accepted, c.accepted) << c.name;
    EXPECT_EQ(seen[0].expected, 7u) << c.name;
    EXPECT_EQ(seen[0].waited, c.waited) << c.name;
    EXPECT_EQ(seen[0].reply, Bytes(c.answer.begin(), c.answer.begin() + c.read)) << c.name;
    EXPECT_EQ(seen[0].fault, c.fault) << c.name;
  }
}

// An adapter that echoes hands the request back ahead of the reply. A whole
// echo is dropped and the reply judged alone; a part of one, or a garbled
// one, is noise and refused; an echo is never taken for the reply. In auto
// mode the device is learned to echo from the first whole echo on; until
// then a write of one register (answered with its own copy) is not looked at.
// A whole wait without a byte teaches that the device is quiet (its waits
// then leave no room for an echo), which an echo undoes.
TEST_F(ExchangeTest, AnAdaptersEchoIsDroppedAndNeverTakenForTheReply) {
  const Frame write = BuildWriteRequest(1, REG_WORK_MODE, 1);
  const Bytes read(kReadRequest.data(), kReadRequest.data() + kReadRequest.size);
  const Bytes written(write.data(), write.data() + write.size);
  const auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  Bytes garbled = read;
  garbled.back() ^= 0x01;
  const struct {
    const char* name;
    EchoMode mode;
    bool learned;  // the device echoed before (else forgotten first)
    bool isWrite;
    Bytes line;    // what comes back on the line
    bool accepted;
    uint32_t waited;
    bool echoed;
    bool learnedAfter;
    bool quietBefore = false;  // a wait passed in silence before
    bool quietAfter = false;
  } cases[] = {
      {"no echo", EchoMode::Auto, false, false, kReply, true, 7, false, false},
      {"whole echo, then the reply", EchoMode::Auto, false, false, join({read, kReply}), true, 7, true, true},
      {"half an echo, then the reply", EchoMode::Auto, true, false,
       join({Bytes(read.begin(), read.begin() + 4), kReply}), false, 11, false, true},
      {"a garbled echo, then the reply", EchoMode::Auto, true, false, join({garbled, kReply}), false, 15,
       false, true},
      {"an echo and no reply", EchoMode::Auto, true, false, read, false, 0, true, true},
      {"a write's copy, nothing learned", EchoMode::Auto, false, true, written, true, 8, false, false},
      {"a write's echo and copy together, nothing learned", EchoMode::Auto, false, true,
       join({written, written}), true, 8, true, true},
      {"a write's echo and copy, learned", EchoMode::Auto, true, true, join({written, written}), true, 8,
       true, true},
      {"a write's echo alone, learned", EchoMode::Auto, true, true, written, false, 0, true, true},
      {"echo off: the echo spoils the reply", EchoMode::Off, false, false, join({read, kReply}), false,
       15, false, false},
      {"echo on, nothing learned", EchoMode::On, false, true, join({written, written}), true, 8, true,
       false},
      {"silence: the device is quiet", EchoMode::Auto, false, false, {}, false, 0, false, false, false,
       true},
      {"an echo on a quiet device is dropped and learned", EchoMode::Auto, false, false,
       join({read, kReply}), true, 7, true, true, true, false},
      {"silence on a device that echoes: it still does", EchoMode::Auto, true, false, {}, false, 0, false,
       true, false, false},
      {"silence, echo off: nothing learned", EchoMode::Off, false, false, {}, false, 0, false, false,
       false, false},
  };
  std::vector<TraceRecord> seen;
  SetTraceHook([&seen](const TraceRecord& r) { seen.push_back(r); });
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetEcho(pty_.Path());
    if (c.learned) {
      SetEchoMode(EchoMode::Auto);
      uint8_t reply[7] = {};
      ASSERT_TRUE(ReadLineLength(t, join({read, kReply}), reply));
    }
    if (c.quietBefore) {
      SetEchoMode(EchoMode::Auto);
      uint8_t reply[7] = {};
      ASSERT_FALSE(ReadLineLength(t, {}, reply, 100));
      ASSERT_TRUE(DeviceQuiet(pty_.Path()));
    }
    SetEchoMode(c.mode);
    seen.clear();
    const Frame& request = c.isWrite ? write : kReadRequest;
    uint8_t reply[8] = {};
    const size_t replyLen = c.isWrite ? 8 : 7;
    AnswerOnce(request.size, c.line);
    EXPECT_EQ(t.Exchange(request, reply, replyLen, 300), c.accepted);
    device_.join();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].waited, c.waited);
    EXPECT_EQ(seen[0].echoed, c.echoed);
    EXPECT_EQ(DeviceEchoes(pty_.Path()), c.learnedAfter);
    EXPECT_EQ(DeviceQuiet(pty_.Path()), c.quietAfter);
  }
  SetEchoMode(EchoMode::Auto);
  ForgetEcho(pty_.Path());
}

// A write's reply must repeat the register and value it was given: the echo
// of another value (a late reply to the write before) is refused.
TEST_F(ExchangeTest, WriteEchoMustRepeatTheRequest) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  const Frame write = BuildWriteRequest(1, REG_WORK_MODE, 1);
  const Bytes echo(write.data(), write.data() + write.size);
  const Frame before = BuildWriteRequest(1, REG_WORK_MODE, 0);
  std::vector<TraceRecord> seen;
  SetTraceHook([&seen](const TraceRecord& r) { seen.push_back(r); });
  uint8_t reply[8] = {};
  AnswerOnce(write.size, Bytes(before.data(), before.data() + before.size));
  EXPECT_FALSE(t.Exchange(write, reply, sizeof reply, 300));
  device_.join();
  AnswerOnce(write.size, echo);
  EXPECT_TRUE(t.Exchange(write, reply, sizeof reply, 300));
  device_.join();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].waited, 8u);
  EXPECT_EQ(seen[0].reply.size(), 8u);
  EXPECT_EQ(seen[0].fault, ReplyFault::Echo);
  EXPECT_EQ(seen[1].fault, ReplyFault::None);
}

// A refused reply may be the head of more bytes still coming (noise, a reply
// longer than expected). The next exchange must not find them in its reply.
TEST_F(ExchangeTest, RefusedReplyLeavesASilentLine) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  std::vector<TraceRecord> seen;
  SetTraceHook([&seen](const TraceRecord& r) { seen.push_back(r); });
  Bytes bad = kReply;
  bad.back() ^= 0xFF;
  device_ = std::thread([&] {
    pty_.Receive(kReadRequest.size, 3000);
    pty_.Send(bad);
    // The exchange refuses the seven bytes at once; twenty more follow.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pty_.Send(Bytes(20, 0x55));
    // The next request is answered 10 ms after it comes: if the tail came
    // after that request went out, it lies in front of the answer.
    pty_.Receive(kReadRequest.size, 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pty_.Send(kReply);
  });
  uint8_t reply[7] = {};
  const bool first = t.Exchange(kReadRequest, reply, sizeof reply, 1000);
  const bool second = t.Exchange(kReadRequest, reply, sizeof reply, 1000);
  device_.join();
  EXPECT_FALSE(first);
  EXPECT_TRUE(second);
  EXPECT_EQ(Bytes(reply, reply + 7), kReply);
  ASSERT_EQ(seen.size(), 2u);
  // The trace tells of what was judged (the tail may have been queued by
  // then): the seven bad bytes read.
  EXPECT_GE(seen[0].waited, 7u);
  EXPECT_EQ(seen[0].reply, bad);
}

// A line that never falls silent cannot hold a refused exchange for ever: it
// gives up after the reply's wire time and 100 ms, long before the noise ends.
TEST_F(ExchangeTest, RefusedReplyOnABabblingLineStillReturns) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  std::atomic<bool> stop{false}, ended{false};
  device_ = std::thread([&] {
    pty_.Receive(kReadRequest.size, 3000);
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!stop && Clock::now() < end) {
      pty_.Send({0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA});
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ended = true;
  });
  uint8_t reply[7] = {};
  EXPECT_FALSE(t.Exchange(kReadRequest, reply, sizeof reply, 300));
  EXPECT_FALSE(ended) << "the exchange waited for the noise to end";
  stop = true;
  device_.join();  // before the flags go out of scope
}

TEST_F(ExchangeTest, TransactionClosesThePortAtTheEnd) {
  {
    Transaction t(1, 9600);
    EXPECT_TRUE(t.IsOpen());
    EXPECT_EQ(PortHandle, t.Port());
  }
  EXPECT_EQ(PortHandle, nullptr);
  SetPortPath(6, "/dev/no-such-tty");
  Transaction none(6, 9600);
  EXPECT_FALSE(none.IsOpen());
  uint8_t reply[7];
  EXPECT_FALSE(none.Exchange(BuildReadRequest(1, REG_LINE_LENGTH, 1), reply, 7));
}

TEST_F(ExchangeTest, DeadLineFailsWithoutWaiting) {
  Transaction t(1, 9600);
  ASSERT_TRUE(t.IsOpen());
  pty_.Hangup();
  uint8_t reply[7] = {};
  const auto start = Clock::now();
  EXPECT_FALSE(t.Exchange(BuildReadRequest(1, REG_LINE_LENGTH, 1), reply, 7, 1000));
  EXPECT_LT(Ms(Clock::now() - start), 500.0);
}

}  // namespace
