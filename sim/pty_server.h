// Serves a simulated Controller on a pseudo-terminal. The console opens the
// slave path like any serial device; the server reads requests from the
// master side, frames them by function code, and answers only when the line
// speed the console set equals the controller's baud rate (as on a real
// line, a wrong rate gets silence). Faults can be injected for tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller.h"

namespace sim {

enum class Fault {
  None,
  Silence,     // no reply at all
  BadCrc,      // last check byte flipped
  ExtraBytes,  // two bytes more than the reply
  ShortReply,  // the reply less its last two bytes
  Exception,   // a 5-byte exception reply (code 0x04) instead of the reply
  Delay,       // the reply after delayMs
  Late,        // the reply after the console's time-out (1200 ms by default)
};

struct ReceivedFrame {
  std::chrono::steady_clock::time_point when;
  std::vector<uint8_t> bytes;
  int lineBaud = 0;  // the line speed the sending side had set
};

class PtyServer {
 public:
  explicit PtyServer(const ControllerOptions& options = {});
  ~PtyServer();  // stops the thread and closes the pty
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pty and starts serving. False (with errno set) on failure.
  bool Start();
  // Stops serving and closes the pty; Start() makes a new one.
  void Stop();
  // The path the console opens, e.g. /dev/pts/7.
  const std::string& DevicePath() const;

  Controller& Device();

  // The next `count` replies (all of them while count < 0) suffer `fault`.
  // Faults touch the reply only: the request has been carried out (a write
  // whose reply is lost has still taken effect). Late without a delay waits
  // 1200 ms plus the wire time of request and reply. The fault starts after
  // `after` good replies (to refuse the second exchange of a command).
  // Replaces any earlier injection.
  void InjectFault(Fault fault, int count = 1, int delayMs = 0, int after = 0);
  void ClearFaults();
  // Send reply bytes at the wire speed of the baud rate (10 bits a byte).
  void SetPacing(bool paced);

  // Every request frame received, in order, with its arrival time.
  std::vector<ReceivedFrame> Requests() const;
  void ClearRequests();
  // Blocks until at least `count` frames have been received or the time-out.
  bool WaitForRequests(size_t count, int timeoutMs) const;

  // The line speed currently set on the pty (0 when it is not open).
  int LineBaud() const;

  // Closes the master side: the device "vanishes" under the console.
  void Hangup();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
