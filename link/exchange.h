// One exchange (request out, checked reply in) and one transaction (open,
// exchanges, close). Every command, the monitoring poll and the parameter
// search go through Exchange(), so timing rules and the trace live here once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame_codec.h"
#include "serial_port.h"

// How an exchange ended, told from its bytes alone (whatever the acceptance
// test of the day looks at): the traffic view counts by it.
enum class ExchangeOutcome {
  Accepted,
  NoReply,       // nothing was read
  BadCheck,      // the awaited length, but the check bytes do not match
  WrongLength,   // more or fewer bytes than awaited
  Exception,     // a checked exception reply of the station asked
  OtherStation,  // a checked frame that answers another address or function
};
constexpr int kExchangeOutcomes = 6;

// What the trace sees of every exchange.
struct TraceRecord {
  std::chrono::system_clock::time_point when;  // when the request went out
  std::string device;
  std::vector<uint8_t> request;
  std::vector<uint8_t> reply;  // the bytes actually read
  size_t expected = 0;         // reply length the caller waited for
  uint32_t waited = 0;         // count WaitForBytes returned
  bool accepted = false;
  double roundTripMs = 0;      // request out to reply judged
  ReplyFault fault = ReplyFault::Length;  // what the acceptance test found
  bool cancelled = false;      // called off by another thread (ExchangeCancel)
  int baud = 0;                // the port's line speed
  ExchangeOutcome outcome = ExchangeOutcome::NoReply;
  uint8_t exceptionCode = 0;   // with ExchangeOutcome::Exception
  bool echoed = false;         // the adapter's echo of the request came first and was dropped
};

// Fills `record.outcome` (and the exception code) from its request, reply,
// expected length, wait count and acceptance.
void ClassifyExchange(TraceRecord& record);
using TraceHook = std::function<void(const TraceRecord&)>;

// Installs (or, with an empty function, removes) the trace hook. The hook may
// be called from any thread that runs an exchange.
void SetTraceHook(TraceHook hook);

// The reply wait actually used: the caller's time-out, but never less than the
// wire time of request plus reply at `baud` (10 bits a byte), the 3.5
// characters of silence that end the request, 100 ms, and on a remote line
// the network's margin `networkMs` (PortNetworkMarginMs).
uint32_t ReplyTimeout(int baud, size_t requestBytes, size_t replyBytes,
                      uint32_t timeoutMs, uint32_t networkMs = 0);

// The wait of a quick search probe: request and reply on the wire at `baud`
// (10 bits a byte), then the controller's turnaround budget (from the
// request's last byte to its reply's first, the 3.5 characters of silence
// included) and the adapter's latency margin. No floor: a short wait is the
// point of it.
uint32_t QuickProbeWait(int baud, size_t requestBytes, size_t replyBytes,
                        uint32_t turnaroundMs, uint32_t latencyMs);

// What became of one exchange: the count the wait returned, the bytes read
// into the reply buffer, and the acceptance test's verdict.
struct ExchangeCounts {
  uint32_t waited = 0;
  size_t read = 0;
  bool accepted = false;
};

// How long the line must be quiet after a refused reply that brought no byte
// at all, before the next exchange may begin (Exchange's rule).
constexpr uint32_t kQuietAfterNothingMs = 20;

// Exchange() with its waits given outright: `waitMs` for the reply, exactly;
// after a refused reply without any byte, `quietMs` of silence (at least the
// 3.5 characters) before it returns, or with 0 none: it returns at the end
// of its wait; after bytes, the rule of Exchange(). The parameter search
// uses it, where each probe's wait is known.
ExchangeCounts ExchangeWaiting(HPORT port, const Frame& request, uint8_t* reply,
                                size_t replyLen, uint32_t waitMs, uint32_t quietMs);

// One exchange on an open port: optional pause, empty the receive queue,
// write the request, wait for `replyLen` bytes, read exactly that many, and
// apply IsReplyValid. `reply` must hold `replyLen` bytes. A refused exchange
// returns only once the line has fallen silent (3.5 characters, at least
// 50 ms after bytes, 20 ms when none came; at most the reply's wire time plus
// 100 ms) and the receive queue is empty, so whatever spoiled it cannot spoil
// the next one; an accepted one returns at once.
//
// With `cancel`, another thread may call the exchange off: its pause and its
// reply wait end at once, it fails, and it returns without settling the line
// (whoever calls an exchange off is about to let the port go).
class ExchangeCancel;
bool Exchange(HPORT port, const Frame& request, uint8_t* reply, size_t replyLen,
              uint32_t timeoutMs = 1000, uint32_t pauseMs = 0,
              const ExchangeCancel* cancel = nullptr);

// Calls off the exchanges given it, from any thread: a descriptor that
// becomes readable on Cancel() (an eventfd), which the waits watch besides
// the port, so a waiting exchange wakes at once and none spins.
class ExchangeCancel {
 public:
  ExchangeCancel();
  ~ExchangeCancel();
  ExchangeCancel(const ExchangeCancel&) = delete;
  ExchangeCancel& operator=(const ExchangeCancel&) = delete;

  // Any thread: the exchange under way, and any started until Reset(), end.
  void Cancel();
  // Only while no exchange uses it: the next ones run in full again.
  void Reset();
  bool IsCancelled() const;
  int Descriptor() const { return fd_; }

 private:
  int fd_;
};

// A transaction on the process-wide PortHandle: OpenPort in the constructor,
// ClosePort in the destructor (so a message box shown inside the scope is on
// screen while the port is still open, as the operator expects).
class Transaction {
 public:
  Transaction(int portNumber, int baud);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool IsOpen() const { return port_ != nullptr; }
  HPORT Port() const { return port_; }
  // Gives the open port up to the caller: it stays in PortHandle after the
  // transaction ends, until someone calls ClosePort.
  HPORT Release() {
    HPORT port = port_;
    port_ = nullptr;
    return port;
  }
  bool Exchange(const Frame& request, uint8_t* reply, size_t replyLen,
                uint32_t timeoutMs = 1000, uint32_t pauseMs = 0) const;

 private:
  HPORT port_;
};
