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
};
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

// One exchange on an open port: optional pause, empty the receive queue,
// write the request, wait for `replyLen` bytes, read exactly that many, and
// apply IsReplyValid. `reply` must hold `replyLen` bytes. A refused exchange
// returns only once the line has fallen silent (3.5 characters, at least
// 50 ms after bytes, 20 ms when none came; at most the reply's wire time plus
// 100 ms) and the receive queue is empty, so whatever spoiled it cannot spoil
// the next one; an accepted one returns at once.
bool Exchange(HPORT port, const Frame& request, uint8_t* reply, size_t replyLen,
              uint32_t timeoutMs = 1000, uint32_t pauseMs = 0);

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
