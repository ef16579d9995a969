// A remote line: "tcp://HOST:PORT" (the server passes bytes through) or
// "rfc2217://HOST:PORT" (Telnet com-port control: the server also takes the
// baud rate from us). The serial port's calls (serial_port.h) hand a port
// opened on such a path to its RemoteLine; the exchange above them cannot
// tell the difference, except that the reply wait adds the network's margin
// (PortNetworkMarginMs).
//
// A connection that drops (the server stopped, the network gone) behaves as
// an unplugged adapter: every exchange fails until the line is back. The
// purge before each request tries to reconnect, at most every half second,
// so monitoring resumes by itself.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "line.h"
#include "serial_port.h"

// --- For the console ------------------------------------------------------
// Whether `path` names a remote line rather than a device.
bool IsRemotePath(const std::string& path);
// Whether opening `path` at a baud rate sets the line to that rate: true for
// devices and RFC 2217, false for a raw TCP line (its rate is set on the
// server).
bool LineSetsBaud(const std::string& path);
// Added to the reply wait of an exchange on `port`: 0 on a local line; on a
// remote one the connection's measured round trip, at least 50 ms.
uint32_t PortNetworkMarginMs(HPORT port);

// --- Inside the link --------------------------------------------------------
class RemoteLine {
 public:
  // Null when `path` is no remote line (or names no kind we know).
  static std::unique_ptr<RemoteLine> ForPath(const std::string& path);
  ~RemoteLine();
  RemoteLine(const RemoteLine&) = delete;
  RemoteLine& operator=(const RemoteLine&) = delete;

  // Connects (3 s at most) and starts the kind. On failure `why` reads
  // "无法连接 HOST:PORT：<reason>".
  bool Open(int baud, std::string& why);
  // The serial port's calls, with the same contracts (serial_port.h).
  // `wakeFd`, when not -1, ends the wait early once it is readable.
  uint32_t Wait(uint16_t expected, uint32_t timeoutMs, int wakeFd = -1);
  size_t Read(uint8_t* data, size_t len);
  size_t Write(const uint8_t* data, size_t len);
  void Purge();
  uint32_t MarginMs() const;

  // --- For the kinds ---
  int Baud() const { return baud_; }
  // How long the kind's start may wait for the server's replies.
  uint32_t NegotiationMs() const { return negotiationMs_; }
  // A line byte has come.
  void Deliver(uint8_t byte) { rx_.push_back(byte); }
  // Sends bytes the kind made itself (a negotiation), whole, or false.
  bool SendWire(const std::vector<uint8_t>& wire);
  // Reads and hands to the kind whatever comes, until `done()` or `ms` pass.
  // False on a time-out or a dropped connection.
  template <typename Done>
  bool AwaitReply(Done done, uint32_t ms);
  std::unique_ptr<LineState> state;

 private:
  RemoteLine(const LineKind& kind, std::string host, std::string service);
  bool Connect(uint32_t timeoutMs, std::string& why);
  bool Start(uint32_t timeoutMs, std::string& why);
  // Moves what the socket holds through the kind. False once the
  // connection has dropped (it is then closed).
  bool Pump();
  // Waits up to `ms` for the socket to have something to say (bytes, or
  // that it dropped: Pump() then finds out). False when the time ran out.
  bool PollIn(uint32_t ms, int wakeFd = -1);
  void Drop();
  size_t Take(uint8_t* data, size_t len);

  const LineKind& kind_;
  const std::string host_;
  const std::string service_;
  int fd_ = -1;
  int baud_ = 0;
  uint32_t negotiationMs_ = 0;
  bool closedByServer_ = false;  // since the last start
  std::vector<uint8_t> rx_;  // line bytes not yet read
  size_t rxStart_ = 0;
  std::chrono::steady_clock::time_point lastAttempt_{};
};

template <typename Done>
bool RemoteLine::AwaitReply(Done done, uint32_t ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  // A dropped connection has taken the kind's state with it: `done` may no
  // longer look.
  while (fd_ >= 0) {
    if (done()) return true;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    if (PollIn(static_cast<uint32_t>(left))) Pump();
  }
  return false;
}
