// The socket work common to every kind of remote line. The socket is
// non-blocking; every wait is a poll(2) against a monotonic deadline, as on
// the local line. Line bytes the kind delivers wait in rx_ until read.
#include "remote_line.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <thread>

#include "deadline.h"
#include "name_lookup.h"

namespace {

constexpr uint32_t kConnectTimeoutMs = 3000;
// A reconnect has the open's deadline; the caller's wake descriptor ends it
// at once when the exchange it serves is called off.
constexpr uint32_t kReconnectTimeoutMs = kConnectTimeoutMs;
constexpr auto kReconnectSpacing = std::chrono::milliseconds(500);
constexpr uint32_t kMinNetworkMarginMs = 50;
// A server still closing the device behind our previous connection (the
// search opens one per probe) turns the next one away and closes it; so
// does one that serves one client at a time. A few tries within the
// connect time-out ride that out.
constexpr int kOpenTries = 5;
constexpr auto kRetryPause = std::chrono::milliseconds(200);

// recv() calls of 4 KB a Pump may make: a server that floods must not hold
// a wait past its deadline.
constexpr int kReadsPerPump = 4;
constexpr uint64_t kFrameGapBits = 35;  // 3.5 characters of 10 bits
constexpr char kUnresolved[] = "无法解析主机名";

struct Address {
  bool ok = false;
  std::string host;
  std::string service;
};

// "SCHEME://HOST:PORT" with a host and a port 1..65535; an IPv6 host goes
// in brackets. The scheme is the kind table's business (line.cpp).
Address ParsePath(const std::string& path) {
  Address a;
  const size_t sep = path.find("://");
  if (sep == std::string::npos) return a;
  const size_t colon = path.rfind(':');
  if (colon <= sep + 3) return a;
  std::string host = path.substr(sep + 3, colon - sep - 3);
  const std::string service = path.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (service.empty() || service.size() > 5 ||
      !std::all_of(service.begin(), service.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return a;
  }
  const int port = std::stoi(service);
  if (port < 1 || port > 65535) return a;
  a.ok = true;
  a.host = host;
  a.service = service;
  return a;
}

std::string SystemMessage(int err) { return std::error_code(err, std::generic_category()).message(); }

// One connect to one address, within `deadline`, or until `wakeFd` (not
// -1) is readable: the descriptor, or -1 with errno's value in `err`.
int ConnectOne(const Endpoint& e, const Deadline& deadline, int wakeFd, int& err) {
  const int fd = socket(e.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    err = errno;
    return -1;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&e.address), e.length) == 0) return fd;
  err = errno;
  if (err == EINPROGRESS) {
    socklen_t len = sizeof err;
    const LineWait w = PollLine(fd, POLLOUT, deadline.RemainingMs(), wakeFd);
    if (w == LineWait::TimedOut || w == LineWait::Woken) {
      err = ETIMEDOUT;
    } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
      err = errno;
    } else if (err == 0) {
      return fd;
    }
  }
  close(fd);
  return -1;
}

}  // namespace

bool IsRemotePath(const std::string& path) { return IsSchemeLine(path); }

bool LineSetsBaud(const std::string& path) { return KindSetsBaud(path); }

std::unique_ptr<Line> RemoteLine::ForPath(const RemoteKind& kind, const std::string& path) {
  Address a = ParsePath(path);
  if (!a.ok) return nullptr;
  return std::unique_ptr<Line>(new RemoteLine(kind, path, std::move(a.host), std::move(a.service)));
}

RemoteLine::RemoteLine(const RemoteKind& kind, std::string path, std::string host, std::string service)
    : kind_(kind), path_(std::move(path)), host_(std::move(host)), service_(std::move(service)) {}

RemoteLine::~RemoteLine() { Drop(); }

