// Servers on 127.0.0.1 for the remote-line tests: Debian's ser2net with its
// serial side on a device (the simulator's pty), and a small server of our
// own that misbehaves on purpose. Free ports are taken from the kernel.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLoopbackPort();

// Blocks until something listens on 127.0.0.1:port, or `ms` pass.
bool WaitUntilAccepting(int port, int ms);

class Ser2Net {
 public:
  // Two accepters on free ports, both to `device` at 9600 8N1: raw TCP and
  // Telnet with RFC 2217.
  explicit Ser2Net(std::string device);
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
// - Hangup: closes every connection as soon as it has taken it.
class MisbehavingServer {
 public:
  enum class Mode { Silent, Trickle, BaudRefuser, Hangup };
  explicit MisbehavingServer(Mode mode, int target = 0);
  ~MisbehavingServer();
  MisbehavingServer(const MisbehavingServer&) = delete;
  MisbehavingServer& operator=(const MisbehavingServer&) = delete;

  int Port() const { return port_; }
  std::string Path(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }

 private:
  void Run();
  void Serve(int client);

  const Mode mode_;
  const int target_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};  // written to at the end: stops the thread
  std::thread thread_;
};
