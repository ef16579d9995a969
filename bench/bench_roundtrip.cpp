// Round trip of a one-register read (0x03, REG_LINE_LENGTH, count 1, 7-byte
// reply) against the simulated controller on a pty, measured four ways in one
// run: our whole transaction, our exchange on an open port, and the same two
// with Debian's libmodbus. The ways take turns in rounds (the order rotating)
// so that machine noise hits all of them alike.
//
//   bench_roundtrip [--iterations N] [--paced]
//
// --paced has the simulator send the reply at the wire speed of 9600 baud.
// A fifth way is our exchange on an open port of a line whose adapter echoes
// every request: it may cost the echo's wire time at most.
#include <modbus.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exchange.h"
#include "pty_server.h"
#include "registers.h"

namespace {

constexpr int kBaud = 9600;
constexpr int kPortNumber = 1;
constexpr int kRounds = 40;
constexpr int kWarmup = 20;

// What the four ways share: the device and the open handles of the
// open-port ways (opened between rounds, outside the timing).
struct Line {
  sim::PtyServer* server = nullptr;
  std::string path;
  HPORT port = nullptr;
  modbus_t* ctx = nullptr;
};

modbus_t* ModbusOpen(const Line& line) {
  modbus_t* ctx = modbus_new_rtu(line.path.c_str(), kBaud, 'N', 8, 1);
  if (ctx == nullptr) return nullptr;
  if (modbus_connect(ctx) != 0 || modbus_set_slave(ctx, 1) != 0) {
    modbus_free(ctx);
    return nullptr;
  }
  return ctx;
}

void ModbusClose(modbus_t* ctx) {
  if (ctx == nullptr) return;
  modbus_close(ctx);
  modbus_free(ctx);
}

bool OursWhole(Line&) {
  Transaction t(kPortNumber, kBaud);
  uint8_t reply[ReadReplyLength(1)];
  return t.IsOpen() &&
         t.Exchange(BuildReadRequest(1, REG_LINE_LENGTH, 1), reply, sizeof reply);
}

bool OursOpen(Line& line) {
  uint8_t reply[ReadReplyLength(1)];
  return Exchange(line.port, BuildReadRequest(1, REG_LINE_LENGTH, 1), reply,
                  sizeof reply);
}

bool ModbusWhole(Line& line) {
  modbus_t* ctx = ModbusOpen(line);
  uint16_t value = 0;
  const bool ok = ctx != nullptr && modbus_read_registers(ctx, REG_LINE_LENGTH, 1, &value) == 1;
  ModbusClose(ctx);
  return ok;
}

bool ModbusOpenPort(Line& line) {
  uint16_t value = 0;
  return modbus_read_registers(line.ctx, REG_LINE_LENGTH, 1, &value) == 1;
}

void OpenOurs(Line& line) { line.port = OpenDevice(line.path, kBaud); }
void CloseOurs(Line& line) {
  CloseDevice(line.port);
  line.port = nullptr;
}
void OpenModbus(Line& line) { line.ctx = ModbusOpen(line); }
void CloseModbus(Line& line) {
  ModbusClose(line.ctx);
  line.ctx = nullptr;
}
void Nothing(Line&) {}
void OpenEchoing(Line& line) {
  line.server->SetEcho(true);
  OpenOurs(line);
}
void CloseEchoing(Line& line) {
  CloseOurs(line);
  line.server->SetEcho(false);
}

struct Way {
  const char* name;
  bool (*run)(Line&);
  void (*before)(Line&);  // opens what the way keeps open for a round
  void (*after)(Line&);
  std::vector<double> us;
  double cpuUs = 0;
  int failures = 0;
};

double ThreadCpuUs() {
  rusage ru{};
  getrusage(RUSAGE_THREAD, &ru);  // this thread only: not the simulator's
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 + ru.ru_utime.tv_usec +
         ru.ru_stime.tv_usec;
}

void RunRound(Way& way, Line& line, int iterations, bool record) {
  way.before(line);
  const double cpu0 = ThreadCpuUs();
  for (int i = 0; i < iterations; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = way.run(line);
    const auto t1 = std::chrono::steady_clock::now();
    if (!record) continue;
    way.us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    if (!ok) ++way.failures;
  }
  if (record) way.cpuUs += ThreadCpuUs() - cpu0;
  way.after(line);
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

struct Options {
  int iterations = 2000;  // per way
  bool paced = false;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--paced") == 0) {
      o.paced = true;
    } else if (std::strcmp(argv[i], "--iterations") == 0 && i + 1 < argc) {
      o.iterations = std::max(kRounds, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--iterations N] [--paced]\n", argv[0]);
      std::exit(2);
    }
  }
  return o;
}

void Report(const std::vector<Way>& ways) {
  std::printf("%-34s %7s %6s %12s %12s %14s\n", "way", "n", "fail", "median us",
              "p99 us", "cpu us/exch");
  for (const Way& w : ways) {
    std::printf("%-34s %7zu %6d %12.1f %12.1f %14.1f\n", w.name, w.us.size(),
                w.failures, Percentile(w.us, 0.5), Percentile(w.us, 0.99),
                w.us.empty() ? 0.0 : w.cpuUs / static_cast<double>(w.us.size()));
  }
  const auto ratio = [&](size_t ours, size_t theirs) {
    return Percentile(ways[ours].us, 0.5) / Percentile(ways[theirs].us, 0.5);
  };
  std::printf("\nmedian ratio ours/libmodbus: whole %.3f, open port %.3f\n",
              ratio(0, 2), ratio(1, 3));
  const double echoUs = 8 * 10 * 1e6 / kBaud;  // the 8-byte request once more
  std::printf("echoing line/plain line, open port: %.3f (%+.1f us; the echo's wire time is %.1f us)\n",
              ratio(4, 1), Percentile(ways[4].us, 0.5) - Percentile(ways[1].us, 0.5), echoUs);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  sim::ControllerOptions device;
  device.baud = kBaud;
  sim::PtyServer server(device);
  if (!server.Start()) {
    std::perror("simulator");
    return 1;
  }
  server.SetPacing(options.paced);
  Line line;
  line.server = &server;
  line.path = server.DevicePath();
  SetPortPath(kPortNumber, line.path);

  std::vector<Way> ways = {
      {"ours: open, exchange, close", OursWhole, Nothing, Nothing, {}, 0, 0},
      {"ours: exchange on open port", OursOpen, OpenOurs, CloseOurs, {}, 0, 0},
      {"libmodbus: new, connect, read, free", ModbusWhole, Nothing, Nothing, {}, 0, 0},
      {"libmodbus: read on open context", ModbusOpenPort, OpenModbus, CloseModbus, {}, 0, 0},
      {"ours: open port, echoing line", OursOpen, OpenEchoing, CloseEchoing, {}, 0, 0},
  };
  for (Way& w : ways) RunRound(w, line, kWarmup, false);

  const int perRound = (options.iterations + kRounds - 1) / kRounds;
  for (int round = 0; round < kRounds; ++round) {
    for (size_t k = 0; k < ways.size(); ++k) {
      RunRound(ways[(round + k) % ways.size()], line, perRound, true);
    }
  }
  std::printf("one-register read at %d baud on %s%s, %d rounds of %d\n\n", kBaud,
              line.path.c_str(), options.paced ? " (paced)" : "", kRounds, perRound);
  Report(ways);
  int failures = 0;
  for (const Way& w : ways) failures += w.failures;
  return failures == 0 ? 0 : 1;
}
