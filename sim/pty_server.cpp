#include "pty_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <optional>

#include "frame_codec.h"
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
// Paced, the bytes read from the pty but not yet through the wire. Beyond
// this the pty is not read, so a writer is held back to the line's speed.
constexpr size_t kMaxInFlight = 512;
// The rate of an echo in the outbox: the sender's own, whatever it is, so
// the console always hears its echo clean.
constexpr int kSendersRate = 0;

// Time on the wire for `bytes` at `baud`, 10 bits a byte.
microseconds WireTime(size_t bytes, int baud) {
  return microseconds(baud > 0 ? static_cast<long long>(bytes) * 10000000LL / baud : 0);
}

struct FaultShot {
  Fault fault = Fault::None;
  int delayMs = 0;
};

// A stretch of time on the wire: a request byte, or a whole reply.
struct WireSpan {
  Clock::time_point start, end;
  bool Overlaps(const WireSpan& o) const { return start < o.end && o.start < end; }
};

// A request byte on its way in, paced: it is in once its last bit is. The
// silence that ends its frame is that of the rate it was sent at, so the
// frames recorded are those the console sent, at whatever speed.
struct InboundByte {
  WireSpan wire;
  microseconds silence;
  uint8_t byte;
};

// What `shot` does to `reply` and to when it is due; false for silence.
bool Spoil(const FaultShot& shot, const std::vector<uint8_t>& request,
           std::vector<uint8_t>& reply, Clock::time_point& due, int baud) {
  switch (shot.fault) {
    case Fault::None:
      break;
    case Fault::Silence:
      return false;
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
      reply = Controller::ExceptionReply(request[0], request[1], kDeviceFailure);
      break;
    case Fault::Delay:
      due += milliseconds(shot.delayMs);
      break;
    case Fault::Late:
      due += shot.delayMs > 0 ? microseconds(milliseconds(shot.delayMs))
                              : milliseconds(kConsoleTimeoutMs) +
                                    WireTime(request.size() + reply.size(), baud);
      break;
    case Fault::OtherStation:
      // Two controllers answering for one address look like this: the
      // check is right, only the station byte differs.
      reply[0] = static_cast<uint8_t>(reply[0] + 1);
      PutU16(&reply[reply.size() - 2], Crc16(reply.data(), reply.size() - 2));
      break;
  }
  return true;
}

using Reply = std::vector<uint8_t>;

// What the console hears when several stations answer one request. They all
// start at the end of the request, so the first bytes, station and function,
// come through clean, and the receiver frames what follows by the first
// reply's length. Past them the drivers fight over the pair: modelled as the
// replies' bytes ORed together, with the check inverted so the frame never
// passes its check, even when the replies were alike.
Reply Collide(const std::vector<Reply>& replies) {
  Reply heard = replies.front();
  const size_t body = heard.size() - 2;
  for (size_t r = 1; r < replies.size(); ++r) {
    for (size_t i = 2; i < body && i < replies[r].size(); ++i) heard[i] |= replies[r][i];
  }
  PutU16(&heard[body], static_cast<uint16_t>(~Crc16(heard.data(), body)));
  return heard;
}

}  // namespace

struct PtyServer::Impl {
  explicit Impl(const ControllerOptions& options) : device(options) {}

  bool Start();
  void Shutdown();
  void Run();
  void Receive(Clock::time_point now, bool pacedNow);
  void Advance(Clock::time_point now);
  void Hear(const uint8_t* data, size_t len, Clock::time_point at);
  void ExpireAt(Clock::time_point t);
  bool Talking(const WireSpan& span);
  void OnFrame(std::vector<uint8_t> frame, Clock::time_point when);
  std::vector<Controller*> Stations();
  std::vector<Reply> Answers(const std::vector<uint8_t>& frame, int line, bool anyStation);
  void Record(const std::vector<uint8_t>& frame, Clock::time_point when, int line);
  void Schedule(const std::vector<uint8_t>& reply, Clock::time_point due, int baud);
  Clock::time_point RequestEnd(Clock::time_point when, int line) const;
  void Flush(Clock::time_point now);
  std::optional<Clock::time_point> NextDeadline() const;
  FaultShot TakeFault();

  Controller device;
  // Stations added; the serving thread takes the list afresh for each frame.
  mutable std::mutex stationsMu;
  std::vector<std::unique_ptr<Controller>> added;
  PseudoTerminal pty;
  std::string path;
  int wake = -1;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> paced{false};
  std::atomic<bool> answerAllBadCrc{false};
  std::atomic<int> turnaroundMs{0};
  std::atomic<bool> echo{false};

