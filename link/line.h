// The kinds of remote line: a controller behind a serial device server,
// reached over TCP. Each kind fills one table of operations (LineKind) in a
// file of its own; RemoteLine (remote_line.h) does the socket work common to
// all and calls the kind for what differs: what happens after the connect,
// how socket bytes become line bytes and back, and what a purge tells the
// server. Internal to the link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class RemoteLine;

// What a kind keeps per connection (the Telnet parser, the server's
// replies). Made afresh by `start` at each connect.
struct LineState {
  virtual ~LineState() = default;
};

struct LineKind {
  const char* scheme;  // the path's prefix before "://"
  // Whether the server takes the baud rate from us. When it does not, the
  // rate chosen in the window serves only the wire-time rule.
  bool setsBaud;
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
};

extern const LineKind kTcpLine;
extern const LineKind kRfc2217Line;
