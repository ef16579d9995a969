// Soak of the exchange against a faulty line: back-to-back one-register reads
// (0x03, REG_LINE_LENGTH, 7-byte reply) on one open port against the
// simulated controller pacing its bytes at wire speed, with a seeded random
// fault on about one exchange in K. Every fault may spoil its own exchange;
// the soak counts the refused exchanges beyond that, and the wrong values
// that were accepted.
//
//   bench_soak [--exchanges N] [--seed S] [--baud B] [--fault-every K]
//              [--timeout MS] [--alternate] [--verbose]
//
// --alternate reads two registers in turn (line length and A1 range), so a
// stale reply to the previous request, if accepted, shows as a wrong value.
// --verbose names the last fault before each unexplained refusal.
//
// A reply later than its wait (the late fault, a long delay) reaches the line
// after its exchange has given up and spoils whichever exchange is in flight
// when it lands; no wait of the spoiled exchange can prevent that. No other
// fault is injected while such a reply is on its way, and the one refusal it
// may cause is counted apart. (If a late reply comes whole before the awaited
// one, it is even taken for it: nothing in a reply says which request it
// answers. With --alternate that shows as a wrong value.)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <random>

#include "command_line.h"
#include "exchange.h"
#include "pty_server.h"
#include "registers.h"

namespace {

using Clock = std::chrono::steady_clock;
using sim::Fault;

constexpr uint16_t kLineLength = 1234;  // 12.34 m
constexpr uint16_t kRange = 2;          // "量程3"
constexpr size_t kReplyLen = 7;
constexpr Fault kKinds[] = {Fault::BadCrc, Fault::ExtraBytes, Fault::ShortReply,
                            Fault::Exception, Fault::Late, Fault::Delay,
                            Fault::Silence};

struct Options {
  int exchanges = 3000;
  unsigned seed = 7420;
  int baud = 19200;
  int faultEvery = 25;
  // The start-up exchange's time-out: the shortest the console uses, so the
  // silent faults cost the least wall time.
  uint32_t timeoutMs = 300;
  bool alternate = false;
  bool verbose = false;  // each unexplained refusal
};

[[noreturn]] void Usage(const char* argv0) {
  std::fprintf(stderr,
               "usage: %s [--exchanges N] [--seed S] [--baud B] [--fault-every K]"
               " [--timeout MS] [--alternate] [--verbose]\n",
               argv0);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(a, "--alternate") == 0) {
      o.alternate = true;
    } else if (std::strcmp(a, "--verbose") == 0) {
      o.verbose = true;
    } else if (std::strcmp(a, "--exchanges") == 0 && hasValue) {
      o.exchanges = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(a, "--seed") == 0 && hasValue) {
      o.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(a, "--baud") == 0 && hasValue) {
      o.baud = std::atoi(argv[++i]);
    } else if (std::strcmp(a, "--fault-every") == 0 && hasValue) {
      o.faultEvery = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(a, "--timeout") == 0 && hasValue) {
      o.timeoutMs = static_cast<uint32_t>(std::max(1, std::atoi(argv[++i])));
    } else {
      Usage(argv[0]);
    }
  }
  if (!IsSupportedBaud(o.baud)) Usage(argv[0]);
  return o;
}

double WireMs(size_t bytes, int baud) { return bytes * 10000.0 / baud; }

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One planned fault: what the simulator does to the reply.
struct Shot {
  Fault fault = Fault::None;
  int delayMs = 0;
};

struct Tally {
  int faults = 0;
  std::map<Fault, int> byKind;
  int lateReplies = 0;        // faults whose reply comes after its wait
  int refused = 0;
  int refusedOwn = 0;         // the one exchange a fault may spoil
  int refusedByLate = 0;      // the one exchange a late reply may land in
  int refusedUnexplained = 0; // target 0
  int longestRun = 0;
  int wrongValues = 0;        // target 0
  double seconds = 0;
};

Shot DrawShot(std::mt19937& rng, const Options& o) {
  if (std::uniform_int_distribution<int>(1, o.faultEvery)(rng) != 1) return {};
  Shot shot;
  shot.fault = kKinds[std::uniform_int_distribution<size_t>(0, std::size(kKinds) - 1)(rng)];
  if (shot.fault == Fault::Delay) {
    // Up to half the wait beyond it: some replies arrive in time, some
    // straddle the end of the wait, some come after it.
    shot.delayMs = std::uniform_int_distribution<int>(0, static_cast<int>(o.timeoutMs * 3 / 2))(rng);
  } else if (shot.fault == Fault::Late) {
    shot.delayMs = static_cast<int>(o.timeoutMs) + 200;  // as 1200 ms is to 1000 ms
  }
  return shot;
}

// Plans the faults and sorts each exchange's outcome into the tally. While a
// late reply is on its way no other fault is injected, so that a refusal in
// that time can be put down to it and nothing else.
class Ledger {
 public:
  Ledger(const Options& o, Tally& t)
      : o_(o), t_(t), rng_(o.seed), wait_(ReplyTimeout(o.baud, 8, kReplyLen, o.timeoutMs)) {}

