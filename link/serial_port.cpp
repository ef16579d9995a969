// The port's calls over any kind of line (line.h): the rules every kind
// shares live here once: the driver-like time-outs of reads and writes, the
// write loop, the wait for reply bytes, the refusal's record and hooks. The
// kind does the medium's own work. No wait ever spins: each is a poll(2)
// against a monotonic deadline, inside the kind.
#include "serial_port.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "deadline.h"
#include "echo.h"
#include "line.h"
#include "open_failure.h"
#include "remote_line.h"

namespace {

constexpr int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// Driver time-outs, in milliseconds: reads get 5 per byte + 5 in all and
// 100 between bytes; writes 50 per byte + 100.
constexpr uint64_t kReadPerByteMs = 5;
constexpr uint64_t kReadConstantMs = 5;
constexpr uint64_t kReadIntervalMs = 100;
constexpr uint64_t kWritePerByteMs = 50;
constexpr uint64_t kWriteConstantMs = 100;

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}

OpenFailureHook& FailureHook() {
  static OpenFailureHook hook;
  return hook;
}

PortNoteHook& NoteHook() {
  static PortNoteHook hook;
  return hook;
}

// Devices the trace has been told have no low-latency switch: every command
// opens the port afresh, and once is enough to know.
std::set<std::string>& NotedDevices() {
  static std::set<std::string> noted;
  return noted;
}

// Every refused open ends here: the nothing-opened handle, the trace's words
// and the record the caller may word for the operator.
HPORT Refuse(OpenFailure failure) {
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    if (FailureHook()) FailureHook()(failure.device, failure.why);
  }
  SetLastOpenFailure(std::move(failure));
  return nullptr;
}

}  // namespace

void NoteLineOnce(const std::string& device, const std::string& text) {
  std::lock_guard<std::mutex> lock(HookMutex());
  if (NoteHook() && NotedDevices().insert(device).second) NoteHook()(text);
}

struct SerialPort {
  std::unique_ptr<Line> line;
  int baud = 0;
  std::string device;
  EchoFilter echo;  // the request's echo, on lines that give one
};

namespace {

// Time on the wire for `bytes` at `baud`, 10 bits a byte, in whole ms.
uint64_t WireMs(int baud, size_t bytes) {
  return baud > 0 ? (uint64_t{10} * bytes * 1000 + static_cast<uint64_t>(baud) - 1) /
                        static_cast<uint64_t>(baud)
                  : 0;
}

// Reply bytes there to be counted: an echo of the request is dropped off
// the front first, and while one may still be coming, nothing counts.
uint32_t Counted(SerialPort& port) {
  Line& line = *port.line;
  port.echo.Sift([&line](uint8_t* out, size_t n) { return line.Take(out, n); });
  if (port.echo.Matching()) return 0;
  return static_cast<uint32_t>(port.echo.Held()) + line.Queued();
}

// A wait's last look: a part of an echo still held is noise now, and counts.
// `waitedOut`: the wait ran to its deadline (not woken, the line not gone).
uint32_t LastCount(SerialPort& port, bool waitedOut) {
  Line& line = *port.line;
  // The copy may be just behind the echo: one more look for it.
  if (port.echo.Ambiguous()) line.Fill();
  port.echo.Resolve([&line](uint8_t* out, size_t n) { return line.Take(out, n); }, line.Queued());
  const uint32_t count = Counted(port);
  if (!port.echo.Matching()) return count;
  port.echo.GiveUp(waitedOut);
  return static_cast<uint32_t>(port.echo.Held()) + port.line->Queued();
}

}  // namespace

HPORT PortHandle = nullptr;

uint32_t PortNetworkMarginMs(HPORT port) { return port != nullptr ? port->line->MarginMs() : 0; }

bool IsSupportedBaud(int baud) {
  return std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds);
}

HPORT OpenDevice(const std::string& path, int baud) {
  if (!IsSupportedBaud(baud)) return Refuse({OpenCause::NoBaudRate, path, "", 0, "no baud rate chosen"});
  if (path.empty()) return Refuse({OpenCause::NoDevice, path, "", 0, "no device path"});
  auto port = std::make_unique<SerialPort>();
  port->line = MakeLine(path);
  OpenFailure why;
  if (!port->line->Open(baud, why)) {
    ForgetEcho(path);  // another adapter may come back under the name
    return Refuse(std::move(why));
  }
  port->baud = baud;
  port->device = path;
  port->echo = EchoFilter(path);
  SetLastOpenFailure({});
  return port.release();
}

void CloseDevice(HPORT port) { delete port; }

