// Remote lines against Debian's ser2net on the loopback address, its serial
// side on the simulated controller's pty, and against servers that
// misbehave on purpose. Each test starts and stops its own servers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "line_servers.h"
#include "pty_server.h"
#include "registers.h"
#include "remote_line.h"

namespace {

using Clock = std::chrono::steady_clock;
using Mode = MisbehavingServer::Mode;

constexpr int kBaud = 9600;
constexpr int kLogEntries = 300;

// Why the last open failed, as the link tells it.
class OpenFailures {
 public:
  OpenFailures() {
    SetOpenFailureHook([this](const std::string&, const std::string& why) {
      std::lock_guard<std::mutex> lock(mutex_);
      last_ = why;
    });
  }
  ~OpenFailures() { SetOpenFailureHook({}); }
  std::string Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  std::mutex mutex_;
  std::string last_;
};

// One exchange; on refusal, what the wait and the read saw.
struct Outcome {
  bool accepted = false;
  uint32_t waited = 0;
  size_t read = 0;
  std::vector<uint8_t> reply;
};

Outcome Talk(HPORT port, const Frame& request, size_t replyLen, uint32_t pauseMs = 0) {
  Outcome o;
  SetTraceHook([&o](const TraceRecord& r) {
    o.waited = r.waited;
    o.read = r.reply.size();
  });
  o.reply.resize(replyLen);
  o.accepted = Exchange(port, request, o.reply.data(), replyLen, 1000, pauseMs);
  SetTraceHook(nullptr);
  return o;
}

std::string Counts(const Outcome& o) {
  return "waited " + std::to_string(o.waited) + ", read " + std::to_string(o.read);
}

bool Poll(HPORT port) {
  return Talk(port, BuildReadRequest(1, kMeasurementStatusBlock.first, kMeasurementStatusBlock.count),
             kMeasurementStatusBlock.replyLength, 50).accepted;
}

class RemoteLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Ser2Net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/setup.sh)";
    sim::ControllerOptions options;
    options.baud = kBaud;
    options.prefillLog = kLogEntries;
    sim_ = std::make_unique<sim::PtyServer>(options);
    ASSERT_TRUE(sim_->Start()) << std::strerror(errno);
    ser2net_ = std::make_unique<Ser2Net>(sim_->DevicePath());
    ASSERT_TRUE(ser2net_->Start()) << "ser2net did not come up";
  }
  void TearDown() override {
    CloseDevice(port_);
    ser2net_.reset();
    sim_.reset();
  }

  std::string PathOf(bool rfc2217) const {
    return rfc2217 ? ser2net_->Rfc2217Path() : ser2net_->RawPath();
  }

  std::unique_ptr<sim::PtyServer> sim_;
  std::unique_ptr<Ser2Net> ser2net_;
  HPORT port_ = nullptr;
};

// --- The commands' traffic through ser2net --------------------------------------

// Every kind of line runs the same exchanges: the simulator's pty opened
// directly, and the same pty behind ser2net, raw and RFC 2217.
struct LineCase {
  const char* name;
  bool rfc2217;
  bool trickle;  // through a proxy that sends every reply byte in a segment of its own
  bool local = false;  // the pty itself, no server between
  uint32_t marginMs = 50;  // loopback: the network's 50 ms floor
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

const LineCase kLines[] = {
    {"Raw", false, false},
    {"Rfc2217", true, false},
    {"RawOneBytePerSegment", false, true},
    {"Rfc2217OneBytePerSegment", true, true},
    {"LocalPty", false, false, true, 0},
};

class ThroughSer2Net : public RemoteLineTest, public ::testing::WithParamInterface<LineCase> {
 protected:
  void SetUp() override {
    RemoteLineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const LineCase& c = GetParam();
    std::string path = c.local ? sim_->DevicePath() : PathOf(c.rfc2217);
    if (c.trickle) {
      proxy_ = std::make_unique<MisbehavingServer>(
          Mode::Trickle, c.rfc2217 ? ser2net_->Rfc2217Port() : ser2net_->RawPort());
      path = proxy_->Path(c.rfc2217 ? "rfc2217" : "tcp");
    }
    OpenFailures failures;
    port_ = OpenDevice(path, kBaud);
    ASSERT_NE(port_, nullptr) << path << ": " << failures.Last();
  }
  void TearDown() override {
    CloseDevice(port_);
    port_ = nullptr;
    proxy_.reset();
    RemoteLineTest::TearDown();
  }
  std::unique_ptr<MisbehavingServer> proxy_;
};

TEST_P(ThroughSer2Net, SetAndReadIncludingIacBytesBothWays) {
  EXPECT_EQ(PortNetworkMarginMs(port_), GetParam().marginMs);
  // 0xFFFF: two IAC bytes in the request and in both replies; 0x0D0A: a
  // CR LF, which Telnet outside binary mode would rewrite.
  for (uint16_t value : {uint16_t{0xFFFF}, uint16_t{12345}, uint16_t{0x00FF}, uint16_t{0x0D0A},
                         uint16_t{0x0D00}}) {
    const Outcome set = Talk(port_, BuildWriteRequest(1, REG_LINE_LENGTH, value), kWriteReplyLength);
    ASSERT_TRUE(set.accepted) << value << ": " << Counts(set);
    const Outcome read = Talk(port_, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1));
    ASSERT_TRUE(read.accepted) << value << ": " << Counts(read);
    EXPECT_EQ(GetU16(read.reply.data() + 3), value);
  }
}

