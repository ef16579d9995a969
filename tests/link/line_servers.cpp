#include "line_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "frame_codec.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in a = Loopback(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

int Listen(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(port);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Every byte in a send of its own.
bool Trickle(int to, const uint8_t* data, ssize_t n) {
  for (ssize_t i = 0; i < n; ++i) {
    if (send(to, data + i, 1, MSG_NOSIGNAL) != 1) return false;
  }
  return true;
}

// What an RFC 2217 server whose line runs at 1200 baud only answers to our
// negotiation: DO com-port, then its settings.
const std::vector<uint8_t> kRefusingReply = {
    255, 253, 44,                                  // DO COM-PORT-OPTION
    255, 250, 44, 101, 0, 0, 0x04, 0xB0, 255, 240,  // baud 1200
    255, 250, 44, 102, 8, 255, 240,                // 8 data bits
    255, 250, 44, 103, 1, 255, 240,                // no parity
    255, 250, 44, 104, 1, 255, 240,                // 1 stop bit
};

std::vector<uint8_t> Confirmations(uint32_t baud, uint8_t dataBits) {
  return {255, 250, 44, 101, static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
          static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud), 255, 240,
          255, 250, 44, 102, dataBits, 255, 240,   // data bits
          255, 250, 44, 103, 1, 255, 240,          // no parity
          255, 250, 44, 104, 1, 255, 240};         // 1 stop bit
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What a negotiating server of each mode answers to the client's first
// bytes (empty: nothing canned).
std::vector<uint8_t> CannedReply(MisbehavingServer::Mode mode) {
  using Mode = MisbehavingServer::Mode;
  const std::vector<uint8_t> doCom = {255, 253, 44};
  const std::vector<uint8_t> binary = {255, 253, 0, 255, 251, 0};  // DO, WILL BINARY
  switch (mode) {
    case Mode::BaudRefuser: return kRefusingReply;
    case Mode::BinaryRefuser: return Join(Join(doCom, {255, 254, 0, 255, 252, 0}), Confirmations(9600, 8));
    case Mode::BinaryRefuserIn: return Join(Join(doCom, {255, 253, 0, 255, 252, 0}), Confirmations(9600, 8));
    case Mode::BinaryRefuserOut: return Join(Join(doCom, {255, 254, 0, 255, 251, 0}), Confirmations(9600, 8));
    case Mode::HangupMidNegotiation: return doCom;
    case Mode::DontComPort: return {255, 254, 44};
    case Mode::WontComPort: return Join(Join(Join({255, 252, 44}, doCom), binary), Confirmations(9600, 8));
    case Mode::Not8N1: return Join(Join(doCom, binary), Confirmations(9600, 7));
    case Mode::Answering: return Join(Join(doCom, binary), Confirmations(9600, 8));
    default: return {};
  }
}

// Sends `chunk` again and again, without reading, until the client goes
// or `wake` is readable.
void SendForever(int client, int wake, const std::vector<uint8_t>& chunk) {
  for (;;) {
    pollfd p[2] = {{wake, POLLIN, 0}, {client, POLLOUT, 0}};
    if (poll(p, 2, -1) < 0 || p[0].revents != 0 || (p[1].revents & (POLLERR | POLLHUP))) return;
    if (send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
        errno != EAGAIN && errno != EWOULDBLOCK) {
      return;
    }
  }
}

// A reply to a one-register read of station 1.
std::vector<uint8_t> ReadReply(uint16_t value) {
  std::vector<uint8_t> r = {1, 3, 2, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  const uint16_t crc = Crc16(r.data(), r.size());
  r.push_back(static_cast<uint8_t>(crc >> 8));
  r.push_back(static_cast<uint8_t>(crc));
  return r;
}

// Whether `in` holds line bytes besides Telnet commands; `negotiates`,
// `purges`: among them the com-port setting of the baud rate, a purge.
const std::vector<uint8_t> kPurgeConfirmed = {255, 250, 44, 112, 3, 255, 240};

bool HasLineBytes(const uint8_t* in, size_t n, bool& negotiates, bool& purges) {
  bool data = false;
  for (size_t i = 0; i < n; ++i) {
    if (in[i] != 255 || i + 1 >= n || in[i + 1] == 255) {
      data = true;
      i += in[i] == 255;
    } else if (in[i + 1] >= 251) {
      i += 2;  // WILL, WONT, DO, DONT and the option
    } else if (in[i + 1] == 250) {
      negotiates = negotiates || (i + 3 < n && in[i + 2] == 44 && in[i + 3] == 1);
      purges = purges || (i + 3 < n && in[i + 2] == 44 && in[i + 3] == 12);
      while (i + 1 < n && !(in[i] == 255 && in[i + 1] == 240)) ++i;
      ++i;
    } else {
      ++i;
    }
  }
  return data;
}

// Ends the connection with a reset rather than an orderly close.
void Reset(int fd) {
  const linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

}  // namespace

int FreeLoopbackPort() {
  int port = 0;
  const int fd = Listen(port);
  if (fd >= 0) close(fd);
  return port;
}

// Whether something listens on 127.0.0.1:port, from the kernel's table
// rather than by connecting: ser2net turns away a connection that comes
// while it is still closing the device behind a previous one, and a probe
// connection would be exactly that previous one.
bool IsListening(int port) {
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(port));
  std::ifstream table("/proc/net/tcp");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, address, remote, state;
    fields >> slot >> address >> remote >> state;
    if (address == local && state == "0A") return true;  // 0A: LISTEN
  }
  return false;
}

