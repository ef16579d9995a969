#include "pty_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <optional>

#include "pseudo_terminal.h"
#include "request_framer.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr uint8_t kDeviceFailure = 0x04;
constexpr int kConsoleTimeoutMs = 1200;
// A demo may run for days: the oldest half of the record goes beyond this.
constexpr size_t kMaxRecorded = 100000;

// Time on the wire for `bytes` at `baud`, 10 bits a byte.
microseconds WireTime(size_t bytes, int baud) {
  return microseconds(baud > 0 ? static_cast<long long>(bytes) * 10000000LL / baud : 0);
}

struct FaultShot {
  Fault fault = Fault::None;
  int delayMs = 0;
};

}  // namespace

struct PtyServer::Impl {
  explicit Impl(const ControllerOptions& options) : device(options) {}

  bool Start();
  void Shutdown();
  void Run();
  void Receive(Clock::time_point now);
  void OnFrame(std::vector<uint8_t> frame, Clock::time_point now);
  void Schedule(const std::vector<uint8_t>& reply, Clock::time_point due, int baud);
  void Flush(Clock::time_point now);
  std::optional<Clock::time_point> NextDeadline() const;
  FaultShot TakeFault();

  Controller device;
  PseudoTerminal pty;
  std::string path;
  int wake = -1;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> paced{false};

  mutable std::mutex mu;  // guards requests and the fault plan
  mutable std::condition_variable arrived;
  std::vector<ReceivedFrame> requests;
  Fault fault = Fault::None;
  int faultCount = 0;
  int faultDelayMs = 0;
  int faultAfter = 0;  // good replies still to go before the fault starts

  // Serving thread only.
  RequestFramer framer;
  std::multimap<Clock::time_point, std::vector<uint8_t>> outbox;
  bool watchMaster = true;
};

bool PtyServer::Impl::Start() {
  if (thread.joinable()) return true;
  if (!pty.Open(device.Baud())) return false;
  wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    const int saved = errno;
    pty.Close();
    errno = saved;
    return false;
  }
  path = pty.SlavePath();
  stopping = false;
  watchMaster = true;
  outbox.clear();
  framer = RequestFramer();
  thread = std::thread(&Impl::Run, this);
  return true;
}

void PtyServer::Impl::Shutdown() {
  if (thread.joinable()) {
    stopping = true;
    const uint64_t one = 1;
    (void)!write(wake, &one, sizeof one);
    thread.join();
  }
  if (wake >= 0) close(wake);
  wake = -1;
  pty.Close();
}

std::optional<Clock::time_point> PtyServer::Impl::NextDeadline() const {
  std::optional<Clock::time_point> next = framer.Deadline();
  if (!outbox.empty() && (!next || outbox.begin()->first < *next)) {
    next = outbox.begin()->first;
  }
  return next;
}

void PtyServer::Impl::Run() {
  while (!stopping) {
    timespec ts{};
    timespec* timeout = nullptr;
    if (const auto next = NextDeadline()) {
      const auto wait = std::max<Clock::duration>(*next - Clock::now(), Clock::duration::zero());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      timeout = &ts;
    }
    pollfd fds[2] = {{wake, POLLIN, 0}, {pty.Master(), POLLIN, 0}};
    const int n = ppoll(fds, watchMaster ? 2 : 1, timeout, nullptr);
    if (n < 0 && errno != EINTR) break;
    if (stopping) break;
    const auto now = Clock::now();
    if (n > 0 && watchMaster && fds[1].revents != 0) Receive(now);
    for (auto& frame : framer.Expire(now)) OnFrame(std::move(frame), now);
    Flush(now);
  }
}

void PtyServer::Impl::Receive(Clock::time_point now) {
  uint8_t buf[512];
  const ssize_t got = read(pty.Master(), buf, sizeof buf);
  if (got > 0) {
    framer.SetSilence(RequestFramer::SilenceFor(device.Baud()));
    for (auto& frame : framer.Feed(buf, static_cast<size_t>(got), now)) {
      OnFrame(std::move(frame), now);
    }
  } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
    // The line is gone for good; stop polling it rather than spin on it.
    watchMaster = false;
  }
}

