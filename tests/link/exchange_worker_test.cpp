// The exchange worker on a pseudo-terminal: the caller's thread goes on while
// the exchange waits, one exchange at a time, and an exchange called off ends
// at once without its outcome, at any point (pause, reply wait, worker end).
#include "exchange_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "pty_port_test.h"
#include "registers.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Long enough that an exchange that ends before it was called off, not
// waited out.
constexpr uint32_t kLongMs = 20000;

const Frame kRead = BuildReadRequest(1, REG_LINE_LENGTH, 1);

Bytes Reply() {
  Bytes body = {0x01, 0x03, 0x02, 0x04, 0xD2};
  const uint16_t crc = Crc16(body.data(), body.size());
  body.push_back(static_cast<uint8_t>(crc >> 8));
  body.push_back(static_cast<uint8_t>(crc & 0xFF));
  return body;
}

class ExchangeWorkerTest : public PtyPortTest {
 protected:
  void SetUp() override {
    PtyPortTest::SetUp();
    port_ = OpenDevice(pty_.Path(), 9600);
    ASSERT_NE(port_, nullptr);
    SetTraceHook([this](const TraceRecord& r) {
      std::lock_guard<std::mutex> lock(mutex_);
      traced_.push_back(r);
    });
  }
  void TearDown() override {
    SetTraceHook({});
    if (device_.joinable()) device_.join();
    CloseDevice(port_);
    PtyPortTest::TearDown();
  }

  std::vector<TraceRecord> Traced() {
    std::lock_guard<std::mutex> lock(mutex_);
    return traced_;
  }

  // `done` for a test: says, once, that the outcome can be taken.
  static ExchangeWorker::Done Into(std::promise<void>& ready) {
    return [&ready] { ready.set_value(); };
  }
  // Waits for `ready`, then takes the outcome. An outcome that never comes
  // fails here, not by the test's hang.
  static WorkerReply Taken(ExchangeWorker& worker, std::promise<void>& ready) {
    // Far past any exchange here: a worker that never says so fails, not hangs.
    if (ready.get_future().wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the outcome was never ready";
      return WorkerReply{};
    }
    const std::optional<WorkerReply> outcome = worker.Take();
    EXPECT_TRUE(outcome.has_value());
    EXPECT_FALSE(worker.Take().has_value()) << "taken once";
    return outcome.value_or(WorkerReply{});
  }

  HPORT port_ = nullptr;
  std::thread device_;
  std::mutex mutex_;
  std::vector<TraceRecord> traced_;
};

// The caller's Start() returns while the reply is still to come; a second
// Start() meanwhile is refused and sends nothing; the outcome arrives with
// the reply's bytes.
TEST_F(ExchangeWorkerTest, TheCallerGoesOnAndOneExchangeRunsAtATime) {
  std::promise<void> answer;
  device_ = std::thread([&] {
    pty_.Receive(kRead.size, 5000);
    answer.get_future().wait();
    pty_.Send(Reply());
  });
  ExchangeWorker worker;
  std::promise<void> ready;
  ASSERT_TRUE(worker.Start(port_, kRead, 7, kLongMs, 0, Into(ready)));
  EXPECT_TRUE(worker.Busy());
  EXPECT_FALSE(worker.Take().has_value()) << "not over yet";
  EXPECT_FALSE(worker.Start(port_, kRead, 7, kLongMs, 0, {}));
  answer.set_value();
  const WorkerReply got = Taken(worker, ready);
  EXPECT_TRUE(got.accepted);
  EXPECT_EQ(Bytes(got.reply.begin(), got.reply.begin() + got.length), Reply());
  device_.join();
  EXPECT_EQ(pty_.Receive(1, 200), Bytes{}) << "the refused Start sent nothing";
  ASSERT_EQ(Traced().size(), 1u);
}

// Called off in its pause, in its reply wait, or by the worker's end: the
// exchange ends long before its time-out, without its outcome, and the
// worker (a new one after its end) runs the next one in full.
TEST_F(ExchangeWorkerTest, CalledOffAnywhereItEndsAtOnceWithoutItsOutcome) {
  enum class Where { Pause, Wait, WorkerEnd };
  for (const Where where : {Where::Pause, Where::Wait, Where::WorkerEnd}) {
    SCOPED_TRACE(static_cast<int>(where));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      traced_.clear();
    }
    auto worker = std::make_unique<ExchangeWorker>();
    std::atomic<bool> called{false};
    const uint32_t pause = where == Where::Pause ? kLongMs : 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(worker->Start(port_, kRead, 7, kLongMs, pause, [&called] { called = true; }));
    if (where != Where::Pause) {
      ASSERT_EQ(pty_.Receive(kRead.size, 5000).size(), kRead.size);
    }
    if (where == Where::WorkerEnd)
      worker.reset();
    else
      worker->Cancel();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(kLongMs / 2));
    EXPECT_FALSE(called);
    if (worker) {
      EXPECT_FALSE(worker->Take().has_value());
    }
    if (where == Where::Pause) {
      EXPECT_TRUE(Traced().empty()) << "nothing went out";
      EXPECT_EQ(pty_.Receive(1, 100), Bytes{});
    } else {
      const std::vector<TraceRecord> traced = Traced();
      ASSERT_EQ(traced.size(), 1u);
      EXPECT_TRUE(traced[0].cancelled);
      EXPECT_FALSE(traced[0].accepted);
      EXPECT_EQ(traced[0].waited, 0u);
    }

    if (!worker) worker = std::make_unique<ExchangeWorker>();
    EXPECT_FALSE(worker->Busy());
    device_ = std::thread([&] {
      pty_.Receive(kRead.size, 5000);
      pty_.Send(Reply());
    });
    std::promise<void> ready;
    ASSERT_TRUE(worker->Start(port_, kRead, 7, kLongMs, 0, Into(ready)));
    EXPECT_TRUE(Taken(*worker, ready).accepted);
    device_.join();
  }
}

// An exchange over but not yet taken when called off: its outcome goes with
// the call-off, so a caller that stopped never takes a stale reply later,
// and the next exchange's is the one taken.
TEST_F(ExchangeWorkerTest, ACallOffDropsAnOutcomeNotYetTaken) {
  device_ = std::thread([&] {
    pty_.Receive(kRead.size, 5000);
    pty_.Send(Reply());
  });
  ExchangeWorker worker;
  std::promise<void> ready;
  ASSERT_TRUE(worker.Start(port_, kRead, 7, kLongMs, 0, Into(ready)));
  ASSERT_EQ(ready.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  device_.join();
  worker.Cancel();
  EXPECT_FALSE(worker.Take().has_value()) << "the outcome before the call-off";
  ASSERT_EQ(Traced().size(), 1u);
  EXPECT_TRUE(Traced()[0].accepted) << "it was over, not called off";
  std::promise<void> next;
  ASSERT_TRUE(worker.Start(port_, kRead, 7, 100, 0, Into(next)));
  EXPECT_FALSE(Taken(worker, next).accepted) << "no reply this time";
}

// Nothing to call off: Cancel returns at once and changes nothing.
TEST_F(ExchangeWorkerTest, CancelWhenIdleDoesNothing) {
  ExchangeWorker worker;
  worker.Cancel();
  EXPECT_FALSE(worker.Busy());
  EXPECT_FALSE(worker.Start(port_, kRead, kMaxFrameBytes + 1, 100, 0, {}))
      << "a reply longer than any frame";
  EXPECT_FALSE(worker.Busy());
}

}  // namespace
