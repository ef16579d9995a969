// What a remote line costs, measured in one run on the loopback address: a
// one-register read on the simulated controller's pty directly, the same
// through Debian's ser2net raw and through ser2net RFC 2217 (each on a port
// kept open, as monitoring does), and over RFC 2217 the cost of a baud
// change (an open at another rate: connect, negotiation, the server's line
// settings) against a local open at another rate, and RFC 2217 through a
// ser2net without its character delay (chardelay: false) against one with
// it. The ways take turns, one sample each per round, so that machine noise
// hits them alike. Each way has a simulator of its own, so that no way waits
// for another's server to let its pty go.
//
// With --hostile, instead: against each misbehaving server on loopback, the
// time the open or the exchange took to give up (or succeed), and the peak
// memory of a process that did only that (each case in a child of its own;
// the first row, a refused connect, is the baseline). A case still running
// after 30 s, or past 2 GB, is stopped and shown as such.
//
//   bench_remote [--rounds N] [--hostile]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exchange.h"
#include "open_failure.h"
#include "line_servers.h"
#include "pty_server.h"
#include "registers.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBaud = 9600;
constexpr int kOtherBaud = 19200;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double TimeMs(const std::function<bool()>& run, int& failures) {
  const auto start = Clock::now();
  if (!run()) ++failures;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool ReadOne(HPORT port) {
  uint8_t reply[ReadReplyLength(1)];
  return Exchange(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), reply, sizeof reply);
}

// Opens `path` at `baud` and closes it again.
bool OpenAt(const std::string& path, int baud) {
  HPORT port = OpenDevice(path, baud);
  CloseDevice(port);
  return port != nullptr;
}

struct Way {
  const char* name;
  std::function<bool()> run;
  std::vector<double> ms;
  int failures = 0;
};

using Mode = MisbehavingServer::Mode;

struct Hostile {
  const char* name;
  Mode mode;
  const char* scheme;
  bool exchange;  // the open is expected to succeed: time one exchange after it
};

const Hostile kHostile[] = {
    {"refused connect (baseline)", Mode::Hangup, nullptr, false},
    {"option flood, never reads", Mode::OptionFlood, "rfc2217", false},
    {"line-byte flood before confirming", Mode::LineFlood, "rfc2217", false},
    {"line-byte flood, raw exchange", Mode::LineFlood, "tcp", true},
    {"binary refused", Mode::BinaryRefuser, "rfc2217", false},
    {"silence", Mode::Silent, "rfc2217", false},
    {"close mid-negotiation", Mode::HangupMidNegotiation, "rfc2217", false},
    {"reset mid-reply", Mode::ResetMidReply, "tcp", true},
    {"slow drip", Mode::SlowDrip, "tcp", true},
};

// In the child: the open (and the exchange), then the time it took and
// whether it ended in a refusal, on the pipe.
void RunHostile(const Hostile& h, int out) {
  MisbehavingServer server(h.mode);
  const std::string path = h.scheme ? server.Path(h.scheme)
                                    : "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  const auto start = Clock::now();
  HPORT port = OpenDevice(path, kBaud);
  bool refused = port == nullptr;
  if (port != nullptr && h.exchange) refused = !ReadOne(port);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  char line[160];
  std::snprintf(line, sizeof line, "%9.0f ms  %-8s %s", ms, refused ? "refused" : "accepted",
                refused ? LastOpenFailure().detail.c_str() : "");
  (void)!write(out, line, std::strlen(line));
  CloseDevice(port);
  _exit(0);
}

