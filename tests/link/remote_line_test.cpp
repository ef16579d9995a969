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
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "exchange_worker.h"
#include "name_lookup.h"
#include "open_failure.h"
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

// The read takes exactly the count asked, no byte more or less, and leaves
// the rest for the next one.
TEST_P(ThroughSer2Net, ReadTakesExactlyTheCountAsked) {
  const Frame request = BuildReadRequest(1, REG_LINE_LENGTH, 1);
  PurgePort(port_);
  ASSERT_EQ(WritePort(port_, request.data(), request.size), request.size);
  ASSERT_EQ(WaitForBytes(port_, ReadReplyLength(1), 2000), ReadReplyLength(1));
  uint8_t reply[ReadReplyLength(1) + 1] = {};
  EXPECT_EQ(ReadPort(port_, reply, 3), 3u);
  EXPECT_EQ(WaitForBytes(port_, 1, 0), ReadReplyLength(1) - 3);
  EXPECT_EQ(ReadPort(port_, reply + 3, ReadReplyLength(1) - 3), ReadReplyLength(1) - 3);
  EXPECT_EQ(ReadPort(port_, reply + ReadReplyLength(1), 1), 0u);
  EXPECT_EQ(Crc16(reply, ReadReplyLength(1) - 2),
            reply[ReadReplyLength(1) - 2] << 8 | reply[ReadReplyLength(1) - 1]);
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

// The rate changed on the open line: RFC 2217 sets the pty to it on the
// same connection; a raw line keeps its server's rate.
TEST_F(RemoteLineTest, RateChangedOnTheOpenConnection) {
  for (bool rfc2217 : {false, true}) {
    SCOPED_TRACE(rfc2217 ? "rfc2217" : "raw");
    HPORT port = OpenDevice(PathOf(rfc2217), kBaud);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(SetPortBaud(port, 19200));
    EXPECT_EQ(PortBaud(port), 19200);
    EXPECT_EQ(sim_->LineBaud(), rfc2217 ? 19200 : 9600);
    ASSERT_TRUE(SetPortBaud(port, kBaud));
    EXPECT_TRUE(Talk(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1)).accepted);
    EXPECT_FALSE(SetPortBaud(port, 1234)) << "no such rate";
    CloseDevice(port);
  }
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
      {"tcp://127.0.0.1:65535", true, false},  {"rfc2217://127.0.0.1:65535", true, true},
      {"rfc2217://127.0.0.1:65536", false, true}, {"tcp://127.0.0.1:1", true, false},
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

// --- Servers that misbehave on purpose -------------------------------------------------

// The open's one deadline, and an exchange's: its reply wait, then the
// settling of a line that never falls silent (the reply's wire time, 100 ms
// and the network's margin); each with 0.2 s to spare.
constexpr auto kOpenBound = std::chrono::milliseconds(3000 + 200);
const auto kExchangeBound = std::chrono::milliseconds(
    ReplyTimeout(kBaud, 8, ReadReplyLength(1), 1000, 50) + 8 + 100 + 50 + 200);
constexpr long kGrowthBoundKb = 8 * 1024;

// A field of /proc/self/status, in kB.
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return 0;
}

// Peak memory from here on: the kernel's high-water mark, reset.
long ResetPeakKb() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKb("VmRSS");
}

struct HostileCase {
  const char* name;
  Mode mode;
  const char* scheme;
  bool opens;         // the open succeeds; two exchanges follow it
  const char* cause;  // in the open's refusal
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

const HostileCase kHostile[] = {
    {"OptionFloodThatNeverReads", Mode::OptionFlood, "rfc2217", false, "服务器不停发送数据"},
    {"LineBytesFloodBeforeTheConfirmation", Mode::LineFlood, "rfc2217", false, "服务器不停发送数据"},
    {"LineBytesFloodOnARawLine", Mode::LineFlood, "tcp", true, ""},
    {"BinaryRefusedBothWays", Mode::BinaryRefuser, "rfc2217", false, "服务器不接受二进制传输"},
    {"BinaryRefusedToUs", Mode::BinaryRefuserIn, "rfc2217", false, "服务器不接受二进制传输"},
    {"BinaryRefusedFromUs", Mode::BinaryRefuserOut, "rfc2217", false, "服务器不接受二进制传输"},
    {"Silence", Mode::Silent, "rfc2217", false, "服务器没有回应串口设置（RFC 2217）"},
    {"CloseMidNegotiation", Mode::HangupMidNegotiation, "rfc2217", false, "服务器断开了连接"},
    {"ResetMidReply", Mode::ResetMidReply, "tcp", true, ""},
    {"SlowDrip", Mode::SlowDrip, "tcp", true, ""},
    {"DontComPortIsARefusal", Mode::DontComPort, "rfc2217", false, "服务器不支持RFC 2217串口控制"},
    {"WontComPortIsNoRefusal", Mode::WontComPort, "rfc2217", true, ""},
    {"ServerThatDidNotConfirm8N1", Mode::Not8N1, "rfc2217", false, "服务器不接受8N1"},
};

class HostileServer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileServer, EndsWithinItsBoundsAndNamesTheCause) {
  const HostileCase& c = GetParam();
  MisbehavingServer server(c.mode);
  OpenFailures failures;
  const long before = ResetPeakKb();
  auto start = Clock::now();
  HPORT port = OpenDevice(server.Path(c.scheme), kBaud);
  EXPECT_LT(Clock::now() - start, kOpenBound);
  EXPECT_EQ(port != nullptr, c.opens) << failures.Last();
  if (port == nullptr) {
    EXPECT_NE(LastOpenFailure().detail.find(c.cause), std::string::npos) << LastOpenFailure().detail;
    EXPECT_EQ(LastOpenFailure().cause, OpenCause::Unreachable);
  }
  for (int i = 0; port != nullptr && i < 2; ++i) {
    start = Clock::now();
    Talk(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1));
    EXPECT_LT(Clock::now() - start, kExchangeBound) << "exchange " << i;
  }
  EXPECT_LT(StatusKb("VmHWM") - before, kGrowthBoundKb);
  CloseDevice(port);
}

