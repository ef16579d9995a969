// Servers on 127.0.0.1 for the remote-line tests: Debian's ser2net with its
// serial side on a device (the simulator's pty), and a small server of our
// own that misbehaves on purpose. Free ports are taken from the kernel.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLoopbackPort();

// Blocks until something listens on 127.0.0.1:port, or `ms` pass.
bool WaitUntilAccepting(int port, int ms);

class Ser2Net {
 public:
  // Two accepters on free ports, both to `device` at 9600 8N1: raw TCP and
  // Telnet with RFC 2217. Without `charDelay` the server passes on what it
  // has at once instead of waiting a few character times after each byte
  // (its `chardelay: false`), on accepters with `nodelay`: otherwise the
  // reply's second segment waits for the client's delayed acknowledgement.
  explicit Ser2Net(std::string device, bool charDelay = true);
  ~Ser2Net();  // Stop()
  Ser2Net(const Ser2Net&) = delete;
  Ser2Net& operator=(const Ser2Net&) = delete;

  static bool Installed();
  // Starts the process (on the same ports as before, after a Stop) and waits
  // until both ports accept. False when it did not come up.
  bool Start();
  // Ends the process by its pid and waits for it.
  void Stop();

  int RawPort() const { return raw_; }
  int Rfc2217Port() const { return rfc2217_; }
  std::string RawPath() const { return "tcp://127.0.0.1:" + std::to_string(raw_); }
  std::string Rfc2217Path() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217_); }

 private:
  std::string device_;
  bool charDelay_;
  std::string dir_;  // its configuration and pid file
  int raw_;
  int rfc2217_;
  pid_t pid_ = -1;
};

// A server on a free port that serves one connection at a time:
// - Silent: accepts and reads, never answers;
// - Trickle: forwards to 127.0.0.1:target and back; what comes back goes
//   one byte per write (every byte its own TCP segment). Requests go on
//   whole: split, their bytes would reach the serial line with gaps that
//   end an RTU frame, which no client can mend;
// - BaudRefuser: answers the com-port negotiation as an RFC 2217 server that
//   can only run its line at 1200 baud;
// - Hangup: closes every connection as soon as it has taken it;
// - OptionFlood: sends Telnet option requests without end and never reads;
// - LineFlood: sends line bytes without end, confirms nothing, never reads;
// - BinaryRefuser, BinaryRefuserIn, BinaryRefuserOut: confirm 9600 8N1 but
//   refuse binary transmission both ways, from us (WONT), to us (DONT);
// - HangupMidNegotiation: takes the com-port option, then closes;
// - DontComPort, WontComPort: refuse the com-port option (DONT), or say
//   they will not send com-port commands of their own (WONT) and confirm;
// - Not8N1: confirms 9600 with 7 data bits;
// - Answering: answers every request with a one-register read reply
//   (value kAnsweredValue), as an RFC 2217 server that confirms 9600 8N1
//   when the client negotiates, and greets each connection with a few
//   bytes of a stale reply; it confirms a purge as such a server does;
// - AnsweringOnce: the same, but closes each connection after one reply;
// - ResetMidReply: answers a request with half a reply, then resets;
// - SlowDrip: answers a request with bytes every 30 ms, without end.
class MisbehavingServer {
 public:
  enum class Mode {
    Silent, Trickle, BaudRefuser, Hangup, OptionFlood, LineFlood, BinaryRefuser,
    BinaryRefuserIn, BinaryRefuserOut, HangupMidNegotiation, DontComPort, WontComPort, Not8N1,
    Answering, AnsweringOnce, ResetMidReply, SlowDrip,
  };
  static constexpr uint16_t kAnsweredValue = 0x0D0A;
  explicit MisbehavingServer(Mode mode, int target = 0);
  ~MisbehavingServer();
  MisbehavingServer(const MisbehavingServer&) = delete;
  MisbehavingServer& operator=(const MisbehavingServer&) = delete;

  int Port() const { return port_; }
  std::string Path(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  // Connections taken so far.
  int Accepted() const { return accepted_.load(); }

 private:
  void Run();
  void Serve(int client);
  void Flood(int client);
  void Answer(int client);

  const Mode mode_;
  const int target_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};  // written to at the end: stops the thread
  std::atomic<int> accepted_{0};
  std::thread thread_;
};
