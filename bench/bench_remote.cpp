// What a remote line costs, measured in one run on the loopback address: a
// one-register read on the simulated controller's pty directly, the same
// through Debian's ser2net raw and through ser2net RFC 2217 (each on a port
// kept open, as monitoring does), and over RFC 2217 the cost of a baud
// change (an open at another rate: connect, negotiation, the server's line
// settings) against a local open at another rate. The ways take turns, one
// sample each per round, so that machine noise hits them alike. Each way has
// a simulator of its own, so that no way waits for another's server to let
// its pty go.
//
//   bench_remote [--rounds N]
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

}  // namespace

int main(int argc, char** argv) {
  int rounds = 200;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  if (!Ser2Net::Installed()) {
    std::fprintf(stderr, "ser2net is not installed (scripts/setup.sh)\n");
    return 1;
  }
  // local: the pty directly; raw, rfc2217: behind a server each, ports kept
  // open; rates: local opens; opens: rfc2217 opens, one connection each.
  sim::PtyServer local, raw, rfc2217, rates, opens;
  for (sim::PtyServer* s : {&local, &raw, &rfc2217, &rates, &opens}) {
    if (!s->Start()) return 1;
  }
  Ser2Net rawServer(raw.DevicePath()), rfcServer(rfc2217.DevicePath()), openServer(opens.DevicePath());
  if (!rawServer.Start() || !rfcServer.Start() || !openServer.Start()) {
    std::fprintf(stderr, "ser2net did not start\n");
    return 1;
  }
  HPORT localPort = OpenDevice(local.DevicePath(), kBaud);
  HPORT rawPort = OpenDevice(rawServer.RawPath(), kBaud);
  HPORT rfcPort = OpenDevice(rfcServer.Rfc2217Path(), kBaud);
  if (!localPort || !rawPort || !rfcPort) {
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
  CloseDevice(localPort);
  CloseDevice(rawPort);
  CloseDevice(rfcPort);
  return 0;
}