// A remote line takes no lock file and has no local owners to look for in
// /proc: the server decides who may use it.
bool RemoteLine::Open(int baud, OpenFailure& failure) {
  baud_ = baud;
  const Deadline budget(kConnectTimeoutMs);
  std::string why;
  for (int attempt = 1;; ++attempt) {
    lastAttempt_ = std::chrono::steady_clock::now();
    if (!Connect(budget.RemainingMs(), why)) break;
    if (Start(budget.RemainingMs(), why)) return true;
    if (!closedByServer_ || attempt == kOpenTries || budget.Expired()) break;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        kRetryPause, std::chrono::milliseconds(budget.RemainingMs())));
  }
  if (why.rfind(kUnresolved, 0) != 0) why = "无法连接 " + host_ + ":" + service_ + "：" + why;
  failure = {OpenCause::Unreachable, path_, why, 0, why};
  return false;
}

bool RemoteLine::SetBaud(int baud) {
  const int was = baud_;
  baud_ = baud;
  negotiationMs_ = kConnectTimeoutMs;
  if (fd_ < 0 || kind_.setBaud == nullptr || kind_.setBaud(*this)) return true;
  baud_ = was;
  return false;
}

bool RemoteLine::Connect(uint32_t timeoutMs, std::string& why) {
  const Deadline deadline(timeoutMs);
  std::vector<Endpoint> found;
  if (!LookUpName(host_, service_, timeoutMs, found, why)) return false;
  int err = ETIMEDOUT;
  for (const Endpoint& e : found) {
    if (fd_ >= 0 || deadline.Expired()) break;
    fd_ = ConnectOne(e, deadline, wake_, err);
  }
  if (fd_ < 0) {
    why = SystemMessage(err);
    return false;
  }
  // A request is one small write awaiting its reply: Nagle would hold the
  // next one back for the server's delayed ACK.
  const int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool RemoteLine::Start(uint32_t timeoutMs, std::string& why) {
  negotiationMs_ = timeoutMs;
  closedByServer_ = false;
  dropped_ = 0;
  rx_.clear();
  rxStart_ = 0;
  out_.clear();
  outStart_ = 0;
  state.reset();
  if (kind_.start(*this, why)) return true;
  Drop();
  return false;
}

void RemoteLine::Drop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  state.reset();
}

void RemoteLine::Deliver(uint8_t byte) {
  if (rx_.size() - rxStart_ >= kBufferLimit) {
    ++dropped_;
    return;
  }
  if (rxStart_ >= kBufferLimit) {
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rxStart_));
    rxStart_ = 0;
  }
  rx_.push_back(byte);
}

bool RemoteLine::Pump() {
  std::array<uint8_t, 4096> buf;
  // A server that never stops sending must not keep us here: what it sends
  // past this waits for the next call (and is dropped there if unread).
  for (int reads = 0; fd_ >= 0 && reads < kReadsPerPump;) {
    if (!Flush()) break;
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n > 0) {
      ++reads;
      // The kind may answer the server, and find it gone.
      kind_.receive(*this, buf.data(), static_cast<size_t>(n));
      if (static_cast<size_t>(n) < buf.size()) break;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      closedByServer_ = true;  // closed, or reset
      Drop();
    }
  }
  return Flush();
}

// Sends what the socket takes now of the kind's queued bytes. False once
// the connection has dropped.
bool RemoteLine::Flush() {
  while (fd_ >= 0 && outStart_ < out_.size()) {
    // MSG_NOSIGNAL: a server gone away must fail the write, not raise
    // SIGPIPE and end the console.
    const ssize_t n = send(fd_, out_.data() + outStart_, out_.size() - outStart_, MSG_NOSIGNAL);
    if (n > 0) {
      outStart_ += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      closedByServer_ = true;  // EPIPE, ECONNRESET
      Drop();
    }
  }
  if (outStart_ == out_.size()) {
    out_.clear();
    outStart_ = 0;
  }
  return fd_ >= 0;
}

LineWait RemoteLine::PollIn(uint32_t ms, int wakeFd) {
  if (fd_ < 0) return LineWait::Gone;
  // While our own bytes wait for room, room is worth waking for too.
  const short events = outStart_ < out_.size() ? POLLIN | POLLOUT : POLLIN;
  return PollLine(fd_, events, ms, wakeFd);
}

