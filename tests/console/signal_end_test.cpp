// Ctrl+C, kill and a hang-up while the console works: the console runs as a
// process of its own on a terminal (a pty), with the simulated controller
// in-process and a lock folder of the test's own, and must end as when its
// window is closed: exit code 0, no lock file left behind.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/SignalEnd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> LockFiles(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

// Whether `signo` still waits to be delivered to process `pid`.
bool SignalPending(pid_t pid, int signo) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string key; status >> key;) {
    if (key != "ShdPnd:") continue;
    std::string mask;
    status >> mask;
    return (std::stoull(mask, nullptr, 16) >> (signo - 1)) & 1;
  }
  return false;
}

// Whether process `pid` waits in the system call `number` now.
bool InSystemCall(pid_t pid, long number) {
  std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
  long current = -1;
  return syscall >> current && current == number;
}

// console_child on the slave side of a pty, its terminal.
class ConsoleChild {
 public:
  // `ignored`: a signal the parent leaves ignored across the exec, as nohup
  // does for SIGHUP (0: none).
  ConsoleChild(const std::string& folder, const std::vector<std::string>& args, int ignored = 0) {
    std::vector<std::string> argv{CONSOLE_CHILD_BINARY, folder};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.emplace_back(*e);
    std::vector<char*> cenv;
    for (std::string& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      // What the test runner ignores (run under nohup, say) is not the
      // console's to inherit: only the case's own signal is ignored.
      for (const int signo : {SIGINT, SIGTERM, SIGHUP}) signal(signo, signo == ignored ? SIG_IGN : SIG_DFL);
      execve(cargv[0], cargv.data(), cenv.data());
      _exit(127);
    }
  }
  ~ConsoleChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  pid_t Pid() const { return pid_; }
  const std::string& Output() const { return output_; }

  // Reads the terminal until `word` has been written on it.
  bool WaitFor(const std::string& word, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (output_.find(word) == std::string::npos) {
      if (Clock::now() >= deadline || !ReadSome(10)) return false;
    }
    return true;
  }

  // Ctrl+C typed at the terminal.
  void TypeInterrupt() const { (void)!write(master_, "\x03", 1); }

  // Sends `signo` to the child while it runs; nothing once it has ended
  // (kill() with a PID of -1 would reach every process there is).
  void Signal(int signo) const {
    if (pid_ > 0) kill(pid_, signo);
  }

  // Waits for the end: the exit code (128 + N after signal N), or -1.
  int WaitForExit(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) return -1;
      ReadSome(10);  // a full terminal would hold the child up
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  // False once the terminal has no writer left.
  bool ReadSome(int ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return true;
    char chunk[512];
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) {
      usleep(static_cast<useconds_t>(ms) * 1000);  // EIO after the child is gone
      return false;
    }
    output_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
};

struct EndCase {
  const char* name;
  std::vector<std::string> args;  // activity, then the console's options
  int signo;
  bool typed;  // Ctrl+C at the terminal rather than kill()
  // Ignored from the start (nohup's SIGHUP): sent first, it must not end
  // the console nor reach its handler; the signal above then ends it.
  int ignored = 0;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class SignalEndTest : public ::testing::TestWithParam<EndCase> {
 protected:
  void SetUp() override {
    char name[] = "/tmp/qd7420-signal-locks-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
  }
  void TearDown() override {
    for (const std::string& file : LockFiles(folder_)) unlink((folder_ + '/' + file).c_str());
    rmdir(folder_.c_str());
  }

  void Send(ConsoleChild& child, const EndCase& c) const {
    if (c.typed)
      child.TypeInterrupt();
    else
      child.Signal(c.signo);
  }

  std::string folder_;
};

// Generous for a loaded machine; an end waits at most for the probe under
// way (a second) and the console's own teardown.
constexpr int kEndBoundMs = 10000;
constexpr int kStartBoundMs = 60000;

TEST_P(SignalEndTest, EndsAsTheWindowsCloseAndLeavesNoLock) {
  const EndCase& c = GetParam();
  ConsoleChild child(folder_, c.args, c.ignored);
  ASSERT_GT(child.Pid(), 0);
  ASSERT_TRUE(child.WaitFor("ready", kStartBoundMs)) << child.Output();
  ASSERT_FALSE(LockFiles(folder_).empty()) << "the activity held no lock";
  if (c.ignored) {
    child.Signal(c.ignored);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kEndBoundMs);
    while (SignalPending(child.Pid(), c.ignored) && Clock::now() < deadline) usleep(10000);
  }
  const auto sent = Clock::now();
  Send(child, c);
  const int code = child.WaitForExit(kEndBoundMs);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
  std::cout << c.name << ": ended " << ms << " ms after the signal\n";
  RecordProperty("end_ms", static_cast<int>(ms));
  EXPECT_EQ(code, 0) << child.Output();
  EXPECT_EQ(LockFiles(folder_), std::vector<std::string>{}) << "a lock file was left behind";
  // The trace (--trace) names every signal the handler saw.
  if (c.ignored) {
    EXPECT_EQ(child.Output().find(std::string(sigabbrev_np(c.ignored)) + " received"), std::string::npos)
        << child.Output();
  }
}

