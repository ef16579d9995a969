// The simulator's command line and its standard-input commands, and the
// stand-alone simulator as a process: its command input and its end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "command_input.h"
#include "command_interpreter.h"
#include "command_line.h"
#include "registers.h"

using namespace sim;

namespace {

bool Parse(std::vector<std::string> args, SimSettings& s, std::string& error) {
  args.insert(args.begin(), "qd7420-sim");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ParseCommandLine(static_cast<int>(args.size()), argv.data(), s, error);
}

TEST(SimCommandLine, GoodOptions) {
  SimSettings s;
  std::string error;
  // A station without a rate takes --baud's, given before it or after.
  ASSERT_TRUE(Parse({"--station", "17", "--address", "17", "--baud", "38400", "--station",
                     "5:1200", "--scenario", "leak",
                     "--position", "12.34", "--log", "30", "--fault", "late:3",
                     "--delay", "1500", "--paced", "--answer-all-bad-crc", "--turnaround", "20",
                     "--echo"},
                    s, error))
      << error;
  EXPECT_EQ(s.controller.address, 17);
  EXPECT_EQ(s.controller.baud, 38400);
  EXPECT_EQ(s.controller.scenario, Scenario::Leak);
  EXPECT_DOUBLE_EQ(s.controller.leakPositionM, 12.34);
  EXPECT_EQ(s.controller.prefillLog, 30);
  EXPECT_EQ(s.fault, Fault::Late);
  EXPECT_EQ(s.faultCount, 3);
  EXPECT_EQ(s.delayMs, 1500);
  EXPECT_TRUE(s.paced);
  EXPECT_TRUE(s.answerAllBadCrc);
  EXPECT_EQ(s.turnaroundMs, 20);
  EXPECT_TRUE(s.echo);
  ASSERT_EQ(s.stations.size(), 2u);
  EXPECT_EQ(s.stations[0].address, 17);
  EXPECT_EQ(s.stations[0].baud, 38400);
  EXPECT_EQ(s.stations[1].address, 5);
  EXPECT_EQ(s.stations[1].baud, 1200);

  SimSettings d;
  ASSERT_TRUE(Parse({"--fault=bad-crc", "--scenario=broken"}, d, error)) << error;
  EXPECT_EQ(d.fault, Fault::BadCrc);
  EXPECT_EQ(d.faultCount, -1);  // persistent
  EXPECT_EQ(d.controller.scenario, Scenario::Broken);
  EXPECT_EQ(d.controller.address, 1);
  EXPECT_EQ(d.controller.baud, 9600);
  EXPECT_FALSE(d.paced);
  EXPECT_FALSE(d.answerAllBadCrc);
  EXPECT_EQ(d.turnaroundMs, 0);
  EXPECT_FALSE(d.echo);
  EXPECT_TRUE(d.stations.empty());
}

TEST(SimCommandLine, BadOptionsAreRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"--address", "0"},      {"--address", "256"},   {"--address", "1x"},
      {"--baud", "1234"},      {"--baud", "0"},        {"--scenario", "flood"},
      {"--position", "-1"},    {"--position", "abc"},  {"--log", "-2"},
      {"--fault", "boom"},     {"--fault", "late:0"},  {"--fault", "late:x"},
      {"--delay", "-5"},       {"--bogus"},            {"stray"},
      {"--address"},           {"--turnaround", "-1"}, {"--turnaround", "60001"},
      {"--station", "0"},      {"--station", "256"},   {"--station", "17:1234"},
      {"--station", "17:"},    {"--station", "x"},     {"--station", ":9600"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    SimSettings s;
    std::string error;
    EXPECT_FALSE(Parse(args, s, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimCommands, ChangeTheRunningDevice) {
  PtyServer server;
  CommandInterpreter commands(server);
  Controller& device = server.Device();
  EXPECT_EQ(commands.Execute("leak 12.34"), "leak at 12.34 m");
  EXPECT_EQ(device.Register(REG_LEAK_POSITION), 1234);
  EXPECT_EQ(commands.Execute("break"), "broken cable at 0.00 m");
  EXPECT_EQ(device.Register(REG_ALARM_STATUS), 2);
  EXPECT_EQ(commands.Execute("clear"), "no alarm");
  EXPECT_EQ(device.Register(REG_ALARM_STATUS), 0);
  // The leak and the break logged two entries: log N sets, it does not add.
  EXPECT_EQ(commands.Execute("log 5"), "log holds 5 entries");
  EXPECT_EQ(commands.Execute("log 3"), "log holds 3 entries");
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 3);
  EXPECT_EQ(commands.Execute("fault late 3"), "fault late on the next 3");
  EXPECT_EQ(commands.Execute("fault none"), "no faults");
  EXPECT_EQ(commands.Execute("paced on"), "pacing on");
  EXPECT_NE(commands.Execute("status").find("address 1, baud 9600"), std::string::npos);
  EXPECT_EQ(commands.Execute("status").find("echo"), std::string::npos);
  EXPECT_EQ(commands.Execute("echo on"), "echo on");
  EXPECT_TRUE(server.Echo());
  EXPECT_NE(commands.Execute("status").find(", echo on"), std::string::npos);
  EXPECT_EQ(commands.Execute("echo off"), "echo off");
  EXPECT_FALSE(server.Echo());
  EXPECT_EQ(commands.Execute("status").find("stations"), std::string::npos);
  server.AddStation({17, 9600});
  server.AddStation({3, 38400});
  EXPECT_NE(commands.Execute("status").find(", stations 17@9600 3@38400"), std::string::npos);
}

TEST(SimCommands, MistakesAreAnsweredNotObeyed) {
  PtyServer server;
  CommandInterpreter commands(server);
  for (const char* line : {"leak", "leak -3", "leak 1 2", "log many", "fault boom",
                           "fault late 0", "paced maybe", "echo", "echo loud", "explode"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(commands.Execute(line).rfind("error:", 0), 0u);
  }
  EXPECT_EQ(server.Device().LogCount(), 0u);
  EXPECT_EQ(server.Device().Register(REG_ALARM_STATUS), 0);
}

struct InputCase {
  const char* name;
  std::vector<std::string> pieces;  // fed one after another
  std::vector<std::string> lines;   // handed on, in order
  int drops;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class CommandInputTest : public ::testing::TestWithParam<InputCase> {};

// Lines complete at their newline whatever the pieces; one longer than 4096
// bytes is dropped to its newline with one complaint, and what follows it
// still counts; nothing beyond the limit is ever held.
TEST_P(CommandInputTest, SplitsAndBoundsLines) {
  const InputCase& c = GetParam();
  std::vector<std::string> lines;
  int drops = 0;
  CommandInput input([&](const std::string& line) { lines.push_back(line); }, [&] { ++drops; });
  for (const std::string& piece : c.pieces) {
    input.Feed(piece.data(), piece.size());
    EXPECT_LE(input.Pending(), kMaxCommandLine);
  }
  EXPECT_EQ(lines, c.lines);
  EXPECT_EQ(drops, c.drops);
}

const std::string kLongest(kMaxCommandLine, 'x');

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandInputTest,
    ::testing::Values(
        InputCase{"InPieces", {"sta", "tus\nlo", "g 3\n"}, {"status", "log 3"}, 0},
        InputCase{"EmptyLine", {"\n\nhelp\n"}, {"", "", "help"}, 0},
        InputCase{"Unfinished", {"status"}, {}, 0},
        InputCase{"Longest", {kLongest + "\n"}, {kLongest}, 0},
        InputCase{"OneByteTooLong", {kLongest + "x\nstatus\n"}, {"status"}, 1},
        InputCase{"TooLongInPieces", {kLongest, "x", std::string(9000, 'y'), "\nhelp\n"}, {"help"}, 1},
        InputCase{"TwoTooLong", {kLongest + "x\n" + kLongest + "y\nclear\n"}, {"clear"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// The stand-alone simulator with its standard input and output on pipes.
class SimProcess {
 public:
  SimProcess() {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    char* const argv[] = {const_cast<char*>(QD7420_SIM_BINARY), nullptr};
    if (posix_spawn(&pid_, QD7420_SIM_BINARY, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
      if (fd >= 0) close(fd);
  }

  pid_t Pid() const { return pid_; }
  bool Write(const std::string& bytes) const {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // The next line of standard output, "" after `ms` without one.
  std::string ReadLine(int ms) { return ReadLineFrom(out_, outBuf_, ms); }
  std::string ReadErrorLine(int ms) { return ReadLineFrom(err_, errBuf_, ms); }

  // Its resident memory in kB (VmRSS), -1 when unknown.
  long RssKb() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string key; status >> key;) {
      if (key == "VmRSS:") {
        long kb = -1;
        status >> kb;
        return kb;
      }
    }
    return -1;
  }

  // The exit status after `signal`, or -1 when it did not end by itself.
  int EndWith(int signal) {
    if (pid_ <= 0) return -1;  // kill(-1, ...) would reach every process
    kill(pid_, signal);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 1000 && (ended = waitpid(pid_, &status, WNOHANG)) == 0; ++i) usleep(10000);
    if (ended != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  static std::string ReadLineFrom(int fd, std::string& buf, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const size_t eol = buf.find('\n');
      if (eol != std::string::npos) {
        std::string line = buf.substr(0, eol);
        buf.erase(0, eol + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[512];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) return {};
      buf.append(chunk, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outBuf_, errBuf_;
};

// A megabyte without a newline once held the simulator's whole input and
// was searched from its start at every read: its memory stays flat now, one
// complaint says the line went, and the next command is served.
TEST(SimProcessTest, OverlongLineIsDroppedAndTheNextCommandServed) {
  SimProcess sim;
  ASSERT_GT(sim.Pid(), 0);
  ASSERT_EQ(sim.ReadLine(10000).rfind("/dev/", 0), 0u) << "no device path printed";
  ASSERT_TRUE(sim.Write("status\n"));
  ASSERT_EQ(sim.ReadLine(10000).rfind("address 1", 0), 0u);
  const long before = sim.RssKb();
  ASSERT_GT(before, 0);
  ASSERT_TRUE(sim.Write(std::string(1 << 20, 'x')));
  ASSERT_TRUE(sim.Write("\nstatus\n"));
  EXPECT_EQ(sim.ReadLine(10000).rfind("address 1", 0), 0u) << "the command after it was lost";
  const long after = sim.RssKb();
  EXPECT_LT(after - before, 1024) << "resident memory grew from " << before << " to " << after << " kB";
  EXPECT_EQ(sim.ReadErrorLine(10000),
            "qd7420-sim: a command line longer than 4096 bytes was dropped");
  EXPECT_EQ(sim.ReadErrorLine(100), "") << "more than one complaint";
}

class SimEndTest : public ::testing::TestWithParam<int> {};

// Interrupted, terminated or hung up (its terminal closed), it ends at once
// and cleanly.
TEST_P(SimEndTest, EndsWithZero) {
  SimProcess sim;
  ASSERT_GT(sim.Pid(), 0);
  ASSERT_EQ(sim.ReadLine(10000).rfind("/dev/", 0), 0u);
  EXPECT_EQ(sim.EndWith(GetParam()), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, SimEndTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