bool RemoteLine::SendWire(const std::vector<uint8_t>& wire) {
  if (fd_ < 0) return false;
  if (out_.size() - outStart_ + wire.size() > kBufferLimit) {
    dropped_ += wire.size();
    return false;
  }
  out_.insert(out_.end(), wire.begin(), wire.end());
  return Flush();
}

LineWait RemoteLine::AwaitInput(uint32_t ms, int wakeFd) { return PollIn(ms, wakeFd); }

size_t RemoteLine::Take(uint8_t* data, size_t len) {
  const size_t n = std::min(len, rx_.size() - rxStart_);
  if (n == 0) return 0;  // an empty buffer's data() may be null, even for memcpy of nothing
  std::memcpy(data, rx_.data() + rxStart_, n);
  rxStart_ += n;
  if (rxStart_ == rx_.size()) {
    rx_.clear();
    rxStart_ = 0;
  }
  return n;
}

ssize_t RemoteLine::Send(const uint8_t* wire, size_t n) {
  // The kind's own bytes go first, whole: line bytes inside a Telnet
  // command would spoil both.
  if (!Flush()) return -1;
  if (outStart_ < out_.size()) return 0;
  while (fd_ >= 0) {
    const ssize_t sent = send(fd_, wire, n, MSG_NOSIGNAL);
    if (sent > 0) return sent;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    closedByServer_ = true;  // EPIPE, ECONNRESET
    Drop();
  }
  return -1;
}

LineWait RemoteLine::AwaitOutput(uint32_t ms, int wakeFd) {
  if (fd_ < 0) return LineWait::Gone;
  return PollLine(fd_, POLLOUT, ms, wakeFd);
}

void RemoteLine::Purge(int wakeFd) {
  rx_.clear();
  rxStart_ = 0;
  if (fd_ >= 0) Pump();  // what the socket holds is stale too
  rx_.clear();
  rxStart_ = 0;
  wake_ = wakeFd;
  const bool back = fd_ < 0 && Reconnect();
  if (fd_ >= 0 && kind_.purge != nullptr) kind_.purge(*this, back);
  if (back && fd_ >= 0 && kind_.purge == nullptr) Settle();
  if (back) {
    rx_.clear();  // what came before the server's purge was stale
    rxStart_ = 0;
  }
  wake_ = -1;
}

// At most one attempt every half second, so a dead server is not hammered
// by every poll; within the open's own 3 s, and called off by the wake.
bool RemoteLine::Reconnect() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastAttempt_ < kReconnectSpacing) return false;
  lastAttempt_ = now;
  std::string why;
  const Deadline budget(kReconnectTimeoutMs);
  return Connect(budget.RemainingMs(), why) && Start(budget.RemainingMs(), why);
}

// The tail of a reply the server had sent into the old connection may
// still come through the new one: wait for 3.5 characters of silence plus
// the network's margin, dropping what comes, within the reconnect's time.
void RemoteLine::Settle() {
  const uint32_t quietMs =
      static_cast<uint32_t>((kFrameGapBits * 1000 + baud_ - 1) / std::max(baud_, 1)) + MarginMs();
  const Deadline limit(kReconnectTimeoutMs);
  for (;;) {
    rx_.clear();
    rxStart_ = 0;
    const uint32_t left = limit.RemainingMs();
    if (left == 0) return;
    const LineWait w = PollIn(std::min(quietMs, left), wake_);
    if (w != LineWait::Ready || !Pump() || rx_.empty()) break;
  }
  rx_.clear();
  rxStart_ = 0;
}

uint32_t RemoteLine::MarginMs() const {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (fd_ < 0 || getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return kMinNetworkMarginMs;
  const uint32_t rttMs = (info.tcpi_rtt + 999) / 1000;  // the kernel's smoothed round trip, in µs
  return std::max(kMinNetworkMarginMs, rttMs);
}