TEST_P(ThroughSer2Net, MonitoringTicksOnOneConnection) {
  for (int tick = 0; tick < 4; ++tick) EXPECT_TRUE(Poll(port_)) << "tick " << tick;
}

TEST_P(ThroughSer2Net, LogOf300EntriesInPages) {
  int pages = 0;
  for (int first = 0; first < kLogEntries; first += kLogEntriesPerRequest, ++pages) {
    const int entries = std::min<int>(kLogEntriesPerRequest, kLogEntries - first);
    const Frame request = BuildReadFileRecordRequest(
        1, kLogFileNumber, static_cast<uint16_t>(first * kLogEntryRegisters),
        static_cast<uint16_t>(entries * kLogEntryRegisters));
    const Outcome page = Talk(port_, request, FileRecordReplyLength(entries), 50);
    ASSERT_TRUE(page.accepted) << "page " << pages << ": " << Counts(page) << " requests seen "
                               << sim_->Requests().size() << " last size "
                               << (sim_->Requests().empty() ? 0 : sim_->Requests().back().bytes.size());
  }
  EXPECT_EQ(pages, 13);
}

INSTANTIATE_TEST_SUITE_P(EveryLine, ThroughSer2Net, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The line's speed ---------------------------------------------------------------

// RFC 2217 sets the pty's speed, so the simulator answers only at its own
// rate; a raw line keeps the server's 9600 whatever the window chose.
TEST_F(RemoteLineTest, TheRateReachesThePtyOnlyOverRfc2217) {
  const struct {
    bool rfc2217;
    int baud;
    int lineBaud;
    bool answers;
  } cases[] = {
      {false, 19200, 9600, true},
      {true, 19200, 19200, false}, {true, 9600, 9600, true}, {true, 38400, 38400, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rfc2217 ? "rfc2217 " : "raw ") + std::to_string(c.baud));
    OpenFailures failures;
    HPORT port = OpenDevice(PathOf(c.rfc2217), c.baud);
    ASSERT_NE(port, nullptr) << failures.Last();
    EXPECT_EQ(sim_->LineBaud(), c.lineBaud);
    const Outcome o = Talk(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1));
    EXPECT_EQ(o.accepted, c.answers) << Counts(o);
    if (!c.answers) {
      EXPECT_EQ(o.waited, 0u);
    }
    CloseDevice(port);
  }
  EXPECT_TRUE(LineSetsBaud(PathOf(true)));
  EXPECT_FALSE(LineSetsBaud(PathOf(false)));
}

// "修改" to 19200 over RFC 2217, then the next command at 19200.
TEST_F(RemoteLineTest, BaudChangeThenReadAtTheNewRate) {
  port_ = OpenDevice(PathOf(true), kBaud);
  ASSERT_NE(port_, nullptr);
  const uint8_t data[6] = {0x00, 0x01, 0x00, 0x00, 0x4B, 0x00};  // address 1, 19200
  const Outcome change = Talk(port_, BuildWriteMultipleRequest(1, REG_STATION_ADDRESS, 3, data),
                             kWriteReplyLength);
  ASSERT_TRUE(change.accepted) << Counts(change);
  CloseDevice(port_);
  port_ = OpenDevice(PathOf(true), 19200);
  ASSERT_NE(port_, nullptr);
  const Outcome read = Talk(port_, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1));
  EXPECT_TRUE(read.accepted) << Counts(read);
}

// --- Faults -------------------------------------------------------------------------------

// A listener whose accept queue one connection fills: the kernel drops
// every further SYN, so a connect to it hangs until its time-out.
class FullListener {
 public:
  FullListener() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener_, 0) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      port_ = ntohs(a.sin_port);
      filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
  }
  ~FullListener() {
    close(filler_);
    close(listener_);
  }
  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