INSTANTIATE_TEST_SUITE_P(EveryBehaviour, HostileServer, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

// Called off while it waits on a remote line, an exchange ends at once.
TEST(RemoteLineOpen, CallOffEndsAnyRemoteWait) {
  const struct {
    const char* name;
    Mode mode;
  } cases[] = {{"reply wait on a silent server", Mode::Silent},
               {"settling a line that never falls silent", Mode::SlowDrip}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MisbehavingServer server(c.mode);
    HPORT port = OpenDevice(server.Path("tcp"), kBaud);
    ASSERT_NE(port, nullptr);
    ExchangeWorker worker;
    ASSERT_TRUE(worker.Start(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1),
                             20000, 0, {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    worker.Cancel();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_FALSE(worker.Take().has_value());
    CloseDevice(port);
  }
}

// A resolver that blocks until the test ends, in place of one whose
// queries are dropped; and one that counts its lookups. What they share
// outlives the test: a blocked lookup wakes after it.
class Resolvers {
 public:
  ~Resolvers() {
    Release();
    SetNameResolver({});
    ForgetNames();
  }
  void Block() {
    SetNameResolver([shared = shared_](const std::string&, const std::string&) {
      std::unique_lock<std::mutex> lock(shared->mutex);
      shared->released.wait(lock, [&] { return shared->free; });
      return Resolved{{}, "released"};
    });
  }
  void Count(int port) {
    SetNameResolver([shared = shared_, port](const std::string&, const std::string&) {
      std::lock_guard<std::mutex> lock(shared->mutex);
      ++shared->lookups;
      Endpoint e;
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      std::memcpy(&e.address, &a, sizeof a);
      e.family = AF_INET;
      e.length = sizeof a;
      return Resolved{{e}, ""};
    });
  }
  int Lookups() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->lookups;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->free = true;
    shared_->released.notify_all();
  }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable released;
    bool free = false;
    int lookups = 0;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

TEST(RemoteLineOpen, NameThatIsNotResolvedInTime) {
  Resolvers resolvers;
  resolvers.Block();
  const auto start = Clock::now();
  EXPECT_EQ(OpenDevice("tcp://controller.invalid:4001", kBaud), nullptr);
  EXPECT_LT(Clock::now() - start, kOpenBound);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2900));
  EXPECT_EQ(LastOpenFailure().detail, "无法解析主机名 controller.invalid");
}

TEST(RemoteLineOpen, NameLookedUpOncePerSession) {
  MisbehavingServer server(Mode::Silent);
  Resolvers resolvers;
  resolvers.Count(server.Port());
  for (int i = 0; i < 3; ++i) {
    HPORT port = OpenDevice("tcp://controller.invalid:" + std::to_string(server.Port()), kBaud);
    EXPECT_NE(port, nullptr) << i;
    CloseDevice(port);
  }
  EXPECT_EQ(resolvers.Lookups(), 1);
}

// What the line does around a purge and a reconnect, on both kinds.
TEST(RemoteLineOpen, PurgeAndReconnect) {
  const struct {
    const char* name;
    Mode mode;
    const char* scheme;
  } cases[] = {
      {"a purge drops the bytes the socket still held, raw", Mode::Answering, "tcp"},
      {"a purge drops the bytes the socket still held, rfc2217", Mode::Answering, "rfc2217"},
      {"a reconnect settles before the next request, raw", Mode::AnsweringOnce, "tcp"},
      {"a reconnect settles before the next request, rfc2217", Mode::AnsweringOnce, "rfc2217"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MisbehavingServer server(c.mode);
    HPORT port = OpenDevice(server.Path(c.scheme), kBaud);
    ASSERT_NE(port, nullptr);
    for (int i = 0; i < 2; ++i) {
      // The server's greeting has landed in the socket by now; after a
      // reconnect, the spacing of its attempts has passed.
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      const Outcome o = Talk(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), ReadReplyLength(1));
      ASSERT_TRUE(o.accepted) << "exchange " << i << ": " << Counts(o);
      EXPECT_EQ(GetU16(o.reply.data() + 3), MisbehavingServer::kAnsweredValue);
    }
    EXPECT_EQ(server.Accepted(), c.mode == Mode::AnsweringOnce ? 2 : 1);
    CloseDevice(port);
  }
}

// A server that hangs up on every connection: the purges before requests
// try it again only every half second, and a request that could not be
// handed to the line is traced as never sent.
TEST(RemoteLineOpen, DeadServerIsNotHammered) {
  MisbehavingServer server(Mode::Hangup);
  HPORT port = OpenDevice(server.Path("tcp"), kBaud);
  ASSERT_NE(port, nullptr);
  const auto start = Clock::now();
  while (Clock::now() - start < std::chrono::milliseconds(1200)) {
    PurgePort(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(server.Accepted(), 2);
  EXPECT_LE(server.Accepted(), 4);
  bool sent = true;
  SetTraceHook([&sent](const TraceRecord& r) { sent = r.sent; });
  uint8_t reply[ReadReplyLength(1)];
  EXPECT_FALSE(Exchange(port, BuildReadRequest(1, REG_LINE_LENGTH, 1), reply, sizeof reply));
  SetTraceHook(nullptr);
  EXPECT_FALSE(sent);
  CloseDevice(port);
}

}  // namespace
