// Adapters that echo: a 2-wire RS-485 adapter whose receiver stays on while
// it sends hands our own request back ahead of the reply. The port's calls
// (serial_port.cpp) drop that echo before anyone counts or reads reply
// bytes, so the exchange above them sees only the reply, as on any line.
//
// The rule: bytes that arrive first and equal the request just sent, whole,
// are its echo. A part of it, or a garbled one, is noise: it stays in front
// of the reply and the acceptance test refuses the exchange as it refuses
// any noise. Never is an echo taken for a reply.
//
// By default (auto) the console learns per device: once a whole echo has
// come, that device is known to echo for the rest of the session (every
// command opens the port afresh; it would otherwise learn again each time).
// Until then each wait has room for an echo's wire time ahead of the reply,
// unless a whole wait has passed without a byte: an echoing adapter would
// have handed the request back, so that device is known to be quiet (a
// search over silent addresses would otherwise pay the echo's wire time at
// every probe). An echo on a quiet device is still dropped, and from then
// on it is known to echo. A device that failed to open forgets both (the
// adapter may have changed).
// Until the device is known to echo, a request whose reply is the same
// length as itself (a write of one register, answered with its copy) is not
// waited on for an echo: the copy and the reply cannot be told apart. Only
// when the wait ends with the request twice over is the first its echo.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class EchoMode {
  Auto,  // learn it from the line
  On,    // every request comes back before its reply
  Off,   // the line never echoes (an echo is then noise)
};

// The process-wide choice (--echo); Auto unless told. Any thread.
void SetEchoMode(EchoMode mode);
EchoMode CurrentEchoMode();
// "auto", "on", "off".
bool ParseEchoMode(const std::string& text, EchoMode& mode);

// Whether `device` is known to echo (auto mode has seen it echo), or to
// be quiet (auto mode has seen a whole wait pass without an echo).
bool DeviceEchoes(const std::string& device);
bool DeviceQuiet(const std::string& device);
// Forgets what was learned about `device` (an open of it failed).
void ForgetEcho(const std::string& device);

// One port's echo at one time: the request it may still expect back, and
// the bytes taken off the line while it was told apart from the reply.
// Internal to the link.
class EchoFilter {
 public:
  explicit EchoFilter(std::string device = {}) : device_(std::move(device)) {}

  // A request went out whole: its echo may be on its way.
  void Sent(const uint8_t* data, size_t len);
  // A wait for `replyLen` reply bytes begins. Whether an echo is expected
  // ahead of them (the wait then grows by its wire time).
  bool Expect(size_t replyLen);
  size_t EchoBytes() const { return pending_.size(); }

  // Takes from `take` (which gives up to n bytes off the line) what may be
  // the echo, and drops it once it is whole. Returns at once when an echo
  // is told apart from what follows, or the line has no more for now.
  template <typename Take>
  void Sift(Take take);
  // The wait is over: a part of an echo still held is noise from here on.
  // `waitedOut`: it ran to its deadline, so an echo had all its time.
  void GiveUp(bool waitedOut);
  // The wait is over with `queued` bytes on the line: a write's copy that
  // came twice over was its echo and its reply (see above).
  template <typename Take>
  void Resolve(Take take, size_t queued);
  // Whether reply bytes can be counted yet (no echo still being matched).
  bool Matching() const { return matching_; }
  // Whether the wait's end must look for a write's echo and copy together.
  bool Ambiguous() const { return ambiguous_; }

  size_t Held() const { return held_.size() - heldStart_; }
  size_t TakeHeld(uint8_t* out, size_t len);
  // Before a request: nothing held, nothing expected.
  void Clear();
  // Whether the last exchange's echo was dropped whole.
  bool Echoed() const { return echoed_; }

 private:
  bool Compare();
  // The first `n` held bytes were the echo.
  void Dropped(size_t n);

  std::string device_;
  std::vector<uint8_t> pending_;  // the last request, as its echo would be
  std::vector<uint8_t> held_;     // taken off the line, not yet read
  size_t heldStart_ = 0;
  bool matching_ = false;
  bool ambiguous_ = false;  // not waited on for an echo, though one may come
  bool echoed_ = false;
};

template <typename Take>
void EchoFilter::Resolve(Take take, size_t queued) {
  const size_t n = pending_.size();
  if (!ambiguous_ || Held() != 0 || n == 0 || queued != 2 * n) return;
  ambiguous_ = false;
  held_.resize(2 * n);
  heldStart_ = 0;
  held_.resize(take(held_.data(), 2 * n));
  if (held_.size() == 2 * n && std::equal(pending_.begin(), pending_.end(), held_.begin()) &&
      std::equal(pending_.begin(), pending_.end(), held_.begin() + static_cast<ptrdiff_t>(n)))
    Dropped(n);
}

template <typename Take>
void EchoFilter::Sift(Take take) {
  while (matching_) {
    uint8_t buf[64];
    const size_t want = std::min(sizeof buf, pending_.size() - Held());
    const size_t n = take(buf, want);
    if (n == 0) return;
    held_.insert(held_.end(), buf, buf + n);
    if (!Compare()) return;
  }
}
