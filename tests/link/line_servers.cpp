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

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

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

Ser2Net::Ser2Net(std::string device)
    : device_(std::move(device)), raw_(FreeLoopbackPort()), rfc2217_(FreeLoopbackPort()) {
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
    out << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw_ << "\n  connector: " << connector
        << "\nconnection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217_
        << "\n  connector: " << connector << "\n";
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
    NoDelay(client);
    Serve(client);
    close(client);
  }
}

// Until the client or the far end closes, or the server ends.
void MisbehavingServer::Serve(int client) {
  if (mode_ == Mode::Hangup) return;
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
      } else if (mode_ == Mode::BaudRefuser && !answered) {
        answered = true;
        send(client, kRefusingReply.data(), kRefusingReply.size(), MSG_NOSIGNAL);
      }
    }
  }
  if (upstream >= 0) close(upstream);
}