bool SetPortBaud(HPORT port, int baud) {
  if (port == nullptr || !IsSupportedBaud(baud) || !port->line->SetBaud(baud)) return false;
  port->baud = baud;
  return true;
}

void SetOpenFailureHook(OpenFailureHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  FailureHook() = std::move(hook);
}

void SetPortNoteHook(PortNoteHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  NoteHook() = std::move(hook);
  NotedDevices().clear();
}

HPORT OpenPort(int portNumber, int baud) {
  // A handle the slot still holds would otherwise leak, and keep its device
  // locked against this very open.
  CloseDevice(PortHandle);
  PortHandle = OpenDevice(PortPath(portNumber), baud);
  return PortHandle;
}

void ClosePort() {
  CloseDevice(PortHandle);
  PortHandle = nullptr;
}

uint32_t WaitForBytes(HPORT port, uint16_t expected, uint32_t timeoutMs) {
  return WaitForBytes(port, expected, timeoutMs, -1);
}

uint32_t WaitForBytes(HPORT port, uint16_t expected, uint32_t timeoutMs, int wakeFd) {
  if (port == nullptr) {
    Deadline(timeoutMs).SleepUntil();
    return 0;
  }
  Line& line = *port->line;
  // An echo ahead of the reply takes its own time on the wire.
  const Deadline deadline(
      timeoutMs + (port->echo.Expect(expected) ? WireMs(port->baud, port->echo.EchoBytes()) : 0));
  // poll() first: right after a request nothing is there yet, and when
  // something is, poll() says so at once. Every look ends with a fill, the
  // last one at the deadline.
  for (;;) {
    if (Counted(*port) >= expected) {
      line.Fill();  // still a look: count what came after
      return LastCount(*port, false);
    }
    const LineWait r = line.AwaitInput(deadline.RemainingMs(), wakeFd);
    const bool open = line.Fill() && r != LineWait::Gone;
    if (Counted(*port) >= expected || !open || r == LineWait::Woken || deadline.Expired())
      return LastCount(*port, open && r != LineWait::Woken && deadline.Expired());
  }
}

size_t WritePort(HPORT port, const uint8_t* data, size_t len) { return WritePort(port, data, len, -1); }

size_t WritePort(HPORT port, const uint8_t* data, size_t len, int wakeFd) {
  if (port == nullptr || data == nullptr) return 0;
  Line& line = *port->line;
  std::vector<uint8_t> wire;
  line.Encode(data, len, wire);
  const Deadline deadline(kWritePerByteMs * wire.size() + kWriteConstantMs);
  size_t done = 0;
  while (done < wire.size()) {
    const ssize_t n = line.Send(wire.data() + done, wire.size() - done);
    if (n < 0) break;
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    const uint32_t left = deadline.RemainingMs();
    const LineWait w = left == 0 ? LineWait::TimedOut : line.AwaitOutput(left, wakeFd);
    if (left == 0 || w == LineWait::Gone || w == LineWait::Woken) break;
  }
  // A frame the medium carries encoded went out whole or not at all.
  if (done != wire.size()) return std::min(done, len);
  port->echo.Sent(data, len);
  return len;
}

size_t ReadPort(HPORT port, uint8_t* data, size_t len) {
  if (port == nullptr || data == nullptr) return 0;
  Line& line = *port->line;
  const Deadline total(kReadPerByteMs * len + kReadConstantMs);
  Deadline interval(kReadIntervalMs);
  size_t got = port->echo.TakeHeld(data, len);
  got += line.Take(data + got, len - got);
  while (got < len) {
    const bool open = line.Fill();
    const size_t n = line.Take(data + got, len - got);
    if (n > 0) {
      got += n;
      interval.Restart(kReadIntervalMs);
      continue;
    }
    if (!open) break;
    // The gap limit starts with the first byte, as the driver's did.
    uint32_t left = total.RemainingMs();
    if (got > 0) left = std::min(left, interval.RemainingMs());
    if (left == 0 || line.AwaitInput(left, -1) == LineWait::Gone) break;
  }
  return got;
}

void PurgePort(HPORT port) { PurgePort(port, -1); }

void PurgePort(HPORT port, int wakeFd) {
  if (port == nullptr) return;
  port->echo.Clear();
  port->line->Purge(wakeFd);
}

bool PortEchoed(HPORT port) { return port != nullptr && port->echo.Echoed(); }

bool PortGone(HPORT port) { return port != nullptr && port->line->Gone(); }

int PortBaud(HPORT port) { return port == nullptr ? 0 : port->baud; }

std::string PortDevice(HPORT port) {
  return port == nullptr ? std::string() : port->device;
}
