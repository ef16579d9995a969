#include "far_end_process.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;

// The child: opens the pair, reports the slave's path, then waits for its
// control pipe to close. Only async-signal-safe calls after fork().
[[noreturn]] void Serve(int report, int control) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  char name[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0)
    _exit(1);
  const int slave = open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) _exit(1);
  size_t len = 0;
  while (name[len] != '\0') ++len;
  name[len] = '\n';
  if (write(report, name, len + 1) != static_cast<ssize_t>(len + 1)) _exit(1);
  close(report);
  char byte;
  while (read(control, &byte, 1) > 0) {
  }
  _exit(0);
}

}  // namespace

FarEndProcess::FarEndProcess() {
  int report[2], control[2];
  if (pipe2(report, O_CLOEXEC) != 0) return;
  if (pipe2(control, O_CLOEXEC) != 0) {
    close(report[0]);
    close(report[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    // Only the two pipe ends go along: a port or pty the test holds must not
    // look as if this process had it open too.
    const int r = fcntl(report[1], F_DUPFD, 10);
    const int c = fcntl(control[0], F_DUPFD, 10);
    if (r < 0 || c < 0 || dup2(r, 3) != 3 || dup2(c, 4) != 4) _exit(1);
    close_range(5, ~0U, 0);
    Serve(3, 4);
  }
  close(report[1]);
  close(control[0]);
  control_ = control[1];
  if (pid_ < 0) {
    close(report[0]);
    return;
  }
  std::string line;
  char buf[128];
  pollfd p{report[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, kStartTimeoutMs) > 0) {
    const ssize_t n = read(report[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(report[0]);
  if (line.find('\n') != std::string::npos) path_ = line.substr(0, line.find('\n'));
}

FarEndProcess::~FarEndProcess() {
  if (control_ >= 0) close(control_);
  if (pid_ > 0) waitpid(pid_, nullptr, 0);
}