const std::vector<std::string> kMonitoring{"monitoring", "--simulate"};
// Nobody answers at the first 199 addresses: every probe waits its second.
const std::vector<std::string> kSearch{"search", "--simulate", "--sim-address", "200"};
const std::vector<std::string> kLogRead{"log", "--simulate", "--sim-log", "2000"};
// Monitoring with a message box over the window: the box closes first.
const std::vector<std::string> kBoxOver{"box", "--simulate"};
const std::vector<std::string> kTracedMonitoring{"monitoring", "--simulate", "--trace"};

INSTANTIATE_TEST_SUITE_P(
    Activities, SignalEndTest,
    ::testing::Values(EndCase{"MonitoringTerm", kMonitoring, SIGTERM, false},
                      EndCase{"MonitoringCtrlC", kMonitoring, SIGINT, true},
                      EndCase{"MonitoringHangUp", kMonitoring, SIGHUP, false},
                      EndCase{"SearchTerm", kSearch, SIGTERM, false},
                      EndCase{"SearchCtrlC", kSearch, SIGINT, true},
                      EndCase{"SearchHangUp", kSearch, SIGHUP, false},
                      EndCase{"LogReadTerm", kLogRead, SIGTERM, false},
                      EndCase{"LogReadCtrlC", kLogRead, SIGINT, true},
                      EndCase{"LogReadHangUp", kLogRead, SIGHUP, false},
                      EndCase{"BoxOverMonitoringTerm", kBoxOver, SIGTERM, false},
                      EndCase{"HangUpIgnoredByTheParentThenTerm", kTracedMonitoring, SIGTERM, false, SIGHUP}),
    [](const auto& info) { return std::string(info.param.name); });

// A signal that comes while the program waits in a system call (a read of
// the line, of a pipe) does not make the call fail: once the handler has
// noted the signal the call goes on and gets what it waited for.
TEST_F(SignalEndTest, ACaughtSignalDoesNotFailTheCallItInterrupts) {
  int data[2];
  ASSERT_EQ(pipe(data), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (!CSignalEnd::CatchSignals()) _exit(3);
    char byte = 0;
    const ssize_t n = read(data[0], &byte, 1);
    _exit(n == 1 ? 0 : errno == EINTR ? 1 : 2);
  }
  ASSERT_GT(child, 0);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kEndBoundMs);
  while (!InSystemCall(child, SYS_read) && Clock::now() < deadline) usleep(1000);
  kill(child, SIGTERM);
  while (SignalPending(child, SIGTERM) && Clock::now() < deadline) usleep(1000);
  EXPECT_EQ(write(data[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the read failed with EINTR";
  close(data[0]);
  close(data[1]);
}

class SecondSignalTest : public SignalEndTest {};

// The window's thread is held (a wedged exchange): the first signal cannot
// end the console through its window, the second of the same kind ends it
// at once.
TEST_P(SecondSignalTest, EndsAtOnce) {
  const EndCase& c = GetParam();
  ConsoleChild child(folder_, c.args);
  ASSERT_GT(child.Pid(), 0);
  ASSERT_TRUE(child.WaitFor("stuck", kStartBoundMs)) << child.Output();
  Send(child, c);
  // Two signals of a kind sent together are delivered as one.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kEndBoundMs);
  while (child.Pid() > 0 && SignalPending(child.Pid(), c.signo) && Clock::now() < deadline)
    usleep(10000);
  EXPECT_EQ(child.WaitForExit(200), -1) << "ended on the first signal while held";
  Send(child, c);
  EXPECT_EQ(child.WaitForExit(kEndBoundMs), 128 + c.signo) << child.Output();
}

const std::vector<std::string> kStuck{"stuck", "--simulate"};

INSTANTIATE_TEST_SUITE_P(Signals, SecondSignalTest,
                         ::testing::Values(EndCase{"Term", kStuck, SIGTERM, false},
                                           EndCase{"CtrlC", kStuck, SIGINT, true},
                                           EndCase{"HangUp", kStuck, SIGHUP, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
