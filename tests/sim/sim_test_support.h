// Small helpers shared by the simulator's tests: frames as byte vectors,
// check-byte tests, and a raw serial client on the pty's slave side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controller.h"
#include "frame_codec.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const Frame& frame);
// `head` with its two check bytes appended.
Bytes WithCrc(Bytes head);
bool CheckBytesRight(const Bytes& frame);
Bytes Send(sim::Controller& device, const Frame& request);
Bytes Send(sim::Controller& device, const Bytes& request);

// Function 0x10 frames of the value encodings.
Frame WriteFloat(uint8_t address, uint16_t reg, float value);
Frame WriteClock(uint8_t address, uint16_t reg, const ClockFields& clock);
Frame WriteStationAndBaud(uint8_t address, uint16_t station, uint32_t baud);

// The console's side of the line, without the link library: the slave path
// opened raw at a baud rate.
class RawPort {
 public:
  RawPort(const std::string& path, int baud);
  ~RawPort();
  RawPort(const RawPort&) = delete;
  RawPort& operator=(const RawPort&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Write(const Bytes& bytes);
  void Write(const Frame& frame) { Write(ToBytes(frame)); }
  // Reads until `quietMs` pass with no byte (after at least one), or
  // `limitMs` in all.
  Bytes ReadReply(int quietMs = 60, int limitMs = 1500);
  // Reads until `count` bytes have come, or `limitMs` in all.
  Bytes ReadBytes(size_t count, int limitMs);
  void Close();

 private:
  Bytes Read(size_t count, int quietMs, int limitMs);

  int fd_ = -1;
};

}  // namespace simtest
