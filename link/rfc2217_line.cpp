// An RFC 2217 line: Telnet with the com-port control option. At each
// connect (every open sets the line afresh, so every baud change is one) we
// offer the option, ask for binary transmission both ways (a frame's CR
// bytes must pass untouched), set the baud rate and 8N1, and take the line
// only when the server has confirmed each setting with the value we asked
// for. Line bytes equal to IAC (0xFF) travel doubled, both ways. A purge
// asks the server to empty its own buffers too; its confirmation, like
// every Telnet command, is taken out of the byte stream and not awaited.
#include <array>
#include <memory>
#include <optional>

#include "line.h"
#include "remote_line.h"

namespace {

constexpr uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIac = 255;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// Client commands; the server confirms each with the code plus 100.
constexpr uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kPurgeData = 12;
constexpr uint8_t kServer = 100;
constexpr uint8_t kDataBits8 = 8, kParityNone = 1, kStopBits1 = 1, kPurgeBoth = 3;

struct State : KindState {
  enum class In { Data, Iac, Verb, Sub, SubIac } in = In::Data;
  uint8_t verb = 0;
  std::vector<uint8_t> sub;
  std::array<bool, 256> willSent{};
  std::array<bool, 256> doSent{};
  bool refused = false;  // the server will not take com-port commands
  std::optional<uint32_t> baud;
  std::optional<uint8_t> dataSize, parity, stopSize;
};

State& StateOf(RemoteLine& line) { return static_cast<State&>(*line.state); }

bool Wanted(uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

void AppendDoubled(const uint8_t* in, size_t n, std::vector<uint8_t>& wire) {
  for (size_t i = 0; i < n; ++i) {
    wire.push_back(in[i]);
    if (in[i] == kIac) wire.push_back(kIac);
  }
}

void AppendSub(uint8_t code, std::vector<uint8_t> value, std::vector<uint8_t>& wire) {
  wire.insert(wire.end(), {kIac, kSb, kComPort, code});
  AppendDoubled(value.data(), value.size(), wire);
  wire.insert(wire.end(), {kIac, kSe});
}

// Agrees to the options we want, once each (answering an answer would loop),
// and refuses the rest.
void Answer(State& s, uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
  if (verb == kWill || verb == kDo) {
    auto& sent = verb == kWill ? s.doSent : s.willSent;
    const uint8_t yes = verb == kWill ? kDo : kWill;
    const uint8_t no = verb == kWill ? kDont : kWont;
    if (!Wanted(option)) {
      out.insert(out.end(), {kIac, no, option});
    } else if (!sent[option]) {
      sent[option] = true;
      out.insert(out.end(), {kIac, yes, option});
    }
  } else if (verb == kDont && option == kComPort) {
    s.refused = true;
  }
}

void Confirmed(State& s) {
  if (s.sub.size() < 3 || s.sub[0] != kComPort) return;
  const uint8_t code = s.sub[1];
  const std::vector<uint8_t> v(s.sub.begin() + 2, s.sub.end());
  if (code == kServer + kSetBaud && v.size() == 4) {
    s.baud = uint32_t{v[0]} << 24 | uint32_t{v[1]} << 16 | uint32_t{v[2]} << 8 | v[3];
  } else if (code == kServer + kSetDataSize) {
    s.dataSize = v[0];
  } else if (code == kServer + kSetParity) {
    s.parity = v[0];
  } else if (code == kServer + kSetStopSize) {
    s.stopSize = v[0];
  }
}

// One byte through the Telnet parser; a sequence may be split anywhere
// between two reads.
void Parse(RemoteLine& line, State& s, uint8_t b, std::vector<uint8_t>& out) {
  using In = State::In;
  switch (s.in) {
    case In::Data:
      if (b == kIac) s.in = In::Iac;
      else line.Deliver(b);
      break;
    case In::Iac:
      s.in = In::Data;
      if (b == kIac) {
        line.Deliver(b);
      } else if (b >= kWill && b <= kDont) {
        s.verb = b;
        s.in = In::Verb;
      } else if (b == kSb) {
        s.sub.clear();
        s.in = In::Sub;
      }
      break;  // any other command (NOP, GA...) carries nothing for us
    case In::Verb:
      Answer(s, s.verb, b, out);
      s.in = In::Data;
      break;
    case In::Sub:
      if (b == kIac) s.in = In::SubIac;
      else if (s.sub.size() < 64) s.sub.push_back(b);
      break;
    case In::SubIac:
      s.in = b == kIac ? In::Sub : In::Data;
      if (b == kIac && s.sub.size() < 64) s.sub.push_back(b);
      if (b == kSe) Confirmed(s);
      break;
  }
}

void Receive(RemoteLine& line, const uint8_t* in, size_t n) {
  State& s = StateOf(line);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < n; ++i) Parse(line, s, in[i], out);
  if (!out.empty()) line.SendWire(out);
}

void Encode(const uint8_t* in, size_t n, std::vector<uint8_t>& wire) {
  wire.clear();
  AppendDoubled(in, n, wire);
}

// Why the server's confirmations do not give us the line, or empty.
std::string Refusal(const State& s, int baud) {
  if (*s.baud != static_cast<uint32_t>(baud)) {
    return "服务器不接受波特率" + std::to_string(baud) + "（回复" + std::to_string(*s.baud) + "）";
  }
  if (*s.dataSize != kDataBits8 || *s.parity != kParityNone || *s.stopSize != kStopBits1) {
    return "服务器不接受8N1";
  }
  return std::string();
}

bool Start(RemoteLine& line, std::string& why) {
  line.state = std::make_unique<State>();
  State& s = StateOf(line);
  std::vector<uint8_t> wire = {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary};
  s.willSent[kComPort] = s.willSent[kBinary] = s.doSent[kBinary] = true;
  const int baud = line.Baud();
  AppendSub(kSetBaud, {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                       static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)}, wire);
  AppendSub(kSetDataSize, {kDataBits8}, wire);
  AppendSub(kSetParity, {kParityNone}, wire);
  AppendSub(kSetStopSize, {kStopBits1}, wire);
  const auto settled = [&s] { return s.refused || (s.baud && s.dataSize && s.parity && s.stopSize); };
  if (!line.SendWire(wire) || !line.AwaitReply(settled, line.NegotiationMs())) {
    why = line.state ? "服务器没有回应串口设置（RFC 2217）" : "服务器断开了连接";
    return false;
  }
  why = s.refused ? "服务器不支持RFC 2217串口控制" : Refusal(s, baud);
  return why.empty();
}

void Purge(RemoteLine& line) {
  std::vector<uint8_t> wire;
  AppendSub(kPurgeData, {kPurgeBoth}, wire);
  line.SendWire(wire);
}

}  // namespace

const RemoteKind kRfc2217Line = {Start, Receive, Encode, Purge, nullptr};
