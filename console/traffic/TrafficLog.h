// Every exchange of the run, for the traffic window: a ring of the latest
// records with running counters. Exchanges are recorded from whichever
// thread runs them (the window's, the search worker's); the window reads
// from its own. Nothing here knows of the window: with no notifier set a
// record costs one copy under a lock.
//
// The ring is allocated whole when the log is made, its records of fixed
// size: recording never allocates, and the console's memory stays the
// same from the first exchange to the millionth.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "exchange.h"

// One exchange as the log keeps it. Frames longer than a record holds
// (none that this console sends or awaits) keep their first bytes.
struct TrafficRecord {
  static constexpr size_t kMaxBytes = kMaxFrameBytes;

  std::chrono::system_clock::time_point when;
  double roundTripMs = 0;
  int baud = 0;
  uint16_t device = 0;  // CTrafficLog::DeviceName
  uint16_t requestSize = 0, replySize = 0;
  ExchangeOutcome outcome = ExchangeOutcome::NoReply;
  uint8_t exceptionCode = 0;
  bool echoed = false;  // the adapter's echo came ahead of the reply and was dropped
  std::array<uint8_t, kMaxBytes> request{}, reply{};

  std::vector<uint8_t> Request() const { return {request.begin(), request.begin() + requestSize}; }
  std::vector<uint8_t> Reply() const { return {reply.begin(), reply.begin() + replySize}; }
};

struct TrafficCounters {
  std::array<uint64_t, kExchangeOutcomes> byOutcome{};  // indexed by ExchangeOutcome
  uint64_t echoes = 0;  // exchanges whose request the adapter echoed
  uint64_t timed = 0;  // exchanges that brought a reply: the round trips below
  double minMs = 0, maxMs = 0, sumMs = 0;
  uint64_t Count(ExchangeOutcome outcome) const { return byOutcome[static_cast<size_t>(outcome)]; }
  double MeanMs() const { return timed ? sumMs / static_cast<double>(timed) : 0; }
};

// The sequence numbers of the records kept: [first, next).
struct TrafficRange {
  uint64_t first = 1, next = 1;
  uint64_t Size() const { return next - first; }
};

class CTrafficLog {
 public:
  static constexpr size_t kCapacity = 10000;

  explicit CTrafficLog(size_t capacity = kCapacity);
  CTrafficLog(const CTrafficLog&) = delete;
  CTrafficLog& operator=(const CTrafficLog&) = delete;

  // The run's log, which the exchange hook feeds.
  static CTrafficLog& Process();

  // Any thread. The oldest record drops off once the ring is full.
  void Record(const TraceRecord& record);
  // The sequence numbers kept (from 1, never reused in a run); re-arms the
  // notifier.
  TrafficRange Range();
  // A copy of the record numbered `sequence`; false once it has dropped off.
  bool Get(uint64_t sequence, TrafficRecord& record) const;
  // The device of a record.
  std::string DeviceName(uint16_t device) const;
  // Forgets every record and counter (sequence numbers go on).
  void Clear();
  TrafficCounters Counters() const;
  size_t Size() const;

  // `notify` is called on the recording thread after a record, once until
  // the next Range(); empty removes it. It must only post, never block.
  void SetNotifier(std::function<void()> notify);

 private:
  uint16_t DeviceIndex(const std::string& device);  // under the lock

  mutable std::mutex m_mutex;
  std::vector<TrafficRecord> m_ring;  // sequence s in slot (s - 1) % size
  TrafficRange m_range;
  // The devices named so far: a handful in a run, each kept once.
  std::vector<std::string> m_devices;
  TrafficCounters m_counters;
  std::function<void()> m_notify;
  bool m_notified = false;  // a notification is on its way and not yet read
};