  mutable std::mutex mu;  // guards requests and the fault plan
  mutable std::condition_variable arrived;
  std::vector<ReceivedFrame> requests;
  Fault fault = Fault::None;
  int faultCount = 0;
  int faultDelayMs = 0;
  int faultAfter = 0;  // good replies still to go before the fault starts

  // Serving thread only.
  RequestFramer framer;
  // Reply bytes due, with the rate they go out at.
  std::multimap<Clock::time_point, std::pair<int, std::vector<uint8_t>>> outbox;
  std::deque<InboundByte> inbound;    // paced: request bytes still on the wire
  Clock::time_point inboundFree{};    // paced: when the last of them is in
  std::vector<WireSpan> replies;      // paced: replies on the wire or due
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
  inbound.clear();
  replies.clear();
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
  const auto earlier = [&next](Clock::time_point t) {
    if (!next || t < *next) next = t;
  };
  if (!outbox.empty()) earlier(outbox.begin()->first);
  if (!inbound.empty()) earlier(inbound.front().wire.end);
  return next;
}

void PtyServer::Impl::Run() {
  while (!stopping) {
    const bool pacedNow = paced;
    timespec ts{};
    timespec* timeout = nullptr;
    if (const auto next = NextDeadline()) {
      const auto wait = std::max<Clock::duration>(*next - Clock::now(), Clock::duration::zero());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      timeout = &ts;
    }
    const bool listen = watchMaster && inbound.size() < kMaxInFlight;
    pollfd fds[2] = {{wake, POLLIN, 0}, {pty.Master(), POLLIN, 0}};
    const int n = ppoll(fds, listen ? 2 : 1, timeout, nullptr);
    if (n < 0 && errno != EINTR) break;
    if (stopping) break;
    const auto now = Clock::now();
    if (n > 0 && listen && fds[1].revents != 0) Receive(now, pacedNow);
    Advance(now);
    Flush(now);
  }
}

void PtyServer::Impl::Receive(Clock::time_point now, bool pacedNow) {
  uint8_t buf[kMaxInFlight];
  const size_t room = pacedNow ? kMaxInFlight - inbound.size() : sizeof buf;
  const ssize_t got = read(pty.Master(), buf, room);
  if (got <= 0) {
    // The line is gone for good; stop polling it rather than spin on it.
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) watchMaster = false;
    return;
  }
  const bool echoNow = echo;
  if (!pacedNow) {
    // The echo is the adapter's, at the sender's rate: never garbled.
    if (echoNow) outbox.emplace(now, std::make_pair(kSendersRate, std::vector<uint8_t>(buf, buf + got)));
    framer.SetFraming(RequestFramer::Framing::ByLength);
    framer.SetSilence(RequestFramer::SilenceFor(device.Baud()));
    Hear(buf, static_cast<size_t>(got), now);
    return;
  }
  // The bytes go out back to back at the rate the console set, from now or
  // after those still on the wire.
  const int line = pty.LineBaud();
  const int rate = line > 0 ? line : device.Baud();
  const microseconds byteTime = WireTime(1, rate);
  const microseconds silence = RequestFramer::WireSilenceFor(rate);
  Clock::time_point at = std::max(now, inboundFree);
  for (ssize_t i = 0; i < got; ++i, at += byteTime) {
    inbound.push_back({{at, at + byteTime}, silence, buf[i]});
    if (echoNow) outbox.emplace(at + byteTime, std::make_pair(kSendersRate, std::vector<uint8_t>{buf[i]}));
  }
  inboundFree = at;
}

void PtyServer::Impl::Advance(Clock::time_point now) {
  while (!inbound.empty() && inbound.front().wire.end <= now) {
    const InboundByte in = inbound.front();
    inbound.pop_front();
    framer.SetFraming(RequestFramer::Framing::BySilence);
    framer.SetSilence(in.silence);
    ExpireAt(in.wire.end);  // a request ended before may be answered over it
    if (!Talking(in.wire)) Hear(&in.byte, 1, in.wire.end);
  }
  ExpireAt(now);
}

void PtyServer::Impl::Hear(const uint8_t* data, size_t len, Clock::time_point at) {
  ExpireAt(at);
  for (auto& frame : framer.Feed(data, len, at)) OnFrame(std::move(frame), at);
}

void PtyServer::Impl::ExpireAt(Clock::time_point t) {
  const auto ended = framer.Deadline();
  if (!ended || t < *ended) return;
  for (auto& frame : framer.Expire(t)) OnFrame(std::move(frame), *ended);
}

bool PtyServer::Impl::Talking(const WireSpan& span) {
  // Bytes come in time order: a reply over before this one is over for all.
  replies.erase(std::remove_if(replies.begin(), replies.end(),
                               [&span](const WireSpan& r) { return r.end <= span.start; }),
                replies.end());
  return std::any_of(replies.begin(), replies.end(),
                     [&span](const WireSpan& r) { return r.Overlaps(span); });
}

