// The exchange after a fault, against the simulated controller sending at
// wire speed: one spoiled reply spoils no more than its own exchange, because
// a refused exchange leaves the line silent for the next one.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exchange.h"
#include "pty_server.h"
#include "registers.h"

namespace {

using sim::Fault;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 9600;
constexpr uint32_t kTimeoutMs = 150;
constexpr size_t kShortReply = 7;    // one register
constexpr size_t kPageReply = 247;   // 24 log entries: 257 ms on the wire

struct RecoveryCase {
  const char* name;
  Fault fault;
  int delayMs;
  size_t replyLen;  // of the faulted exchange; the others read one register
  // The faulted exchange's fate, where the fault decides it: refused, with
  // the counts the wait and the read saw. -1: it may go either way.
  int refused;
  int waited, read;
  // Refused exchanges in all the fault may cause.
  int budget;
};

void PrintTo(const RecoveryCase& c, std::ostream* os) { *os << c.name; }

const RecoveryCase kCases[] = {
    {"BadCheck", Fault::BadCrc, 0, kShortReply, 1, 7, 7, 1},
    // The reply is whole after seven bytes; whether the wait saw seven or
    // nine, the two extra bytes must not spoil more than one exchange.
    {"ExtraBytes", Fault::ExtraBytes, 0, kShortReply, -1, 0, 0, 1},
    {"Short", Fault::ShortReply, 0, kShortReply, 1, 5, 5, 1},
    {"Exception", Fault::Exception, 0, kShortReply, 1, 5, 5, 1},
    {"Silence", Fault::Silence, 0, kShortReply, 1, 0, 0, 1},
    // A page that starts 250 ms after the request and takes 257 ms: the
    // wait of 370 ms ends in its middle, and the rest must not reach the
    // next one. (A test thread held up past the page's end sees it whole and
    // rightly takes it.)
    {"DelayAcrossTheWait", Fault::Delay, 250, kPageReply, -1, -1, -1, 1},
    {"DelayWithinTheWait", Fault::Delay, 60, kShortReply, 0, 7, 7, 0},
    // A reply 150 ms after its exchange gave up lands in whichever exchange
    // is in flight then: that one is spoiled too (nothing can tell a stray
    // reply from the awaited one), but none after it.
    {"Late", Fault::Late, 2 * kTimeoutMs, kShortReply, 1, 0, 0, 2},
};

struct Seen {
  bool accepted;
  uint32_t waited;
  size_t read;
};

class ExchangeRecovery : public ::testing::TestWithParam<RecoveryCase> {
 protected:
  void SetUp() override {
    sim::ControllerOptions options;
    options.baud = kBaud;
    options.prefillLog = 24;
    server_ = std::make_unique<sim::PtyServer>(options);
    ASSERT_TRUE(server_->Start()) << std::strerror(errno);
    server_->SetPacing(true);
    port_ = OpenDevice(server_->DevicePath(), kBaud);
    ASSERT_NE(port_, nullptr);
    SetTraceHook([this](const TraceRecord& r) {
      seen_.push_back({r.accepted, r.waited, r.reply.size()});
    });
  }
  void TearDown() override {
    SetTraceHook(nullptr);
    CloseDevice(port_);
  }

  bool Run(size_t replyLen) {
    const Frame request = replyLen == kPageReply
                              ? BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120)
                              : BuildReadRequest(1, REG_LINE_LENGTH, 1);
    std::vector<uint8_t> reply(replyLen);
    return Exchange(port_, request, reply.data(), reply.size(), kTimeoutMs);
  }

  std::unique_ptr<sim::PtyServer> server_;
  HPORT port_ = nullptr;
  std::vector<Seen> seen_;
};

TEST_P(ExchangeRecovery, OneFaultSpoilsAtMostItsShareThenEveryExchangeSucceeds) {
  const RecoveryCase& c = GetParam();
  ASSERT_TRUE(Run(kShortReply)) << "the line works before the fault";
  seen_.clear();

  server_->InjectFault(c.fault, 1, c.delayMs);
  const auto faulted = Clock::now();
  Run(c.replyLen);
  // Back to back, for at least 20 exchanges and until any late reply has
  // long landed.
  const auto until = faulted + std::chrono::milliseconds(c.delayMs + 3 * kTimeoutMs);
  while (seen_.size() < 21 || Clock::now() < until) Run(kShortReply);

  ASSERT_GE(seen_.size(), 21u);
  if (c.refused >= 0) {
    EXPECT_EQ(seen_[0].accepted, c.refused == 0);
    if (c.waited >= 0) {
      EXPECT_EQ(seen_[0].waited, static_cast<uint32_t>(c.waited));
      EXPECT_EQ(seen_[0].read, static_cast<size_t>(c.read));
    }
  }
  int refused = 0;
  std::string verdicts;
  for (const Seen& s : seen_) {
    refused += s.accepted ? 0 : 1;
    verdicts += s.accepted ? '+' : '-';
    if (!s.accepted) {
      verdicts += "(" + std::to_string(s.waited) + "/" + std::to_string(s.read) + ")";
    }
  }
  EXPECT_LE(refused, c.budget) << verdicts;
  // However the fault played out, the line is clean for the last ten.
  for (size_t i = seen_.size() - 10; i < seen_.size(); ++i) {
    EXPECT_TRUE(seen_[i].accepted) << "exchange " << i << ": " << verdicts;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFault, ExchangeRecovery, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
