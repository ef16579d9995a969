#include "device_holder.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int kStartTimeoutMs = 10000;

// Reads the shell's "ready" line.
bool ReadReady(int fd) {
  char text[16] = {};
  size_t got = 0;
  while (got < 6) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kStartTimeoutMs) <= 0) return false;
    const ssize_t n = read(fd, text + got, sizeof text - 1 - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return std::strncmp(text, "ready\n", 6) == 0;
}

}  // namespace

DeviceHolder::DeviceHolder(const std::string& path) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // Nothing of ours goes along: a pty master the test holds would make the
  // shell look like the far end of the line rather than a rival.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const char* argv[] = {"/bin/sh", "-c", "exec 3<>\"$1\" || exit 1; echo ready; read line", "sh",
                        path.c_str(), nullptr};
  const int spawned = posix_spawn(&pid_, "/bin/sh", &actions, nullptr, const_cast<char**>(argv),
                                  environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  if (spawned != 0) pid_ = -1;
  ready_ = pid_ > 0 && ReadReady(out[0]);
  close(out[0]);
}

DeviceHolder::~DeviceHolder() {
  if (input_ >= 0) close(input_);  // "read line" ends, and so does the shell
  if (pid_ > 0) waitpid(pid_, nullptr, 0);
}