  Shot Plan(int i) {
    Shot shot = DrawShot(rng_, o_);
    const auto now = Clock::now();
    if (shot.fault == Fault::None || now < lateUntil_) return {};
    ++t_.faults;
    ++t_.byKind[shot.fault];
    const double replyWire = WireMs(kReplyLen, o_.baud);
    const bool late = (shot.fault == Fault::Late || shot.fault == Fault::Delay) &&
                      shot.delayMs + replyWire >= wait_;
    if (late) {
      ++t_.lateReplies;
      lateOwed_ = true;
      // Its last byte, and a margin for the simulator's and our own wake-ups.
      lateUntil_ = now + std::chrono::milliseconds(
                             static_cast<long long>(shot.delayMs + replyWire + WireMs(8, o_.baud)) + 50);
    }
    lastShot_ = shot;
    lastFaultAt_ = i;
    return shot;
  }

  void Ended(int i, const Shot& shot, bool ok, bool rightValue, const TraceRecord& last) {
    // A fault may spoil one exchange: its own, or, when its own reply still
    // passed (the extra bytes came after the wait had seen a whole reply),
    // the next one.
    const bool credit = shot.fault != Fault::None || spareCredit_;
    spareCredit_ = ok && shot.fault != Fault::None;
    if (ok) {
      run_ = 0;
      t_.wrongValues += rightValue ? 0 : 1;
      return;
    }
    ++t_.refused;
    t_.longestRun = std::max(t_.longestRun, ++run_);
    if (credit) {
      ++t_.refusedOwn;
    } else if (lateOwed_ && Clock::now() < lateUntil_ + std::chrono::milliseconds(wait_ + 200)) {
      lateOwed_ = false;
      ++t_.refusedByLate;
    } else {
      ++t_.refusedUnexplained;
      if (o_.verbose) {
        std::printf("exchange %d refused (waited %u, read %zu): last fault %s %d ms,"
                    " %d exchanges before\n",
                    i, last.waited, last.reply.size(), sim::FaultName(lastShot_.fault),
                    lastShot_.delayMs, i - lastFaultAt_);
      }
    }
  }

 private:
  const Options& o_;
  Tally& t_;
  std::mt19937 rng_;
  const uint32_t wait_;
  Clock::time_point lateUntil_;  // a late reply may still be on its way
  bool lateOwed_ = false;        // ... and has not spoiled an exchange yet
  int run_ = 0;                  // refused exchanges in a row so far
  bool spareCredit_ = false;     // the last exchange's fault spoiled nothing
  Shot lastShot_;
  int lastFaultAt_ = 0;
};

Tally Soak(sim::PtyServer& server, HPORT port, const Options& o) {
  Tally t;
  Ledger ledger(o, t);
  TraceRecord last;
  if (o.verbose) SetTraceHook([&last](const TraceRecord& r) { last = r; });
  const auto begin = Clock::now();
  for (int i = 0; i < o.exchanges; ++i) {
    const bool second = o.alternate && i % 2 == 1;
    const Shot shot = ledger.Plan(i);
    if (shot.fault != Fault::None) server.InjectFault(shot.fault, 1, shot.delayMs);
    uint8_t reply[kReplyLen] = {};
    const bool ok = Exchange(port, BuildReadRequest(1, second ? REG_A1_RANGE : REG_LINE_LENGTH, 1),
                             reply, sizeof reply, o.timeoutMs);
    const bool rightValue = GetU16(reply + 3) == (second ? kRange : kLineLength);
    ledger.Ended(i, shot, ok, rightValue, last);
  }
  t.seconds = Ms(Clock::now() - begin) / 1000.0;
  SetTraceHook(nullptr);
  server.ClearFaults();
  return t;
}

void Report(const Tally& t, const Options& o) {
  std::printf("%d back-to-back reads at %d baud (paced), wait %u ms, seed %u, "
              "a fault on about 1 in %d%s: %.1f s\n\n",
              o.exchanges, o.baud, ReplyTimeout(o.baud, 8, kReplyLen, o.timeoutMs), o.seed,
              o.faultEvery, o.alternate ? ", two registers in turn" : "", t.seconds);
  std::printf("faults injected                       %6d  (", t.faults);
  const char* sep = "";
  for (const auto& [kind, n] : t.byKind) {
    std::printf("%s%s %d", sep, sim::FaultName(kind), n);
    sep = ", ";
  }
  std::printf(")\n");
  std::printf("  of them with a reply after the wait %6d\n", t.lateReplies);
  std::printf("refused exchanges                     %6d  (%.2f per fault)\n", t.refused,
              t.faults > 0 ? static_cast<double>(t.refused) / t.faults : 0.0);
  std::printf("  one per fault                       %6d\n", t.refusedOwn);
  std::printf("  beyond one per fault                %6d\n", t.refused - t.refusedOwn);
  std::printf("    where a late reply landed         %6d\n", t.refusedByLate);
  std::printf("    unexplained (target 0)            %6d\n", t.refusedUnexplained);
  std::printf("longest run of refused exchanges      %6d\n", t.longestRun);
  std::printf("wrong values accepted (target 0)      %6d\n", t.wrongValues);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  sim::ControllerOptions device;
  device.baud = options.baud;
  sim::PtyServer server(device);
  if (!server.Start()) {
    std::perror("simulator");
    return 1;
  }
  server.SetPacing(true);
  server.Device().SetRegister(REG_LINE_LENGTH, kLineLength);
  server.Device().SetRegister(REG_A1_RANGE, kRange);
  HPORT port = OpenDevice(server.DevicePath(), options.baud);
  if (port == nullptr) {
    std::perror(server.DevicePath().c_str());
    return 1;
  }
  const Tally tally = Soak(server, port, options);
  CloseDevice(port);
  Report(tally, options);
  return tally.refusedUnexplained == 0 && tally.wrongValues == 0 ? 0 : 1;
}
