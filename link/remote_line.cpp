// The socket work common to every kind of remote line. The socket is
// non-blocking; every wait is a poll(2) against a monotonic deadline, as on
// the local line. Line bytes the kind delivers wait in rx_ until read.
#include "remote_line.h"

#include <netdb.h>
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

namespace {

constexpr uint32_t kConnectTimeoutMs = 3000;
// A reconnect runs inside an exchange (the purge before its request): it
// must not hold the caller much longer than the exchange's own wait would.
constexpr uint32_t kReconnectTimeoutMs = 1000;
constexpr auto kReconnectSpacing = std::chrono::milliseconds(500);
constexpr uint32_t kMinNetworkMarginMs = 50;
// A server still closing the device behind our previous connection (the
// search opens one per probe) turns the next one away and closes it; so
// does one that serves one client at a time. A few tries within the
// connect time-out ride that out.
constexpr int kOpenTries = 5;
constexpr auto kRetryPause = std::chrono::milliseconds(200);

// A negotiation's bytes go out within this, as a request's would.
constexpr uint64_t kWritePerByteMs = 50;
constexpr uint64_t kWriteConstantMs = 100;

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

// One connect to one address, within `deadline`: the descriptor, or -1 with
// errno's value in `err`.
int ConnectOne(const addrinfo& ai, const Deadline& deadline, int& err) {
  const int fd = socket(ai.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    err = errno;
    return -1;
  }
  if (connect(fd, ai.ai_addr, ai.ai_addrlen) == 0) return fd;
  err = errno;
  if (err == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    const int r = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
    socklen_t len = sizeof err;
    if (r == 0) {
      err = ETIMEDOUT;
    } else if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
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
    std::this_thread::sleep_for(kRetryPause);
  }
  why = "无法连接 " + host_ + ":" + service_ + "：" + why;
  failure = {OpenCause::Unreachable, path_, why, 0, why};
  return false;
}

bool RemoteLine::SetBaud(int baud) {
  const int was = baud_;
  baud_ = baud;
  if (fd_ < 0 || kind_.setBaud == nullptr || kind_.setBaud(*this)) return true;
  baud_ = was;
  return false;
}

bool RemoteLine::Connect(uint32_t timeoutMs, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host_.c_str(), service_.c_str(), &hints, &found);
  if (rc != 0) {
    why = gai_strerror(rc);
    return false;
  }
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
  const Deadline deadline(timeoutMs);
  int err = ETIMEDOUT;
  for (const addrinfo* ai = found; ai != nullptr && fd_ < 0 && !deadline.Expired(); ai = ai->ai_next) {
    fd_ = ConnectOne(*ai, deadline, err);
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
  rx_.clear();
  rxStart_ = 0;
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

bool RemoteLine::Pump() {
  std::array<uint8_t, 4096> buf;
  while (fd_ >= 0) {
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n > 0) {
      // The kind may answer the server, and find it gone.
      kind_.receive(*this, buf.data(), static_cast<size_t>(n));
      if (static_cast<size_t>(n) < buf.size()) return fd_ >= 0;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      closedByServer_ = true;  // closed, or reset
      Drop();
    }
  }
  return false;
}

bool RemoteLine::PollIn(uint32_t ms, int wakeFd) {
  pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  return poll(p, wakeFd >= 0 ? 2 : 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms)) != 0;
}

bool RemoteLine::SendWire(const std::vector<uint8_t>& wire) {
  const Deadline deadline(kWritePerByteMs * wire.size() + kWriteConstantMs);
  size_t done = 0;
  while (done < wire.size()) {
    const ssize_t n = Send(wire.data() + done, wire.size() - done);
    if (n < 0) break;
    done += static_cast<size_t>(n);
    if (n == 0 && AwaitOutput(deadline.RemainingMs()) != LineWait::Ready) break;
  }
  return done == wire.size();
}

LineWait RemoteLine::AwaitInput(uint32_t ms, int wakeFd) {
  if (fd_ < 0) return LineWait::Gone;
  return PollLine(fd_, POLLIN, ms, wakeFd);
}

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
  while (fd_ >= 0) {
    // MSG_NOSIGNAL: a server gone away must fail the write, not raise
    // SIGPIPE and end the console.
    const ssize_t sent = send(fd_, wire, n, MSG_NOSIGNAL);
    if (sent > 0) return sent;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    closedByServer_ = true;  // EPIPE, ECONNRESET
    Drop();
  }
  return -1;
}

LineWait RemoteLine::AwaitOutput(uint32_t ms) {
  if (fd_ < 0) return LineWait::Gone;
  return PollLine(fd_, POLLOUT, ms);
}

void RemoteLine::Purge(int) {
  rx_.clear();
  rxStart_ = 0;
  if (fd_ >= 0) Pump();  // what the socket holds is stale too
  rx_.clear();
  rxStart_ = 0;
  if (fd_ < 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAttempt_ < kReconnectSpacing) return;
    lastAttempt_ = now;
    std::string why;
    if (!Connect(kReconnectTimeoutMs, why) || !Start(kReconnectTimeoutMs, why)) return;
  }
  if (kind_.purge != nullptr) kind_.purge(*this);
}

uint32_t RemoteLine::MarginMs() const {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (fd_ < 0 || getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return kMinNetworkMarginMs;
  const uint32_t rttMs = (info.tcpi_rtt + 999) / 1000;  // the kernel's smoothed round trip, in µs
  return std::max(kMinNetworkMarginMs, rttMs);
}
