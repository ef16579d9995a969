// A raw TCP line: the server passes bytes through both ways and its serial
// side is configured on the server, so there is nothing to negotiate and
// nothing to tell it at a purge.
#include "line.h"
#include "remote_line.h"

namespace {

bool Start(RemoteLine&, std::string&) { return true; }

void Receive(RemoteLine& line, const uint8_t* in, size_t n) {
  for (size_t i = 0; i < n; ++i) line.Deliver(in[i]);
}

void Encode(const uint8_t* in, size_t n, std::vector<uint8_t>& wire) { wire.assign(in, in + n); }

}  // namespace

const RemoteKind kTcpLine = {Start, Receive, Encode, nullptr, nullptr};
