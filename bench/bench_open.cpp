// What keeping the line to ourselves costs each open. Every command opens the
// port afresh and pays the lock-file round (check, write, remove); the look
// through /proc for other holders is paid by the first open and by any open
// after another program opened the device meanwhile (open_watch.h). Measured
// in one run, taking turns: the whole OpenDevice + CloseDevice on the
// simulated controller's pty when nobody came between two opens, the same
// after another open of the device, the /proc look alone, the lock round
// alone. Idle child processes, each with a few descriptors open, stand in
// for a busy desktop.
//
//   bench_open [--processes N] [--iterations N]
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "port_lock.h"
#include "port_users.h"
#include "pty_server.h"
#include "serial_port.h"

namespace {

constexpr int kBaud = 9600;
constexpr int kWarmup = 20;
constexpr int kDescriptorsPerChild = 12;

using Clock = std::chrono::steady_clock;

// Idle children that hold a dozen descriptors each (files, a pipe, a socket
// pair), as desktop processes do, until their control pipe closes.
class IdleProcesses {
 public:
  explicit IdleProcesses(int count) {
    int control[2];
    if (pipe2(control, O_CLOEXEC) != 0) return;
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) Idle(control[0]);
      if (pid > 0) pids_.push_back(pid);
    }
    close(control[0]);
    control_ = control[1];
  }
  ~IdleProcesses() {
    if (control_ >= 0) close(control_);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  size_t Count() const { return pids_.size(); }

 private:
  [[noreturn]] static void Idle(int control) {
    const int keep = fcntl(control, F_DUPFD, 3);
    if (keep != 3) dup2(keep, 3);
    close_range(4, ~0U, 0);
    for (int i = 0; i < kDescriptorsPerChild - 3; ++i) open("/dev/null", O_RDWR);
    int fds[2];
    (void)!pipe(fds);
    (void)!socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    char byte;
    while (read(3, &byte, 1) > 0) {
    }
    _exit(0);
  }

  std::vector<pid_t> pids_;
  int control_ = -1;
};

int CountEntries(const std::string& folder) {
  int count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// Processes on the machine, and the descriptors of those we may look into.
std::pair<int, int> ProcessesAndDescriptors() {
  int processes = 0, descriptors = 0;
  if (DIR* proc = opendir("/proc")) {
    while (const dirent* entry = readdir(proc)) {
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      ++processes;
      descriptors += CountEntries(std::string("/proc/") + entry->d_name + "/fd");
    }
    closedir(proc);
  }
  return {processes, descriptors};
}

double ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// One system call of the kind the look makes per descriptor, for scale: the
// machine's own cost of a readlinkat on /proc.
double ReadlinkUs() {
  char link[256];
  const int fds = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const double start = ThreadCpuUs();
  constexpr int kCalls = 20000;
  for (int i = 0; i < kCalls; ++i) (void)!readlinkat(fds, "0", link, sizeof link);
  const double us = (ThreadCpuUs() - start) / kCalls;
  close(fds);
  return us;
}

struct Series {
  const char* name;
  std::vector<double> us;
  std::vector<double> cpuUs;  // CPU time of this thread: without the waits of a busy machine

  double MedianCpu() {
    std::sort(cpuUs.begin(), cpuUs.end());
    return cpuUs[cpuUs.size() / 2];
  }

  double Median() {
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
  }
  double Percentile99() {
    std::sort(us.begin(), us.end());
    return us[us.size() * 99 / 100];
  }
};

template <class Body>
void Time(Series& series, Body&& body) {
  const double cpu = ThreadCpuUs();
  const auto start = Clock::now();
  body();
  series.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  series.cpuUs.push_back(ThreadCpuUs() - cpu);
}

int Arg(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int processes = Arg(argc, argv, "--processes", 300);
  const int iterations = Arg(argc, argv, "--iterations", 400);
  IdleProcesses idle(processes);  // before the simulator, so they hold none of its pty
  sim::PtyServer server;
  if (!server.Start()) {
    std::perror("bench_open: simulator");
    return 1;
  }
  const std::string path = server.DevicePath();
  const auto [onMachine, descriptors] = ProcessesAndDescriptors();
  const double readlinkUs = ReadlinkUs();
  std::printf("%d processes with %d descriptors on the machine (%zu idle ones started, %d "
              "descriptors each), %d iterations; one readlinkat on /proc costs %.2f us CPU here\n",
              onMachine, descriptors, idle.Count(), kDescriptorsPerChild, iterations, readlinkUs);

  Series whole{"open + close, nobody came", {}, {}};
  Series visited{"open + close, someone came", {}, {}};
  Series scan{"the /proc look alone", {}, {}};
  Series lock{"the lock file round alone", {}, {}};
  const int probe = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  bool ok = probe >= 0;
  for (int i = -kWarmup; i < iterations && ok; ++i) {
    if (i == 0) {
      for (Series* s : {&whole, &visited, &scan, &lock}) s->us.clear(), s->cpuUs.clear();
    }
    Time(whole, [&] {
      HPORT port = OpenDevice(path, kBaud);
      ok = ok && port != nullptr;
      CloseDevice(port);
    });
    Time(lock, [&] {
      PortLock held;
      ok = ok && held.Acquire(path) && !held.Path().empty();
    });
    close(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));  // someone came and went
    Time(visited, [&] {
      HPORT port = OpenDevice(path, kBaud);
      ok = ok && port != nullptr;
      CloseDevice(port);
    });
    Time(scan, [&] { ok = ok && OtherProcessUsing(probe) == 0; });
  }
  if (probe >= 0) close(probe);
  if (!ok) {
    std::fprintf(stderr, "bench_open: the open failed or a rival was seen\n");
    return 1;
  }
  for (Series* s : {&whole, &visited, &scan, &lock})
    std::printf("%-30s median %8.1f us  p99 %8.1f us  CPU median %8.1f us\n", s->name,
                s->Median(), s->Percentile99(), s->MedianCpu());
  std::printf("an open after someone came costs %.1fx one where nobody came; the lock round is "
              "%.0f%% of the latter\n",
              visited.Median() / whole.Median(), 100.0 * lock.Median() / whole.Median());
  std::printf("the /proc look: %.2f us CPU per descriptor, %.1f readlinkat-equivalents per "
              "descriptor\n",
              scan.MedianCpu() / descriptors, scan.MedianCpu() / readlinkUs / descriptors);
  return 0;
}
