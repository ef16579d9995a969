// Serves a simulated Controller on a pseudo-terminal. The console opens the
// slave path like any serial device; the server reads requests from the
// master side, frames them, and answers only when the line speed the console
// set equals the controller's baud rate (as on a real line, a wrong rate gets
// silence). By default bytes move at the pty's speed and requests are framed
// by function code; paced, the line keeps a real RS-485 line's timing in
// both directions (SetPacing). Either way at most one frame's worth of bytes
// (256) is held: beyond it the line is noise until it falls silent. Faults
// can be injected for tests, and the line can echo what the console sends.
// More controllers may share the line (AddStation), as on an RS-485 bus:
// every one at the line's rate hears each request, and replies from two at
// once collide.
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
  OtherStation,  // a good reply, but from the next station address up
};

// The longest reply turnaround the simulator takes (SetTurnaround).
constexpr int kMaxTurnaroundMs = 60000;

struct ReceivedFrame {
  // When the frame was complete: on arrival of its last byte, or paced, at
  // the end of the silence after its last byte's wire time.
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

  // Station 0, the controller made from the constructor's options.
  Controller& Device();

  // Another controller on the same line, with its own address, rate,
  // registers and log. Safe while serving: the next request framed reaches
  // it. Stations stay until the server is destroyed, so the reference lasts.
  Controller& AddStation(const ControllerOptions& options);
  // 1 (Device()) plus those added.
  size_t StationCount() const;
  // Station i in the order added, 0 being Device(); i < StationCount().
  Controller& Station(size_t i);

  // The next `count` replies (all of them while count < 0) suffer `fault`.
  // A collision of replies from several stations is noise already: it takes
  // no fault and leaves the plan as it was.
  // Faults touch the reply only: the request has been carried out (a write
  // whose reply is lost has still taken effect). Late without a delay waits
  // 1200 ms plus the wire time of request and reply. The fault starts after
  // `after` good replies (to refuse the second exchange of a command).
  // Replaces any earlier injection.
  void InjectFault(Fault fault, int count = 1, int delayMs = 0, int after = 0);
  void ClearFaults();
  // Paced, the line behaves as a real half-duplex line at its speed, 10 bits
  // a byte, both ways: a request byte is in only after its wire time at the
  // rate the console set; a frame ends at the silence of 3.5 characters
  // (1.75 ms above 19200 baud), so bytes sent at once after a valid request
  // spoil it and it gets no reply; reply bytes go out at the controller's
  // rate; and bytes that are on the wire while a reply is (the receiver is
  // off while the controller talks) are lost.
  void SetPacing(bool paced);

  // A controller slow to answer: each reply starts `ms` after the request's
  // last byte (0 to kMaxTurnaroundMs; 0 answers as soon as the request is
  // framed). Paced, it can never start before the 3.5 characters of silence
  // that end the request. Faults that hold a reply add to it.
  void SetTurnaround(int ms);

  // A test aid for searches over every address: while on, every well-formed
  // request at the right line speed, to any station 1..255, is answered with
  // the reply the controller would give as that station but with its last
  // check byte flipped, so no probe waits out a time-out. Writes to other
  // stations are not carried out; broadcasts stay unanswered; injected
  // faults wait until it is off. Only Device() answers then, and the
  // stations added hear nothing.
  void SetAnswerAllBadCrc(bool on);

  // An adapter that echoes: while on, every byte the console sends comes
  // back to it as it goes out on the wire (paced, at the end of its wire
  // time; at the console's own rate, whatever the controller's), ahead of
  // any reply, as a 2-wire adapter whose receiver stays on while it sends.
  void SetEcho(bool on);
  bool Echo() const;

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
