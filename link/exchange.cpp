#include "exchange.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr uint32_t kBitsPerByte = 10;  // start + 8 data + stop
constexpr uint32_t kReplyMarginMs = 100;

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

struct ExchangeResult {
  std::chrono::system_clock::time_point when;
  std::chrono::steady_clock::time_point start;
  uint32_t waited = 0;
  size_t read = 0;
  bool accepted = false;
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
  rec.roundTripMs = std::chrono::duration<double, std::milli>(
                        std::chrono::steady_clock::now() - r.start)
                        .count();
  hook(rec);
}

}  // namespace

void SetTraceHook(TraceHook hook) {
  std::shared_ptr<const TraceHook> next;
  if (hook) next = std::make_shared<const TraceHook>(std::move(hook));
  std::lock_guard<std::mutex> lock(HookMutex());
  HookSlot() = std::move(next);
}

uint32_t ReplyTimeout(int baud, size_t requestBytes, size_t replyBytes,
                      uint32_t timeoutMs) {
  if (baud <= 0) return timeoutMs;
  const uint64_t bits = uint64_t{kBitsPerByte} * (requestBytes + replyBytes);
  const uint64_t wireMs = (bits * 1000 + static_cast<uint64_t>(baud) - 1) /
                          static_cast<uint64_t>(baud);
  const uint64_t needed = wireMs + kReplyMarginMs;
  return needed > timeoutMs ? static_cast<uint32_t>(std::min<uint64_t>(needed, UINT32_MAX))
                            : timeoutMs;
}

bool Exchange(HPORT port, const Frame& request, uint8_t* reply, size_t replyLen,
              uint32_t timeoutMs, uint32_t pauseMs) {
  if (port == nullptr || reply == nullptr || request.size == 0 ||
      replyLen == 0 || replyLen > UINT16_MAX) {
    return false;
  }
  if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
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
    const uint32_t wait =
        ReplyTimeout(PortBaud(port), request.size, replyLen, timeoutMs);
    r.waited = WaitForBytes(port, static_cast<uint16_t>(replyLen), wait);
    // Fewer bytes than expected already fail the test; read only those that
    // are there rather than wait out the read time-out for the rest.
    r.read = ReadPort(port, reply, std::min<size_t>(replyLen, r.waited));
    r.accepted = IsReplyValid(reply, replyLen, r.read, r.waited);
  }
  if (hook) Trace(*hook, port, request, reply, replyLen, r);
  return r.accepted;
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
