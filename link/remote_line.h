// A remote line: "tcp://HOST:PORT" (the server passes bytes through) or
// "rfc2217://HOST:PORT" (Telnet com-port control: the server also takes the
// baud rate from us). It is one kind of Line (line.h); the exchange above
// cannot tell the difference, except that the reply wait adds the network's
// margin (PortNetworkMarginMs).
//
// A connection that drops (the server stopped, the network gone) behaves as
// an unplugged adapter: every exchange fails until the line is back. The
// purge before each request tries to reconnect, at most every half second,
// so monitoring resumes by itself.
//
// The kinds of remote line differ only in what happens after the connect,
// how socket bytes become line bytes and back, and what a purge tells the
// server: each fills one table of operations (RemoteKind) in a file of its
// own, and RemoteLine does the socket work common to all.
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
class RemoteLine;

// What a kind keeps per connection (the Telnet parser, the server's
// replies). Made afresh by `start` at each connect.
struct KindState {
  virtual ~KindState() = default;
};

struct RemoteKind {
  // Right after the TCP connect: negotiate and set the line to the port's
  // baud rate, 8N1. False with the reason in `why`; the connection is then
  // dropped.
  bool (*start)(RemoteLine& line, std::string& why);
  // Bytes as they came from the socket: line bytes go to line.Deliver(),
  // anything else is the kind's own business.
  void (*receive)(RemoteLine& line, const uint8_t* in, size_t n);
  // Line bytes to send, appended to `wire` as the socket must carry them.
  void (*encode)(const uint8_t* in, size_t n, std::vector<uint8_t>& wire);
  // Before a request, once our own buffer is empty: what the server should
  // discard too. May be null.
  void (*purge)(RemoteLine& line);
  // The open connection set to line.Baud(); null when the rate is the
  // server's business.
  bool (*setBaud)(RemoteLine& line);
};

extern const RemoteKind kTcpLine;
extern const RemoteKind kRfc2217Line;

class RemoteLine final : public Line {
 public:
  // Null when `path` is no well-formed address ("SCHEME://HOST:PORT").
  static std::unique_ptr<Line> ForPath(const RemoteKind& kind, const std::string& path);
  ~RemoteLine() override;
  RemoteLine(const RemoteLine&) = delete;
  RemoteLine& operator=(const RemoteLine&) = delete;

  // Connects (3 s at most) and starts the kind. On failure the detail reads
  // "无法连接 HOST:PORT：<reason>".
  bool Open(int baud, OpenFailure& why) override;
  bool SetBaud(int baud) override;
  void Purge(int wakeFd) override;
  bool Fill() override { return Pump(); }
  uint32_t Queued() const override { return static_cast<uint32_t>(rx_.size() - rxStart_); }
  size_t Take(uint8_t* data, size_t len) override;
  LineWait AwaitInput(uint32_t ms, int wakeFd) override;
  void Encode(const uint8_t* in, size_t n, std::vector<uint8_t>& wire) const override {
    kind_.encode(in, n, wire);
  }
  ssize_t Send(const uint8_t* wire, size_t n) override;
  LineWait AwaitOutput(uint32_t ms) override;
  uint32_t MarginMs() const override;

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
  std::unique_ptr<KindState> state;

 private:
  RemoteLine(const RemoteKind& kind, std::string path, std::string host, std::string service);
  bool Connect(uint32_t timeoutMs, std::string& why);
  bool Start(uint32_t timeoutMs, std::string& why);
  // Moves what the socket holds through the kind. False once the
  // connection has dropped (it is then closed).
  bool Pump();
  // Waits up to `ms` for the socket to have something to say (bytes, or
  // that it dropped: Pump() then finds out). False when the time ran out.
  bool PollIn(uint32_t ms, int wakeFd = -1);
  void Drop();

  const RemoteKind& kind_;
  const std::string path_;
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