void PtyServer::Impl::OnFrame(std::vector<uint8_t> frame, Clock::time_point now) {
  const int line = pty.LineBaud();
  {
    std::lock_guard<std::mutex> lock(mu);
    if (requests.size() >= kMaxRecorded) {
      requests.erase(requests.begin(), requests.begin() + kMaxRecorded / 2);
    }
    requests.push_back({now, frame, line});
  }
  arrived.notify_all();
  const int baud = device.Baud();
  if (line != baud) return;  // garbled at the wrong speed: no answer
  std::vector<uint8_t> reply = device.Handle(frame.data(), frame.size());
  if (reply.empty()) return;
  const FaultShot shot = TakeFault();
  Clock::time_point due = now;
  switch (shot.fault) {
    case Fault::None:
      break;
    case Fault::Silence:
      return;
    case Fault::BadCrc:
      reply.back() ^= 0xFF;
      break;
    case Fault::ExtraBytes:
      reply.insert(reply.end(), {0x00, 0x00});
      break;
    case Fault::ShortReply:
      reply.resize(reply.size() - 2);
      break;
    case Fault::Exception:
      reply = Controller::ExceptionReply(frame[0], frame[1], kDeviceFailure);
      break;
    case Fault::Delay:
      due += milliseconds(shot.delayMs);
      break;
    case Fault::Late:
      due += shot.delayMs > 0 ? microseconds(milliseconds(shot.delayMs))
                              : milliseconds(kConsoleTimeoutMs) +
                                    WireTime(frame.size() + reply.size(), baud);
      break;
  }
  Schedule(reply, due, baud);
}

void PtyServer::Impl::Schedule(const std::vector<uint8_t>& reply, Clock::time_point due,
                               int baud) {
  if (!paced) {
    outbox.emplace(due, reply);
    return;
  }
  // A byte is there once its last bit is.
  for (size_t i = 0; i < reply.size(); ++i) {
    outbox.emplace(due + WireTime(i + 1, baud), std::vector<uint8_t>{reply[i]});
  }
}

void PtyServer::Impl::Flush(Clock::time_point now) {
  while (!outbox.empty() && outbox.begin()->first <= now) {
    const std::vector<uint8_t>& bytes = outbox.begin()->second;
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(pty.Master(), bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // nobody is draining the line: the rest is lost, as on a wire
      }
    }
    outbox.erase(outbox.begin());
  }
}

FaultShot PtyServer::Impl::TakeFault() {
  std::lock_guard<std::mutex> lock(mu);
  if (fault == Fault::None || faultCount == 0) return {};
  if (faultAfter > 0) {
    --faultAfter;
    return {};
  }
  const FaultShot shot{fault, faultDelayMs};
  if (faultCount > 0 && --faultCount == 0) fault = Fault::None;
  return shot;
}

PtyServer::PtyServer(const ControllerOptions& options)
    : impl_(std::make_unique<Impl>(options)) {}

PtyServer::~PtyServer() { Stop(); }

bool PtyServer::Start() { return impl_->Start(); }
void PtyServer::Stop() { impl_->Shutdown(); }
void PtyServer::Hangup() { impl_->Shutdown(); }

const std::string& PtyServer::DevicePath() const { return impl_->path; }
Controller& PtyServer::Device() { return impl_->device; }
int PtyServer::LineBaud() const { return impl_->pty.LineBaud(); }

void PtyServer::InjectFault(Fault fault, int count, int delayMs, int after) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->fault = count == 0 ? Fault::None : fault;
  impl_->faultCount = count;
  impl_->faultDelayMs = delayMs;
  impl_->faultAfter = after;
}

void PtyServer::ClearFaults() { InjectFault(Fault::None, 0); }

void PtyServer::SetPacing(bool paced) { impl_->paced = paced; }

std::vector<ReceivedFrame> PtyServer::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->requests;
}

void PtyServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->requests.clear();
}

bool PtyServer::WaitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  return impl_->arrived.wait_for(lock, milliseconds(timeoutMs),
                                 [&] { return impl_->requests.size() >= count; });
}

}  // namespace sim
