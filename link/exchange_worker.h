// One exchange at a time on a thread of its own, for a caller whose own
// thread must keep running meanwhile: the window, while monitoring waits out
// the reply of a silent controller.
//
// The caller keeps the port: it opens it, hands it to each exchange, and
// closes it only while no exchange is under way (after Cancel(), or once it
// has taken the exchange's outcome). Nothing else is shared between the
// threads; the worker touches the port only between Start() and the moment
// the outcome can be taken.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "exchange.h"

// What one exchange came to: accepted or not, whether the device is still
// there, and the reply's bytes
// (`length` of them, the length awaited; meaningful when accepted).
struct WorkerReply {
  bool accepted = false;
  bool gone = false;  // the device went away meanwhile (PortGone)
  size_t length = 0;
  std::array<uint8_t, kMaxFrameBytes> reply{};
};

class ExchangeWorker {
 public:
  // Called on the worker's thread once the outcome of an exchange that was
  // not called off can be taken (Take). Only a wake-up: the outcome itself
  // passes under the worker's lock, so everything the exchange did to the
  // port is seen by the thread that takes it. It must not call back into
  // the worker.
  using Done = std::function<void()>;

  ExchangeWorker();
  // Calls off the exchange under way and ends the thread.
  ~ExchangeWorker();
  ExchangeWorker(const ExchangeWorker&) = delete;
  ExchangeWorker& operator=(const ExchangeWorker&) = delete;

  // Starts one exchange (see ::Exchange) on `port`. False, and nothing
  // starts, while the previous one is under way or the reply would not fit.
  bool Start(HPORT port, const Frame& request, size_t replyLen, uint32_t timeoutMs,
             uint32_t pauseMs, Done done);
  // Calls the exchange under way off: its pause and its reply wait end at
  // once and its `done` is not called. Returns once the worker no longer
  // touches the port (at once when it is idle).
  void Cancel();
  // An exchange has been started and is not over yet.
  bool Busy() const;
  // The outcome of the last exchange, once it is over and was not called
  // off; each outcome is taken once.
  std::optional<WorkerReply> Take();

 private:
  struct Job {
    HPORT port = nullptr;
    Frame request;
    size_t replyLen = 0;
    uint32_t timeoutMs = 0;
    uint32_t pauseMs = 0;
    Done done;
  };
  void Run();
  void RunJob(Job& job);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Job> job_;  // started, not yet taken up by the thread
  std::optional<WorkerReply> outcome_;  // over, not yet taken
  bool busy_ = false;       // from Start() until the exchange is over
  bool quit_ = false;
  ExchangeCancel cancel_;
  std::thread thread_;  // last: it starts once everything above is there
};
