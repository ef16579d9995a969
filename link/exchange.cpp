#include "exchange.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <thread>

#include "deadline.h"
#include "remote_line.h"

namespace {

constexpr uint32_t kBitsPerByte = 10;  // start + 8 data + stop
constexpr uint32_t kReplyMarginMs = 100;
// A frame ends at 3.5 character times of silence. But the host cannot tell a
// short silence from a pause of its own making: a USB adapter hands bytes
// over in bursts up to 16 ms apart, and a busy machine may wake a poll (or a
// sender) tens of milliseconds late. So a line that was carrying bytes must
// be quiet for 50 ms at least, one that carried none for 20 ms.
constexpr uint64_t kFrameGapBits = 35;  // 3.5 characters of 10 bits
constexpr uint32_t kQuietAfterBytesMs = 50;

// The hook is held by shared_ptr so an exchange can take its own reference
// under the lock and call it outside: a slow hook never blocks SetTraceHook,
// and a hook may even remove itself.
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<const TraceHook>& HookSlot() {
  static std::shared_ptr<const TraceHook> hook;
  return hook;
}

std::shared_ptr<const TraceHook> CurrentHook() {
  std::lock_guard<std::mutex> lock(HookMutex());
  return HookSlot();
}

// Time on the wire for `bytes` at `baud`, rounded up to whole milliseconds.
uint64_t WireMs(int baud, size_t bytes) {
  if (baud <= 0) return 0;
  const uint64_t bits = uint64_t{kBitsPerByte} * bytes;
  return (bits * 1000 + static_cast<uint64_t>(baud) - 1) / static_cast<uint64_t>(baud);
}

// After a refused reply, waits until the line has been silent for a frame
// gap and leaves the receive queue empty. The refused bytes may be only the
// head of what is still coming (a longer reply, noise, the rest of a reply
// judged before its end); left on the line they would land at the front of
// the next reply, spoil it, and its tail the one after, for as long as the
// exchanges follow each other. A line that never falls silent is given the
// reply's wire time and the reply margin, no more. Over a network the rest
// of a reply may still be on its way after a gap of the line's length: the
// silence and the limit both take the network's margin as well.
void SettleLine(HPORT port, size_t replyLen, bool bytesCame, uint32_t quietAfterNothingMs) {
  const int baud = PortBaud(port);
  const uint32_t networkMs = PortNetworkMarginMs(port);
  const Deadline limit(WireMs(baud, replyLen) + kReplyMarginMs + networkMs);
  const uint64_t gapMs = baud > 0 ? (kFrameGapBits * 1000 + baud - 1) / baud : 0;
  for (;;) {
    PurgePort(port);
    const uint64_t left = limit.RemainingMs();
    if (left == 0) return;
    const uint64_t quietMs = std::max<uint64_t>(
        {gapMs, bytesCame ? kQuietAfterBytesMs : quietAfterNothingMs, bytesCame ? networkMs : 0});
    if (WaitForBytes(port, 1, static_cast<uint32_t>(std::min(quietMs, left))) == 0) return;
    bytesCame = true;
  }
}

struct ExchangeResult {
  std::chrono::system_clock::time_point when;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point end;  // the reply judged
  uint32_t waited = 0;
  size_t read = 0;
  ReplyFault fault = ReplyFault::Length;
  bool cancelled = false;
  bool accepted = false;  // the test passed and the exchange was not called off
};

void Trace(const TraceHook& hook, HPORT port, const Frame& request,
           const uint8_t* reply, size_t replyLen, const ExchangeResult& r) {
  TraceRecord rec;
  rec.when = r.when;
  rec.device = PortDevice(port);
  rec.request.assign(request.data(), request.data() + request.size);
  rec.reply.assign(reply, reply + r.read);
  rec.expected = replyLen;
  rec.waited = r.waited;
  rec.accepted = r.accepted;
  rec.fault = r.fault;
  rec.cancelled = r.cancelled;
  rec.roundTripMs = std::chrono::duration<double, std::milli>(r.end - r.start).count();
  rec.baud = PortBaud(port);
  rec.echoed = PortEchoed(port);
  ClassifyExchange(rec);
  hook(rec);
}

// The pause before a request; false when the exchange has been called off,
// before or during it (then nothing is sent).
bool Pause(uint32_t pauseMs, const ExchangeCancel* cancel) {
  if (cancel == nullptr) {
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    return true;
  }
  const Deadline deadline(pauseMs);
  for (;;) {
    const uint32_t left = deadline.RemainingMs();
    pollfd wake{cancel->Descriptor(), POLLIN, 0};
    if (left == 0) return !cancel->IsCancelled();
    const int r = poll(&wake, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (r > 0 || (r < 0 && errno != EINTR)) return !cancel->IsCancelled();
  }
}

}  // namespace

void SetTraceHook(TraceHook hook) {
  std::shared_ptr<const TraceHook> next;
  if (hook) next = std::make_shared<const TraceHook>(std::move(hook));
  std::lock_guard<std::mutex> lock(HookMutex());
  HookSlot() = std::move(next);
}

uint32_t ReplyTimeout(int baud, size_t requestBytes, size_t replyBytes,
                      uint32_t timeoutMs, uint32_t networkMs) {
  if (baud <= 0) return timeoutMs;
  // The controller takes the request as complete only after 3.5 characters
  // of silence, and only then begins its reply: at 1200 baud that is 29 ms
  // of the margin a slow line would otherwise lose.
  const uint64_t bits = uint64_t{kBitsPerByte} * (requestBytes + replyBytes) + kFrameGapBits;
  const uint64_t wireMs = (bits * 1000 + static_cast<uint64_t>(baud) - 1) / static_cast<uint64_t>(baud);
  const uint64_t needed = wireMs + kReplyMarginMs + networkMs;
  return needed > timeoutMs ? static_cast<uint32_t>(std::min<uint64_t>(needed, UINT32_MAX))
                            : timeoutMs;
}

uint32_t QuickProbeWait(int baud, size_t requestBytes, size_t replyBytes,
                        uint32_t turnaroundMs, uint32_t latencyMs) {
  const uint64_t wait = WireMs(baud, requestBytes + replyBytes) + turnaroundMs + latencyMs;
  return static_cast<uint32_t>(std::min<uint64_t>(wait, UINT32_MAX));
}

namespace {

bool CanExchange(HPORT port, const Frame& request, const uint8_t* reply, size_t replyLen) {
  return port != nullptr && reply != nullptr && request.size != 0 && replyLen != 0 &&
         replyLen <= UINT16_MAX;
}

// The exchange proper, once any pause is over. `wait` gives the reply wait
// from the baud rate; `cancel`, when given, calls the wait off.
template <typename Wait>
ExchangeCounts Run(HPORT port, const Frame& request, uint8_t* reply, size_t replyLen,
                    Wait wait, uint32_t quietAfterNothingMs, const ExchangeCancel* cancel) {
  const auto hook = CurrentHook();
  ExchangeResult r;
  if (hook) r.when = std::chrono::system_clock::now();
  r.start = std::chrono::steady_clock::now();

  // A late reply to an earlier request must not pass for this one's: on a
  // port that stays open (monitoring) it would shift every later poll.
  PurgePort(port);
  // A request that did not go out whole cannot be answered; waiting the full
  // time-out for it would only freeze the caller.
  if (WritePort(port, request.data(), request.size) == request.size) {
    r.waited = WaitForBytes(port, static_cast<uint16_t>(replyLen), wait(PortBaud(port)),
                            cancel ? cancel->Descriptor() : -1);
    // Fewer bytes than expected already fail the test; read only those that
    // are there rather than wait out the read time-out for the rest.
    r.read = ReadPort(port, reply, std::min<size_t>(replyLen, r.waited));
    r.fault = CheckReply(request, reply, replyLen, r.read, r.waited);
  }
  r.cancelled = cancel != nullptr && cancel->IsCancelled();
  r.accepted = r.fault == ReplyFault::None && !r.cancelled;
  r.end = std::chrono::steady_clock::now();
  // An accepted reply was exactly what was awaited: nothing more to wait for.
  // A caller that asks no silence after nothing came takes any late bytes
  // on itself.
  const bool settle = r.waited > 0 || quietAfterNothingMs > 0;
  if (!r.accepted && !r.cancelled && settle)
    SettleLine(port, replyLen, r.waited > 0, quietAfterNothingMs);
  if (hook) Trace(*hook, port, request, reply, replyLen, r);
  return {r.waited, r.read, r.accepted};
}

}  // namespace

ExchangeCounts ExchangeWaiting(HPORT port, const Frame& request, uint8_t* reply,
                                size_t replyLen, uint32_t waitMs, uint32_t quietMs) {
  if (!CanExchange(port, request, reply, replyLen)) return {};
  // Over a network the reply comes later by the connection's round trip.
  const uint32_t networkMs = PortNetworkMarginMs(port);
  return Run(port, request, reply, replyLen, [=](int) { return waitMs + networkMs; }, quietMs,
             nullptr);
}

bool Exchange(HPORT port, const Frame& request, uint8_t* reply, size_t replyLen,
              uint32_t timeoutMs, uint32_t pauseMs, const ExchangeCancel* cancel) {
  if (!CanExchange(port, request, reply, replyLen)) return false;
  if (!Pause(pauseMs, cancel)) return false;
  const auto wait = [&](int baud) {
    return ReplyTimeout(baud, request.size, replyLen, timeoutMs, PortNetworkMarginMs(port));
  };
  return Run(port, request, reply, replyLen, wait, kQuietAfterNothingMs, cancel).accepted;
}

ExchangeCancel::ExchangeCancel() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ExchangeCancel::~ExchangeCancel() {
  if (fd_ >= 0) close(fd_);
}

void ExchangeCancel::Cancel() {
  const uint64_t one = 1;
  // A counter already above 0 stays readable; a full one cannot happen.
  (void)!write(fd_, &one, sizeof one);
}

void ExchangeCancel::Reset() {
  uint64_t count = 0;
  (void)!read(fd_, &count, sizeof count);
}

bool ExchangeCancel::IsCancelled() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

Transaction::Transaction(int portNumber, int baud)
    : port_(OpenPort(portNumber, baud)) {}

Transaction::~Transaction() {
  // If the slot no longer holds our handle, someone reopened it and ours is
  // already closed.
  if (port_ != nullptr && PortHandle == port_) ClosePort();
}

bool Transaction::Exchange(const Frame& request, uint8_t* reply, size_t replyLen,
                           uint32_t timeoutMs, uint32_t pauseMs) const {
  return ::Exchange(port_, request, reply, replyLen, timeoutMs, pauseMs);
}