TEST(RemoteLineOpen, ConnectGivesUpAfterThreeSeconds) {
  OpenFailures failures;
  FullListener full;
  ASSERT_NE(full.Port(), 0);
  const auto start = Clock::now();
  EXPECT_EQ(OpenDevice("tcp://127.0.0.1:" + std::to_string(full.Port()), kBaud), nullptr);
  const auto took = Clock::now() - start;
  EXPECT_EQ(failures.Last(), "无法连接 127.0.0.1:" + std::to_string(full.Port()) + "：Connection timed out");
  EXPECT_GE(took, std::chrono::milliseconds(2900));
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(RemoteLineOpen, RefusedWithItsCause) {
  OpenFailures failures;
  MisbehavingServer silent(Mode::Silent);
  MisbehavingServer refuser(Mode::BaudRefuser);
  MisbehavingServer hangup(Mode::Hangup);
  const int nobody = FreeLoopbackPort();
  const std::string nobodyAt = "无法连接 127.0.0.1:" + std::to_string(nobody) + "：";
  const struct {
    std::string path;
    std::string why;
  } cases[] = {
      {"tcp://127.0.0.1:" + std::to_string(nobody), nobodyAt + "Connection refused"},
      {"rfc2217://127.0.0.1:" + std::to_string(nobody), nobodyAt + "Connection refused"},
      {refuser.Path("rfc2217"),
       "无法连接 127.0.0.1:" + std::to_string(refuser.Port()) + "：服务器不接受波特率9600（回复1200）"},
      // Turned away at every try: the open gives up within its 3 s.
      {hangup.Path("rfc2217"),
       "无法连接 127.0.0.1:" + std::to_string(hangup.Port()) + "：服务器断开了连接"},
      {silent.Path("rfc2217"),
       "无法连接 127.0.0.1:" + std::to_string(silent.Port()) + "：服务器没有回应串口设置（RFC 2217）"},
  };
  for (const auto& c : cases) {
    const auto start = Clock::now();
    EXPECT_EQ(OpenDevice(c.path, kBaud), nullptr) << c.path;
    EXPECT_EQ(failures.Last(), c.why);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "the open is bounded";
  }
}

TEST(RemoteLineOpen, PathsThatAreRemoteLines) {
  const struct {
    const char* path;
    bool remote, setsBaud;
  } cases[] = {
      {"tcp://127.0.0.1:4001", true, false},   {"rfc2217://host.example:2217", true, true},
      {"rfc2217://[::1]:2217", true, true},    {"/dev/ttyUSB0", false, true},
      {"tcp://127.0.0.1", false, true},        {"tcp://127.0.0.1:0", false, true},
      {"tcp://127.0.0.1:65536", false, true},  {"udp://127.0.0.1:4001", false, true},
      {"tcp://:4001", false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRemotePath(c.path), c.remote) << c.path;
    EXPECT_EQ(LineSetsBaud(c.path), c.setsBaud) << c.path;
  }
}

// A server that takes the connection and never says a word: every exchange
// times out having waited for nothing, and none holds the caller for long.
TEST(RemoteLineOpen, ServerThatNeverAnswers) {
  MisbehavingServer silent(Mode::Silent);
  HPORT port = OpenDevice(silent.Path("tcp"), kBaud);
  ASSERT_NE(port, nullptr);
  for (int i = 0; i < 2; ++i) {
    const auto start = Clock::now();
    const Outcome o = Talk(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1));
    EXPECT_FALSE(o.accepted);
    EXPECT_EQ(o.waited, 0u);
    EXPECT_EQ(o.read, 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  }
  CloseDevice(port);
}

// ser2net stopped under a running monitoring and started again: the polls
// fail while it is gone and succeed again without a new open.
TEST_F(RemoteLineTest, ServerStoppedAndStartedDuringMonitoring) {
  for (bool rfc2217 : {false, true}) {
    SCOPED_TRACE(rfc2217 ? "rfc2217" : "raw");
    OpenFailures failures;
    HPORT port = OpenDevice(PathOf(rfc2217), kBaud);
    ASSERT_NE(port, nullptr) << failures.Last();
    EXPECT_TRUE(Poll(port));
    ser2net_->Stop();
    for (int tick = 0; tick < 3; ++tick) EXPECT_FALSE(Poll(port)) << "tick " << tick;
    ASSERT_TRUE(ser2net_->Start());
    int failed = 0;
    while (!Poll(port) && failed < 20) {
      ++failed;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_LT(failed, 20) << "monitoring came back by itself";
    for (int tick = 0; tick < 3; ++tick) EXPECT_TRUE(Poll(port)) << "after the restart, tick " << tick;
    CloseDevice(port);
  }
}

}  // namespace
