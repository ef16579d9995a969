// One parameter search: which probes it makes in which order, how long each
// probe waits for its reply, and how far the search has got with an
// estimate of the time left, from the probes' measured durations.
//
// The window makes the plan when the search starts and reads its progress;
// the worker reports each probe's start and end. Both sides may do so at
// the same time: the progress is kept under the plan's own lock.
#pragma once

#include <QString>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

// The order in which the rates of one address are tried, and the positions
// of the same rates in the baud-rate list 1002.
inline constexpr int kSearchRates[] = {1200, 2400, 4800, 9600, 19200, 38400};
inline constexpr size_t kSearchRateCount = std::size(kSearchRates);
inline constexpr int kSearchFirstAddress = 1;  // 0 is the broadcast address: nobody answers it
inline constexpr int kSearchLastAddress = 255;

// The quick search's turnaround budget: the time a controller may take from
// the request's last byte to the first byte of its reply.
inline constexpr uint32_t kDefaultSearchTurnaroundMs = 50;
inline constexpr uint32_t kMinSearchTurnaroundMs = 10;
inline constexpr uint32_t kMaxSearchTurnaroundMs = 1000;
// What the host itself may add to a short wait: a poll that wakes late on a
// loaded machine. An adapter's latency timer comes on top.
inline constexpr uint32_t kHostLatencyMs = 4;
// The normal search's probe waits as every command does.
inline constexpr uint32_t kNormalProbeTimeoutMs = 1000;

// The probe's request (a one-register read) and reply lengths on the wire.
inline constexpr size_t kProbeRequestBytes = 8;
inline constexpr size_t kProbeReplyBytes = 7;

class CSearchPlan {
 public:
  using Clock = std::chrono::steady_clock;

  struct Settings {
    std::array<bool, kSearchRateCount> ticked{};  // in the order of kSearchRates
    bool quick = false;
    uint32_t turnaroundMs = kDefaultSearchTurnaroundMs;
    uint32_t adapterLatencyMs = 0;  // AdapterLatencyMs of the searched device
    int extraProbes = 0;  // made ahead of the sweep at a rate it does not tick
  };

  // What the window shows of a search.
  struct Progress {
    bool started = false;   // the first probe has begun
    bool finished = false;  // the worker has ended
    int number = 0;        // the probe under way (or last made), from 1
    int total = 0;
    int baud = 0;          // of that probe
    int address = 0;
    int64_t leftMs = -1;   // the estimate, -1 before the first probe
  };

  explicit CSearchPlan(const Settings& settings);

  bool Quick() const { return m_settings.quick; }
  // Ticked rates times 255 addresses, and the extra probes.
  int Total() const { return m_nTotal; }
  // The reply wait of a probe at `baud`, and the silence the line must keep
  // after a refused probe that got no byte (none after a quick probe).
  uint32_t WaitMs(int baud) const;
  uint32_t QuietMs() const;

  // The worker: a probe begins (before the port is opened) and has ended
  // (after it is closed); the search is over.
  void ProbeStarted(int baud, int address);
  void ProbeEnded();
  void Finished();

  Progress Now() const;
  // The number (from 1) of the probe at `baud` and `address` in the order
  // the search makes them; 0 for a rate it does not try.
  int NumberOf(int baud, int address) const;

 private:
  static int RateIndex(int baud);
  // How long a probe at rate `i` is expected to take.
  double ExpectedMs(size_t i) const;
  // The probes at each rate still to come after the one under way.
  std::array<int, kSearchRateCount> Remaining() const;

  const Settings m_settings;
  int m_nTotal = 0;

  mutable std::mutex m_mutex;
  bool m_bStarted = false;
  bool m_bFinished = false;
  int m_nNumber = 0;
  int m_nBaud = 0;
  int m_nAddress = 0;
  Clock::time_point m_probeStart;
  std::array<double, kSearchRateCount> m_spentMs{};  // measured, per rate
  std::array<int, kSearchRateCount> m_probes{};
};

// "第 97/1530 次，约剩 2 分 10 秒"; without an estimate the time is left out.
QString SearchProgressText(const CSearchPlan::Progress& progress);
// "2 分 10 秒", "45 秒" (whole seconds, rounded up).
QString TimeLeftText(int64_t ms);

// A probe's reply proves a controller at `address`: it passed the acceptance
// test as the register read's 7 bytes or as its 5-byte exception, and it
// names the probed station and function 0x03 (or 0x83).
bool IsProbeAnswer(int address, const uint8_t* reply, size_t read, uint32_t waited);

// What one probe heard at the probed address.
struct ProbeReply {
  enum Heard {
    kNothing,  // silence, noise, or another station's reply
    kAnswer,   // a controller at the address (IsProbeAnswer)
    // Bytes that name the probed station and the read (or its exception)
    // but fail the acceptance test: two controllers at one address whose
    // replies collide on the wire look like this.
    kGarbled,
  };
  Heard heard = kNothing;
  int value = -1;     // the register's value in a read's answer
  int exception = 0;  // the code of an exception answer
};
ProbeReply ClassifyProbeReply(int address, const uint8_t* reply, size_t read, uint32_t waited);