int RunAllHostile() {
  std::printf("%-36s %12s  %-8s %s\n", "case", "time", "outcome", "peak RSS (growth)");
  long baselineKb = 0;
  for (const Hostile& h : kHostile) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      alarm(30);
      // A flood the line does not bound must not take the machine with it.
      const rlimit memory{2UL << 30, 2UL << 30};
      setrlimit(RLIMIT_AS, &memory);
      RunHostile(h, fds[1]);
    }
    close(fds[1]);
    char line[200] = "    > 30 s  stopped";
    const ssize_t n = read(fds[0], line, sizeof line - 1);
    if (n > 0) line[n] = 0;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (baselineKb == 0) baselineKb = usage.ru_maxrss;
    std::printf("%-36s %s  %ld MB (%+.1f MB)\n", h.name, line, usage.ru_maxrss / 1024,
                (usage.ru_maxrss - baselineKb) / 1024.0);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 200;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hostile") == 0) return RunAllHostile();
    if (i + 1 < argc && std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  if (!Ser2Net::Installed()) {
    std::fprintf(stderr, "ser2net is not installed (scripts/setup.sh)\n");
    return 1;
  }
  // local: the pty directly; raw, rfc2217: behind a server each, ports kept
  // open; rates: local opens; opens: rfc2217 opens, one connection each.
  // quick: behind a server without its character delay.
  sim::PtyServer local, raw, rfc2217, rates, opens, quick;
  for (sim::PtyServer* s : {&local, &raw, &rfc2217, &rates, &opens, &quick}) {
    if (!s->Start()) return 1;
  }
  Ser2Net rawServer(raw.DevicePath()), rfcServer(rfc2217.DevicePath()), openServer(opens.DevicePath());
  Ser2Net quickServer(quick.DevicePath(), false);
  if (!rawServer.Start() || !rfcServer.Start() || !openServer.Start() || !quickServer.Start()) {
    std::fprintf(stderr, "ser2net did not start\n");
    return 1;
  }
  HPORT localPort = OpenDevice(local.DevicePath(), kBaud);
  HPORT rawPort = OpenDevice(rawServer.RawPath(), kBaud);
  HPORT rfcPort = OpenDevice(rfcServer.Rfc2217Path(), kBaud);
  HPORT quickPort = OpenDevice(quickServer.Rfc2217Path(), kBaud);
  if (!localPort || !rawPort || !rfcPort || !quickPort) {
    std::fprintf(stderr, "a port did not open\n");
    return 1;
  }
  int turn = 0;  // alternates the rate of the opens
  const auto rate = [&turn] { return turn % 2 ? kOtherBaud : kBaud; };
  Way ways[] = {
      {"exchange, pty", [&] { return ReadOne(localPort); }, {}},
      {"exchange, ser2net raw", [&] { return ReadOne(rawPort); }, {}},
      {"exchange, ser2net rfc2217", [&] { return ReadOne(rfcPort); }, {}},
      {"open at a new rate, pty", [&] { return OpenAt(rates.DevicePath(), rate()); }, {}},
      {"open at a new rate, rfc2217", [&] { return OpenAt(openServer.Rfc2217Path(), rate()); }, {}},
      {"exchange, rfc2217 no chardelay", [&] { return ReadOne(quickPort); }, {}},
  };
  for (Way& w : ways) w.run();  // warm-up
  for (int r = 0; r < rounds; ++r, ++turn) {
    for (size_t i = 0; i < std::size(ways); ++i) {
      Way& w = ways[(i + r) % std::size(ways)];
      w.ms.push_back(TimeMs(w.run, w.failures));
    }
  }
  std::printf("%d rounds, median ms (failures):\n", rounds);
  for (const Way& w : ways) std::printf("  %-30s %8.3f  (%d)\n", w.name, Median(w.ms), w.failures);
  const double pty = Median(ways[0].ms);
  std::printf("added per exchange: raw %+.3f ms (x%.2f), rfc2217 %+.3f ms (x%.2f)\n",
              Median(ways[1].ms) - pty, Median(ways[1].ms) / pty, Median(ways[2].ms) - pty,
              Median(ways[2].ms) / pty);
  std::printf("baud change over rfc2217: %.3f ms, x%.1f a local one\n", Median(ways[4].ms),
              Median(ways[4].ms) / Median(ways[3].ms));
  std::printf("ser2net's character delay: rfc2217 with it / without it = x%.2f (%+.3f ms)\n",
              Median(ways[2].ms) / Median(ways[5].ms), Median(ways[2].ms) - Median(ways[5].ms));
  CloseDevice(localPort);
  CloseDevice(rawPort);
  CloseDevice(rfcPort);
  CloseDevice(quickPort);
  return 0;
}
