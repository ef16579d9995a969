// One line to the controller, of whatever kind: a local serial device
// (termios), or a serial device server reached over TCP (remote_line.h).
// Every kind fills this one interface; the port's calls (serial_port.cpp)
// hold the rules common to all of them (time-outs, the write loop, the
// waits) and hand the kind only what differs. A kind is chosen by the
// path's scheme ("tcp://...", "rfc2217://...") from the table in line.cpp;
// a plain path is a local device. Internal to the link.
//
// Adding a kind is one file that fills Line and one row in that table.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "open_failure.h"

// What one wait for the line came to.
enum class LineWait {
  Ready,     // the line has something for us (or room for our bytes)
  TimedOut,  // nothing within the time given
  Gone,      // nothing more can come now (device gone, connection down)
  Woken,     // the caller's wake descriptor became readable first
};

class Line {
 public:
  virtual ~Line() = default;  // closes the line, and lets it go

  // Opens the line at `baud` (8N1, raw) for this process alone, both
  // queues empty. False with the refusal in `why`; nothing has then been
  // sent or changed.
  virtual bool Open(int baud, OpenFailure& why) = 0;
  // Sets the open line to another rate, 8N1 still. False when it did not
  // take; the line is then as the kind could leave it.
  virtual bool SetBaud(int baud) = 0;
  // Discards everything in both directions, ours and the far side's.
  // `wakeFd` (or -1) ends at once any wait the kind must make for it.
  virtual void Purge(int wakeFd) = 0;

  // Moves what has arrived into the kind's receive buffer, without
  // waiting. False once nothing more can come (hang-up, connection down).
  virtual bool Fill() = 0;
  // Bytes received and not yet taken (at the last Fill).
  virtual uint32_t Queued() const = 0;
  // Up to `len` received bytes, oldest first, without waiting.
  virtual size_t Take(uint8_t* out, size_t len) = 0;
  // Waits up to `ms` for input, or for `wakeFd` (-1: none).
  virtual LineWait AwaitInput(uint32_t ms, int wakeFd) = 0;

  // Line bytes as the medium must carry them (appended to `wire`).
  virtual void Encode(const uint8_t* in, size_t n, std::vector<uint8_t>& wire) const {
    wire.insert(wire.end(), in, in + n);
  }
  // Hands encoded bytes to the medium without waiting: the count it took
  // (0: none now, wait for room), or -1 when it can take none ever.
  virtual ssize_t Send(const uint8_t* wire, size_t n) = 0;
  // Waits up to `ms` for room to send.
  virtual LineWait AwaitOutput(uint32_t ms) = 0;

  // Added to every reply wait on this line: the medium's own delay.
  virtual uint32_t MarginMs() const { return 0; }
  // The device went away under the line; only closing helps.
  virtual bool Gone() const { return false; }
};

// The kind of line `path` names, not yet open. A scheme the table knows
// whose address is malformed is taken for a plain device path.
std::unique_ptr<Line> MakeLine(const std::string& path);
// Whether `path` names a kind other than the local device.
bool IsSchemeLine(const std::string& path);
// Whether the line takes the baud rate from us (false: set on the far side).
bool KindSetsBaud(const std::string& path);

// Tells the trace, once per device, what its open could not set but went
// on without (serial_port.h's note hook).
void NoteLineOnce(const std::string& device, const std::string& text);

// One poll(2) of `fd` for `events`, and of `wakeFd` when it is not -1. A
// hang-up without the events, an error or a closed descriptor are Gone;
// EINTR counts as Ready: the caller looks again and re-checks its deadline.
LineWait PollLine(int fd, short events, uint32_t ms, int wakeFd = -1);
