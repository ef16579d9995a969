// Why an exchange was refused, in the operator's words: the informative text
// under a refusal's box ("读取失败!" and the others) and the tooltip of the
// monitoring's failure counter. The console's trace hook notes the facts of
// every exchange here, so a command can word the cause of its last one.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "exchange.h"

// What the console knows of one exchange that was refused.
struct RefusalFacts {
  ExchangeOutcome outcome = ExchangeOutcome::NoReply;
  uint8_t exceptionCode = 0;
  int asked = 0;         // the station the request went to
  int answered = 0;      // the address byte of the reply
  int function = 0;      // the request's function code
  int answeredFunction = 0;
  size_t expected = 0;   // reply bytes awaited
  size_t received = 0;   // reply bytes that came (more than awaited for a long one)
  double waitedMs = 0;   // from the request going out to the reply judged
  bool portGone = false;  // the device went away under the handle
};

RefusalFacts FactsOf(const TraceRecord& record);

// The informative text: empty for an accepted exchange on a port still there.
QString RefusalCause(const RefusalFacts& facts);

// "非法数据地址" for 02; the Modbus meaning of an exception code.
QString ExceptionMeaning(uint8_t code);

// Notes an exchange (the trace hook, any thread).
void NoteExchange(const TraceRecord& record);
// The last exchange noted on the calling thread; of any thread (the
// monitoring poll runs on its worker's).
std::optional<RefusalFacts> LastExchangeOnThisThread();
std::optional<RefusalFacts> LastExchangeOfAnyThread();
// Before a command's exchange: a refusal that never reached the line (the
// request could not be built or sent) must not borrow an older cause.
void ForgetLastExchange();

// The cause of this thread's last exchange on `port` (null: the port is not
// looked at), empty when none was noted.
QString LastRefusalCause(HPORT port);
// The cause of the last exchange of any thread: the monitoring poll's, on
// its worker; `gone` when the worker found the device gone.
QString LastPollCause(bool gone);