void PtyServer::Impl::Record(const std::vector<uint8_t>& frame, Clock::time_point when,
                             int line) {
  {
    std::lock_guard<std::mutex> lock(mu);
    if (requests.size() >= kMaxRecorded) {
      requests.erase(requests.begin(), requests.begin() + kMaxRecorded / 2);
    }
    requests.push_back({when, frame, line});
  }
  arrived.notify_all();
}

void PtyServer::Impl::OnFrame(std::vector<uint8_t> frame, Clock::time_point when) {
  const int line = pty.LineBaud();
  Record(frame, when, line);
  const bool anyStation = answerAllBadCrc;
  const std::vector<Reply> answers = Answers(frame, line, anyStation);
  if (answers.empty()) return;
  const bool collided = answers.size() > 1;
  Reply reply = collided ? Collide(answers) : answers.front();
  FaultShot shot;  // a collision is noise already: the fault plan waits
  if (anyStation) {
    shot = {Fault::BadCrc, 0};
  } else if (!collided) {
    shot = TakeFault();
  }
  Clock::time_point due = std::max(when, RequestEnd(when, line) + milliseconds(turnaroundMs));
  // Every station that answered is at the line's rate.
  if (Spoil(shot, frame, reply, due, line)) Schedule(reply, due, line);
}

std::vector<Controller*> PtyServer::Impl::Stations() {
  std::lock_guard<std::mutex> lock(stationsMu);
  std::vector<Controller*> all{&device};
  for (const auto& station : added) all.push_back(station.get());
  return all;
}

// The replies of the stations that hear `frame`, in station order; answering
// for every address is Device()'s alone.
std::vector<Reply> PtyServer::Impl::Answers(const std::vector<uint8_t>& frame, int line,
                                            bool anyStation) {
  std::vector<Reply> answers;
  for (Controller* station : anyStation ? std::vector<Controller*>{&device} : Stations()) {
    if (station->Baud() != line) continue;  // garbled at the wrong speed: no answer
    Reply reply = anyStation ? station->AnswerAsAnyStation(frame.data(), frame.size())
                             : station->Handle(frame.data(), frame.size());
    if (!reply.empty()) answers.push_back(std::move(reply));
  }
  return answers;
}

// The request's last byte was in at `when` unpaced; paced, `when` is the
// end of the silence after it.
Clock::time_point PtyServer::Impl::RequestEnd(Clock::time_point when, int line) const {
  return paced ? when - RequestFramer::WireSilenceFor(line) : when;
}

void PtyServer::Impl::Schedule(const std::vector<uint8_t>& reply, Clock::time_point due,
                               int baud) {
  if (!paced) {
    outbox.emplace(due, std::make_pair(baud, reply));
    return;
  }
  replies.push_back({due, due + WireTime(reply.size(), baud)});
  // A byte is there once its last bit is.
  for (size_t i = 0; i < reply.size(); ++i) {
    outbox.emplace(due + WireTime(i + 1, baud), std::make_pair(baud, std::vector<uint8_t>{reply[i]}));
  }
}

void PtyServer::Impl::Flush(Clock::time_point now) {
  while (!outbox.empty() && outbox.begin()->first <= now) {
    std::vector<uint8_t>& bytes = outbox.begin()->second.second;
    // The console's receiver at another rate than the reply's makes noise of
    // it (a pty passes bytes whatever speed either side has set).
    const int line = pty.LineBaud();
    const int rate = outbox.begin()->second.first;
    if (line > 0 && rate != kSendersRate && line != rate) std::fill(bytes.begin(), bytes.end(), 0x00);
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

Controller& PtyServer::AddStation(const ControllerOptions& options) {
  auto station = std::make_unique<Controller>(options);
  Controller& added = *station;
  std::lock_guard<std::mutex> lock(impl_->stationsMu);
  impl_->added.push_back(std::move(station));
  return added;
}

size_t PtyServer::StationCount() const {
  std::lock_guard<std::mutex> lock(impl_->stationsMu);
  return 1 + impl_->added.size();
}

Controller& PtyServer::Station(size_t i) {
  if (i == 0) return impl_->device;
  std::lock_guard<std::mutex> lock(impl_->stationsMu);
  return *impl_->added.at(i - 1);
}

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

void PtyServer::SetTurnaround(int ms) {
  impl_->turnaroundMs = std::clamp(ms, 0, kMaxTurnaroundMs);
}

void PtyServer::SetAnswerAllBadCrc(bool on) { impl_->answerAllBadCrc = on; }

void PtyServer::SetEcho(bool on) { impl_->echo = on; }
bool PtyServer::Echo() const { return impl_->echo; }

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