bool WaitUntilAccepting(int port, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) {
    if (IsListening(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// --- ser2net ------------------------------------------------------------------

Ser2Net::Ser2Net(std::string device, bool charDelay)
    : device_(std::move(device)), charDelay_(charDelay), raw_(FreeLoopbackPort()),
      rfc2217_(FreeLoopbackPort()) {
  char dir[] = "/tmp/qd7420-ser2net-XXXXXX";
  if (mkdtemp(dir) != nullptr) dir_ = dir;
}

Ser2Net::~Ser2Net() {
  Stop();
  if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
}

bool Ser2Net::Installed() {
  return access("/usr/sbin/ser2net", X_OK) == 0 || access("/usr/bin/ser2net", X_OK) == 0;
}

bool Ser2Net::Start() {
  if (dir_.empty() || raw_ == rfc2217_ || pid_ > 0) return false;
  const std::string config = dir_ + "/ser2net.yaml";
  {
    std::ofstream out(config);
    const std::string connector = "serialdev," + device_ + ",9600n81,local";
    const std::string options = charDelay_ ? "" : "  options:\n    chardelay: false\n";
    const std::string tcp = charDelay_ ? "tcp" : "tcp(nodelay)";
    out << "connection: &raw\n  accepter: " << tcp << ",127.0.0.1," << raw_ << "\n  connector: " << connector
        << "\n" << options << "connection: &rfc2217\n  accepter: telnet(rfc2217)," << tcp << ",127.0.0.1,"
        << rfc2217_ << "\n  connector: " << connector << "\n" << options;
  }
  const std::string pidFile = dir_ + "/ser2net.pid";
  const std::string log = dir_ + "/ser2net.log";
  // -n: stay in the foreground as our child; -u: no UUCP lock on the pty.
  const char* argv[] = {"ser2net", "-n", "-u", "-c", config.c_str(), "-P", pidFile.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int rc = posix_spawnp(&pid_, "ser2net", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  return WaitUntilAccepting(raw_, 10000) && WaitUntilAccepting(rfc2217_, 10000);
}

void Ser2Net::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (Clock::now() > until) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

// --- The misbehaving server ----------------------------------------------------

MisbehavingServer::MisbehavingServer(Mode mode, int target) : mode_(mode), target_(target) {
  listener_ = Listen(port_);
  if (listener_ >= 0 && pipe2(wake_, O_CLOEXEC) == 0) thread_ = std::thread(&MisbehavingServer::Run, this);
}

MisbehavingServer::~MisbehavingServer() {
  if (thread_.joinable()) {
    const char end = 0;
    (void)!write(wake_[1], &end, 1);
    thread_.join();
  }
  for (int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void MisbehavingServer::Run() {
  for (;;) {
    pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0 || p[1].revents != 0) return;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++accepted_;
    NoDelay(client);
    Serve(client);
    close(client);
  }
}

// Until the client or the far end closes, or the server ends.
void MisbehavingServer::Serve(int client) {
  if (mode_ == Mode::Hangup) return;
  if (mode_ == Mode::OptionFlood || mode_ == Mode::LineFlood) return Flood(client);
  if (mode_ == Mode::Answering || mode_ == Mode::AnsweringOnce || mode_ == Mode::ResetMidReply ||
      mode_ == Mode::SlowDrip)
    return Answer(client);
  const std::vector<uint8_t> canned = CannedReply(mode_);
  const int upstream = mode_ == Mode::Trickle ? ConnectLoopback(target_) : -1;
  if (mode_ == Mode::Trickle && upstream < 0) return;
  if (upstream >= 0) NoDelay(upstream);
  uint8_t buf[4096];
  bool answered = false;
  for (bool open = true; open;) {
    pollfd p[3] = {{wake_[0], POLLIN, 0}, {client, POLLIN, 0}, {upstream, POLLIN, 0}};
    if (poll(p, upstream >= 0 ? 3 : 2, -1) < 0 || p[0].revents != 0) break;
    for (int i = 1; i <= 2 && open; ++i) {
      if (p[i].revents == 0 || p[i].fd < 0) continue;
      const ssize_t n = recv(p[i].fd, buf, sizeof buf, 0);
      if (n <= 0) {
        open = false;
      } else if (mode_ == Mode::Trickle && i == 1) {
        open = send(upstream, buf, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
      } else if (mode_ == Mode::Trickle) {
        open = Trickle(client, buf, n);
      } else if (!canned.empty() && !answered) {
        answered = true;
        send(client, canned.data(), canned.size(), MSG_NOSIGNAL);
        open = mode_ != Mode::HangupMidNegotiation;
      }
    }
  }
  if (upstream >= 0) close(upstream);
}

void MisbehavingServer::Flood(int client) {
  std::vector<uint8_t> chunk(4096, 0);
  if (mode_ == Mode::OptionFlood) {
    for (size_t i = 0; i + 3 <= chunk.size(); i += 3) {
      chunk[i] = 255;      // IAC
      chunk[i + 1] = 253;  // DO
      chunk[i + 2] = 24;   // TERMINAL-TYPE: the client refuses, and must say so
    }
    chunk.resize(chunk.size() / 3 * 3);
  }
  SendForever(client, wake_[0], chunk);
}

// A client that negotiates RFC 2217 (its first byte is IAC) gets the
// confirmations; each request after that its mode's answer.
void MisbehavingServer::Answer(int client) {
  const std::vector<uint8_t> reply = ReadReply(kAnsweredValue);
  const std::vector<uint8_t> stale = {0x01, 0x03, 0x02, 0xEE};
  send(client, stale.data(), stale.size(), MSG_NOSIGNAL);
  uint8_t buf[512];
  for (;;) {
    pollfd p[2] = {{wake_[0], POLLIN, 0}, {client, POLLIN, 0}};
    if (poll(p, 2, -1) < 0 || p[0].revents != 0) return;
    const ssize_t n = recv(client, buf, sizeof buf, 0);
    if (n <= 0) return;
    bool negotiates = false, purges = false;
    const bool data = HasLineBytes(buf, static_cast<size_t>(n), negotiates, purges);
    const std::vector<uint8_t> canned = CannedReply(Mode::Answering);
    if (negotiates) send(client, canned.data(), canned.size(), MSG_NOSIGNAL);
    if (purges) send(client, kPurgeConfirmed.data(), kPurgeConfirmed.size(), MSG_NOSIGNAL);
    if (!data || negotiates) {
      continue;
    } else if (mode_ == Mode::Answering || mode_ == Mode::AnsweringOnce) {
      send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
      if (mode_ == Mode::AnsweringOnce) return;
    } else if (mode_ == Mode::ResetMidReply) {
      send(client, reply.data(), reply.size() / 2, MSG_NOSIGNAL);
      return Reset(client);
    } else {
      for (size_t i = 0; poll(p, 1, 30) == 0; ++i) {
        if (send(client, &reply[i % reply.size()], 1, MSG_NOSIGNAL) != 1) return;
      }
      return;
    }
  }
}
